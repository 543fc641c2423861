#pragma once
// ID3v1: the 128-byte tag at the end of a file, and the genre name table.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/TextCodec.h"

namespace ordana {

// The ID3v1 genre names, indices 0 to 147: the common list (0 to 79) with the
// Winamp extensions (80 to 147). 8-bit (ASCII) text.
inline constexpr int kGenreCount = 148;
extern const std::array<std::string_view, kGenreCount> GenreNames;

// Size of the tag block at the end of a file.
inline constexpr int kID3v1Size = 128;

class TID3v1 {
 public:
  TID3v1() { ResetData(); }
  void ResetData();
  // True when the file's last 128 bytes could be read, tag or not; whether
  // they are a tag is Exists(). Never throws.
  bool ReadFromFile(const std::u16string& FileName);

  bool Exists() const { return FExists; }
  uint8_t VersionID() const { return FVersionID; }  // 1: version 1.0, 2: version 1.1
  const AnsiString& Title() const { return FTitle; }
  const AnsiString& Artist() const { return FArtist; }
  const AnsiString& Album() const { return FAlbum; }
  const AnsiString& Year() const { return FYear; }
  const AnsiString& Comment() const { return FComment; }
  uint8_t Track() const { return FTrack; }
  uint8_t GenreID() const { return FGenreID; }
  // GenreNames[GenreID] when below 148, otherwise empty.
  AnsiString Genre() const;

  // Texts are stored without trailing characters up to 0x20.
  void SetTitle(const AnsiString& v);
  void SetArtist(const AnsiString& v);
  void SetAlbum(const AnsiString& v);
  void SetYear(const AnsiString& v);
  void SetComment(const AnsiString& v);
  void SetTrack(uint8_t v) { FTrack = v; }
  void SetGenreID(uint8_t v) { FGenreID = v; }

  // The 128-byte block of the fields as written.
  std::string Block() const;
  // Writes the block at the end of the file, over an old tag (in place) or
  // appended (the file is rewritten safely). False on any failure, the file
  // then unchanged; false for a file shorter than 128 bytes.
  bool SaveToFile(const std::u16string& FileName) const;
  // Removes a trailing tag (true, untouched, when there is none).
  bool RemoveFromFile(const std::u16string& FileName) const;

 private:
  bool FExists;
  uint8_t FVersionID;
  AnsiString FTitle;
  AnsiString FArtist;
  AnsiString FAlbum;
  AnsiString FYear;
  AnsiString FComment;
  uint8_t FTrack;
  uint8_t FGenreID;
};

}  // namespace ordana
