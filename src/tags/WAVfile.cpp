#include "tags/WAVfile.h"

#include <cstring>

#include "platform/FileIO.h"

namespace ordana {

namespace {
uint16_t LE16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t LE32At(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
}  // namespace

void TWAVfile::ResetData() {
  FValid = false;
  FFormatID = 0;
  FChannelNumber = 0;
  FSampleRate = 0;
  FBytesPerSecond = 0;
  FBlockAlign = 0;
  FBitsPerSample = 0;
  FSampleNumber = 0;
  FHeaderSize = 0;
  FFileSize = 0;
}

bool TWAVfile::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  // Offsets: 0 "RIFF", 4 RIFF size, 8 "WAVE", 12 "fmt ", 16 format chunk
  // size, 20 format tag, 22 channels, 24 sample rate, 28 bytes per second,
  // 32 block align, 34 bits per sample, 36 the next chunk's identifier;
  // 40..43 receive the sample count read from behind the format chunk.
  uint8_t h[44] = {};
  {
    InputFile f = InputFile::Open(FileName);
    if (!f) return false;
    const int64_t size = f.Size();
    if (size < 0) return false;
    if (size >= 40) {
      if (!f.ReadExact(h, 40)) return false;
      if (std::memcmp(h + 36, "data", 4) != 0) {
        const int64_t countPos = int64_t{LE32At(h + 16)} + 28;
        if (!f.Seek(countPos) || !f.ReadExact(h + 40, 4)) return false;
      }
    }
  }
  const uint16_t channels = LE16At(h + 22);
  if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 ||
      std::memcmp(h + 12, "fmt ", 4) != 0 || (channels != 1 && channels != 2))
    return true;

  FValid = true;
  FFormatID = LE16At(h + 20);
  FChannelNumber = static_cast<uint8_t>(channels);
  FSampleRate = LE32At(h + 24);
  FBytesPerSecond = LE32At(h + 28);
  FBlockAlign = LE16At(h + 32);
  FBitsPerSample = static_cast<uint8_t>(LE16At(h + 34));
  FSampleNumber = static_cast<int32_t>(LE32At(h + 40));
  // The audio data starts at 44 in the common layout; with a 12-byte chunk
  // between the format chunk and the data chunk it starts 12 bytes later.
  FHeaderSize = std::memcmp(h + 36, "data", 4) == 0
                    ? 44
                    : static_cast<uint16_t>(LE32At(h + 16) + 40);
  FFileSize = LE32At(h + 4) + 8;
  if (FFileSize < FHeaderSize) FHeaderSize = static_cast<uint16_t>(FFileSize);
  return true;
}

std::u16string TWAVfile::Format() const {
  switch (FFormatID) {
    case 1: return u"Windows PCM";
    case 2: return u"Microsoft ADPCM";
    case 6: return u"A-LAW";
    case 7: return u"MU-LAW";
    case 17: return u"DVI/IMA ADPCM";
    case 85: return u"MPEG Layer III";
    default: return {};
  }
}

std::u16string TWAVfile::ChannelMode() const {
  switch (FChannelNumber) {
    case 1: return u"Mono";
    case 2: return u"Stereo";
    default: return u"Unknown";
  }
}

double TWAVfile::Duration() const {
  if (!FValid) return 0.0;
  double d = 0.0;
  if (FSampleNumber == 0 && FBytesPerSecond > 0)
    d = static_cast<double>(static_cast<uint32_t>(FFileSize - FHeaderSize)) / FBytesPerSecond;
  if (FSampleNumber > 0 && FSampleRate > 0) d = static_cast<double>(FSampleNumber) / FSampleRate;
  return d;
}

}  // namespace ordana
