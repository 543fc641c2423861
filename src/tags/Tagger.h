#pragma once
// TTagger: the common tag fields of the tag classes built on it.
#include <cstdint>
#include <string>

#include "tags/TextFields.h"

namespace ordana {

// The fields, as a plain record that a format's parser fills.
struct TaggerRecord {
  std::u16string Year;
  std::u16string Genre;
  std::u16string Comment;
  uint16_t Track = 0;
  std::u16string Composer;
  bool Exists = false;
  std::u16string Title;
  std::u16string Artist;
  std::u16string Album;
};

class TTagger : public TTextFields<TaggerRecord> {
 public:
  bool Exists() const { return F.Exists; }
  const std::u16string& Composer() const { return F.Composer; }
  uint16_t Track() const { return F.Track; }
  void SetComposer(std::u16string v) { F.Composer = std::move(v); }
  void SetTrack(uint16_t v) { F.Track = v; }
};

}  // namespace ordana
