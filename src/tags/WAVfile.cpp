#include "tags/WAVfile.h"

#include "tags/FileSource.h"

namespace ordana {

bool ParseWAV(const bytes::ByteSource& file, WAVRecord& wav) {
  wav = WAVRecord{};
  // Offsets: 0 "RIFF", 4 RIFF size, 8 "WAVE", 12 "fmt ", 16 format chunk
  // size, 20 format tag, 22 channels, 24 sample rate, 28 bytes per second,
  // 32 block align, 34 bits per sample, 36 the next chunk's identifier;
  // 40..43 receive the sample count read from behind the format chunk.
  uint8_t h[44] = {};
  // No more than the header is read: 64 bytes hold its 40 and, as a rule,
  // the sample count.
  bytes::SourceWindow w(file, 64);
  const int64_t size = w.Size();
  if (size < 0) return false;
  if (size >= 40) {
    if (!w.Get(0, 40).CopyTo(h, 40)) return false;
    if (!bytes::ByteReader(h, 40).At(36).Match("data")) {
      // The fact chunk's sample count, where it stands when a fact chunk
      // directly follows the format chunk. The chunk list is not walked: these
      // four bytes are taken whatever chunk holds them, as the playout program
      // takes them (the report measures lengths apart, walking the chunks).
      const int64_t countPos = int64_t{bytes::ByteReader(h, 40).At(16).U32LE()} + 28;
      if (!w.Get(countPos, 4).CopyTo(h + 40, 4)) return false;
    }
  }
  bytes::ByteReader r(h, sizeof h);
  // Files of more than two channels are not taken for WAV, as in the playout program.
  const uint16_t channels = r.At(22).U16LE();
  if (!r.At(0).Match("RIFF") || !r.At(8).Match("WAVE") || !r.At(12).Match("fmt ") ||
      (channels != 1 && channels != 2))
    return true;

  wav.Valid = true;
  r.Seek(4);
  wav.FileSize = r.U32LE() + 8;
  r.Seek(16);
  const uint32_t formatSize = r.U32LE();
  wav.FormatID = r.U16LE();
  wav.ChannelNumber = static_cast<uint8_t>(r.U16LE());
  wav.SampleRate = r.U32LE();
  wav.BytesPerSecond = r.U32LE();
  wav.BlockAlign = r.U16LE();
  wav.BitsPerSample = static_cast<uint8_t>(r.U16LE());
  const bool dataFollows = r.Match("data");
  wav.SampleNumber = static_cast<int32_t>(r.At(40).U32LE());
  // The audio data starts at 44 in the common layout; with a 12-byte chunk
  // between the format chunk and the data chunk it starts 12 bytes later.
  wav.HeaderSize = dataFollows ? 44 : static_cast<uint16_t>(formatSize + 40);
  if (wav.FileSize < wav.HeaderSize) wav.HeaderSize = static_cast<uint16_t>(wav.FileSize);
  return true;
}

bool TWAVfile::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  return ParseFile(FileName, [&](const bytes::ByteSource& s) { return ReadFromSource(s); });
}

std::u16string TWAVfile::Format() const {
  switch (F.FormatID) {
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
  switch (F.ChannelNumber) {
    case 1: return u"Mono";
    case 2: return u"Stereo";
    default: return u"Unknown";
  }
}

double TWAVfile::Duration() const {
  if (!F.Valid) return 0.0;
  double d = 0.0;
  if (F.SampleNumber == 0 && F.BytesPerSecond > 0)
    d = static_cast<double>(static_cast<uint32_t>(F.FileSize - F.HeaderSize)) / F.BytesPerSecond;
  if (F.SampleNumber > 0 && F.SampleRate > 0) d = static_cast<double>(F.SampleNumber) / F.SampleRate;
  return d;
}

}  // namespace ordana
