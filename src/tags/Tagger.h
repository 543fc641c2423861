#pragma once
// TTagger: the common tag fields of the tag classes built on it.
#include <cstdint>
#include <string>

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

class TTagger {
 public:
  bool Exists() const { return F.Exists; }
  const std::u16string& Title() const { return F.Title; }
  const std::u16string& Artist() const { return F.Artist; }
  const std::u16string& Album() const { return F.Album; }
  const std::u16string& Year() const { return F.Year; }
  const std::u16string& Genre() const { return F.Genre; }
  const std::u16string& Comment() const { return F.Comment; }
  const std::u16string& Composer() const { return F.Composer; }
  uint16_t Track() const { return F.Track; }
  void SetTitle(std::u16string v) { F.Title = std::move(v); }
  void SetArtist(std::u16string v) { F.Artist = std::move(v); }
  void SetAlbum(std::u16string v) { F.Album = std::move(v); }
  void SetYear(std::u16string v) { F.Year = std::move(v); }
  void SetGenre(std::u16string v) { F.Genre = std::move(v); }
  void SetComment(std::u16string v) { F.Comment = std::move(v); }
  void SetComposer(std::u16string v) { F.Composer = std::move(v); }
  void SetTrack(uint16_t v) { F.Track = v; }

 protected:
  TaggerRecord F;
};

}  // namespace ordana
