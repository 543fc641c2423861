// WAV: the chunks are walked to the format chunk and the data chunk; for
// sample formats of a fixed size (PCM, floating point, A-law, mu-law) the
// data chunk's whole sample frames over the sample rate are the length.
// Compressed formats (ADPCM, MPEG in WAV and others) go to the media probe.
#include <optional>

#include "trackinfo/StatedLength.h"

namespace ordana {

namespace {

constexpr int kMaxChunks = 1000;

struct Format {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bits = 0;
};

constexpr uint16_t kPcm = 1, kFloat = 3, kALaw = 6, kMuLaw = 7, kExtensible = 0xFFFE;

std::optional<Format> ReadFormat(length::Window& w, int64_t pos, uint32_t size) {
  if (size < 16) return std::nullopt;
  length::Reader r = w.Get(pos, size >= 40 ? 40 : 16);
  Format f;
  f.tag = r.U16LE();
  f.channels = r.U16LE();
  f.rate = r.U32LE();
  f.byteRate = r.U32LE();
  f.blockAlign = r.U16LE();
  f.bits = r.U16LE();
  if (f.tag == kExtensible) {
    // The sub-format GUID begins with the format tag it stands for.
    if (size < 40) return std::nullopt;
    r.Skip(2 + 2 + 4);  // extension size, valid bits, channel mask
    f.tag = r.U16LE();
    if (r.Chars(14) != std::string_view("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14))
      return std::nullopt;
  }
  if (!r.Ok()) return std::nullopt;
  return f;
}

// Bytes per sample of a fixed-size format, 0 for anything else.
unsigned SampleBytes(const Format& f) {
  switch (f.tag) {
    case kPcm: return f.bits >= 1 && f.bits <= 32 ? (f.bits + 7u) / 8u : 0;
    case kFloat: return f.bits == 32 || f.bits == 64 ? f.bits / 8u : 0;
    case kALaw:
    case kMuLaw: return f.bits == 8 ? 1 : 0;
    default: return 0;
  }
}

}  // namespace

StatedLength WavStatedLength(const length::Source& file) {
  length::Window w(file, 4096);
  const int64_t start = length::LeadingId3v2Size(w);
  const int64_t size = w.Size();
  length::Reader riff = w.Get(start, 12);
  if (!riff.StartsWith("RIFF")) return StatedLength::NotStated();
  riff.Skip(8);
  if (!riff.StartsWith("WAVE")) return StatedLength::NotStated();

  std::optional<Format> format;
  int64_t pos = start + 12;
  for (int n = 0; n < kMaxChunks && pos <= size - 8; ++n) {
    length::Reader h = w.Get(pos, 8);
    const std::string_view id = h.Chars(4);
    const uint32_t chunkSize = h.U32LE();
    const int64_t body = pos + 8;
    if (id == "fmt ") {
      if (format) return StatedLength::NotStated();  // two formats: not a file to guess about
      format = ReadFormat(w, body, chunkSize);
      if (!format) return StatedLength::NotStated();
    } else if (id == "data") {
      if (!format) return StatedLength::NotStated();
      const unsigned sampleBytes = SampleBytes(*format);
      if (sampleBytes == 0 || format->channels == 0 || format->rate == 0 ||
          format->blockAlign != format->channels * sampleBytes ||
          format->byteRate != uint64_t{format->rate} * format->blockAlign)
        return StatedLength::NotStated();
      // A size of 0 or all ones (a recorder that never came back to write
      // it), or one that claims more than the file holds, counts the bytes
      // the file has.
      int64_t bytes = chunkSize;
      if (chunkSize == 0 || chunkSize == 0xFFFFFFFFu || bytes > size - body) bytes = size - body;
      const int64_t frames = bytes / format->blockAlign;
      if (frames <= 0) return StatedLength::NotStated();
      return StatedLength::Samples(frames, format->rate);
    }
    pos = body + chunkSize + (chunkSize & 1);  // chunks are padded to even sizes
  }
  return StatedLength::NotStated();
}

}  // namespace ordana
