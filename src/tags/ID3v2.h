#pragma once
// ID3v2: the tag at the start of a file (versions 2.2 to 2.4).
// (Minimal interface; the reader fills it in.)
#include <cstdint>
#include <string>

namespace ordana {

// Total size of a leading ID3v2 tag from the file's first 10 bytes: the four
// size bytes combined seven bits apiece as they stand (top bits not masked),
// plus 10, plus 10 more with the footer flag (0x10 in byte 5). 0 when the
// bytes do not begin with "ID3" or the result exceeds fileSize. Other readers
// skip a leading tag by this rule.
int32_t ID3v2TotalTagSize(const uint8_t header[10], int64_t fileSize);

class TID3v2 {
 public:
  TID3v2() { ResetData(); }
  void ResetData();
  bool ReadFromFile(const std::u16string& FileName);
  bool Exists() const { return FExists; }
  int32_t Size() const { return FSize; }

 private:
  bool FExists = false;
  int32_t FSize = 0;
};

}  // namespace ordana
