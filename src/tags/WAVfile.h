#pragma once
// RIFF WAVE format header.
// (Minimal interface; the reader fills it in.)
#include <cstdint>
#include <string>

namespace ordana {

class TWAVfile {
 public:
  TWAVfile() { ResetData(); }
  void ResetData();
  bool ReadFromFile(const std::u16string& FileName);
  bool Valid() const { return FValid; }
  std::u16string ChannelMode() const { return u"Unknown"; }
  uint32_t SampleRate() const { return FSampleRate; }
  uint32_t BytesPerSecond() const { return FBytesPerSecond; }

 private:
  bool FValid = false;
  uint32_t FSampleRate = 0;
  uint32_t FBytesPerSecond = 0;
};

}  // namespace ordana
