#pragma once
// WMA: the ASF Header Object and its objects.
// (Minimal interface; the reader fills it in.)
#include <cstdint>
#include <string>

#include "platform/TextCodec.h"

namespace ordana {

class TWMA {
 public:
  TWMA() { ResetData(); }
  void ResetData();
  bool LoadFromFile(const std::u16string& FileName);
  bool Valid() const { return FValid; }
  AnsiString ChannelMode() const { return "Unknown"; }
  int32_t BitRate() const { return FBitRate; }
  int32_t SampleRate() const { return FSampleRate; }
  const std::u16string& Title() const { return FTitle; }
  const std::u16string& Artist() const { return FArtist; }
  const std::u16string& Album() const { return FAlbum; }
  const std::u16string& Year() const { return FYear; }
  const std::u16string& Genre() const { return FGenre; }
  const std::u16string& Comment() const { return FComment; }

 private:
  bool FValid = false;
  int32_t FBitRate = 0;
  int32_t FSampleRate = 0;
  std::u16string FTitle, FArtist, FAlbum, FYear, FGenre, FComment;
};

}  // namespace ordana
