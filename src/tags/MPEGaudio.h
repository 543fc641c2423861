#pragma once
// MPEG audio stream analysis (first frame, Xing/VBRI).
// (Minimal interface; the reader fills it in.)
#include <cstdint>
#include <string>

#include "platform/TextCodec.h"
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"

namespace ordana {

class TMPEGaudio {
 public:
  TMPEGaudio() { ResetData(); }
  void ResetData() { FID3v1.ResetData(), FID3v2.ResetData(); }
  bool ReadFromFile(const std::u16string& FileName);
  AnsiString ChannelMode() const { return "Unknown"; }
  uint16_t BitRate() const { return 0; }
  uint16_t SampleRate() const { return 0; }
  TID3v1& ID3v1() { return FID3v1; }
  TID3v2& ID3v2() { return FID3v2; }

 private:
  TID3v1 FID3v1;
  TID3v2 FID3v2;
};

}  // namespace ordana
