#pragma once
// ID3v1: the 128-byte tag at the end of a file, and the genre name table.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "bytes/ByteSource.h"
#include "platform/TextCodec.h"

namespace ordana {

// The ID3v1 genre names, indices 0 to 147: the common list (0 to 79) with the
// Winamp extensions (80 to 147). 8-bit (ASCII) text.
inline constexpr int kGenreCount = 148;
extern const std::array<std::string_view, kGenreCount> GenreNames;

// Size of the tag block at the end of a file.
inline constexpr int kID3v1Size = 128;

// The fields of a tag; the defaults are those of a file without one.
struct ID3v1Record {
  bool Exists = false;
  uint8_t VersionID = 1;  // 1: version 1.0, 2: version 1.1
  AnsiString Title;       // texts without their trailing padding
  AnsiString Artist;
  AnsiString Album;
  AnsiString Year;
  AnsiString Comment;
  uint8_t Track = 0;
  uint8_t GenreID = 255;
};

// The fields of a 128-byte block (Exists false when it does not begin with
// "TAG", the other fields then at their defaults).
ID3v1Record ParseID3v1(bytes::Span block);
// The tag in the last 128 bytes of a file. False when they cannot be read
// (a file shorter than 128 bytes), the record then at its defaults.
bool ParseID3v1(const bytes::ByteSource& file, ID3v1Record& tag);
// The 128-byte block of a record.
std::string RenderID3v1(const ID3v1Record& tag);

class TID3v1 {
 public:
  TID3v1() { ResetData(); }
  void ResetData() { F = ID3v1Record{}; }
  // True when the file's last 128 bytes could be read, tag or not; whether
  // they are a tag is Exists(). Never throws.
  bool ReadFromFile(const std::u16string& FileName);
  // The same over bytes already at hand.
  bool ReadFromSource(const bytes::ByteSource& Source) { return ParseID3v1(Source, F); }

  bool Exists() const { return F.Exists; }
  uint8_t VersionID() const { return F.VersionID; }  // 1: version 1.0, 2: version 1.1
  const AnsiString& Title() const { return F.Title; }
  const AnsiString& Artist() const { return F.Artist; }
  const AnsiString& Album() const { return F.Album; }
  const AnsiString& Year() const { return F.Year; }
  const AnsiString& Comment() const { return F.Comment; }
  uint8_t Track() const { return F.Track; }
  uint8_t GenreID() const { return F.GenreID; }
  // GenreNames[GenreID] when below 148, otherwise empty.
  AnsiString Genre() const;

  // Texts are stored without trailing characters up to 0x20.
  void SetTitle(const AnsiString& v);
  void SetArtist(const AnsiString& v);
  void SetAlbum(const AnsiString& v);
  void SetYear(const AnsiString& v);
  void SetComment(const AnsiString& v);
  void SetTrack(uint8_t v) { F.Track = v; }
  void SetGenreID(uint8_t v) { F.GenreID = v; }

  // The 128-byte block of the fields as written.
  std::string Block() const { return RenderID3v1(F); }
  // Writes the block at the end of the file, over an old tag (in place) or
  // appended (the file is rewritten safely). False on any failure, the file
  // then unchanged; false for a file shorter than 128 bytes.
  bool SaveToFile(const std::u16string& FileName) const;
  // Removes a trailing tag (true, untouched, when there is none).
  bool RemoveFromFile(const std::u16string& FileName) const;

 private:
  ID3v1Record F;
};

}  // namespace ordana
