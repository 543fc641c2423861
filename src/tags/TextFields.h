#pragma once
// The text fields every tag class shows alike (title, artist, album, year,
// genre, comment), read and set on the class's own record F.
#include <string>
#include <utility>

namespace ordana {

template <class Record>
class TTextFields {
 public:
  const std::u16string& Title() const { return F.Title; }
  const std::u16string& Artist() const { return F.Artist; }
  const std::u16string& Album() const { return F.Album; }
  const std::u16string& Year() const { return F.Year; }
  const std::u16string& Genre() const { return F.Genre; }
  const std::u16string& Comment() const { return F.Comment; }
  void SetTitle(std::u16string v) { F.Title = std::move(v); }
  void SetArtist(std::u16string v) { F.Artist = std::move(v); }
  void SetAlbum(std::u16string v) { F.Album = std::move(v); }
  void SetYear(std::u16string v) { F.Year = std::move(v); }
  void SetGenre(std::u16string v) { F.Genre = std::move(v); }
  void SetComment(std::u16string v) { F.Comment = std::move(v); }

 protected:
  Record F;
};

}  // namespace ordana
