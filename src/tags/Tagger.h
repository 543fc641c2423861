#pragma once
// TTagger: the common tag fields of the tag classes built on it.
#include <cstdint>
#include <string>

namespace ordana {

class TTagger {
 public:
  bool Exists() const { return FExists; }
  const std::u16string& Title() const { return FTitle; }
  const std::u16string& Artist() const { return FArtist; }
  const std::u16string& Album() const { return FAlbum; }
  const std::u16string& Year() const { return FYear; }
  const std::u16string& Genre() const { return FGenre; }
  const std::u16string& Comment() const { return FComment; }
  const std::u16string& Composer() const { return FComposer; }
  uint16_t Track() const { return FTrack; }
  void SetTitle(std::u16string v) { FTitle = std::move(v); }
  void SetArtist(std::u16string v) { FArtist = std::move(v); }
  void SetAlbum(std::u16string v) { FAlbum = std::move(v); }
  void SetYear(std::u16string v) { FYear = std::move(v); }
  void SetGenre(std::u16string v) { FGenre = std::move(v); }
  void SetComment(std::u16string v) { FComment = std::move(v); }
  void SetComposer(std::u16string v) { FComposer = std::move(v); }
  void SetTrack(uint16_t v) { FTrack = v; }

 protected:
  std::u16string FYear;
  std::u16string FGenre;
  std::u16string FComment;
  uint16_t FTrack = 0;
  std::u16string FComposer;
  bool FExists = false;
  std::u16string FTitle;
  std::u16string FArtist;
  std::u16string FAlbum;
};

}  // namespace ordana
