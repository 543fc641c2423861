#pragma once
// FLAC: STREAMINFO and the VORBIS_COMMENT block.
// (Minimal interface; the reader fills it in.)
#include <cstdint>
#include <string>

namespace ordana {

class TFLACfile {
 public:
  TFLACfile() { ResetData(); }
  void ResetData();
  bool ReadFromFile(const std::u16string& FileName);
  bool Valid() const { return false; }
  uint8_t Channels() const { return FChannels; }
  int32_t SampleRate() const { return FSampleRate; }
  const std::u16string& Title() const { return FTitle; }
  const std::u16string& Artist() const { return FArtist; }
  const std::u16string& Album() const { return FAlbum; }
  const std::u16string& Year() const { return FYear; }
  const std::u16string& Genre() const { return FGenre; }
  const std::u16string& Comment() const { return FComment; }

 private:
  uint8_t FChannels = 0;
  int32_t FSampleRate = 0;
  std::u16string FTitle, FArtist, FAlbum, FYear, FGenre, FComment;
};

}  // namespace ordana
