// FLAC: STREAMINFO, the first metadata block, states the sample rate and the
// total samples per channel (36 bits; 0 when the encoder did not know them).
#include "trackinfo/StatedLength.h"

namespace ordana {

StatedLength FlacStatedLength(const length::Source& file) {
  length::Window w(file, 512);
  const int64_t start = length::LeadingId3v2Size(w);
  length::Reader r = w.Get(start, 4 + 4 + 34);  // the whole STREAMINFO block
  if (!r.StartsWith("fLaC")) return StatedLength::NotStated();
  r.Skip(4);
  const uint8_t blockType = r.U8() & 0x7F;
  const uint32_t blockSize = r.U24BE();
  if (blockType != 0 || blockSize != 34) return StatedLength::NotStated();
  r.Skip(10);  // block and frame sizes
  const uint64_t bits = r.U64BE();
  if (!r.Ok()) return StatedLength::NotStated();
  // sample rate (20 bits), channels - 1 (3), bits per sample - 1 (5), total samples (36)
  const auto rate = static_cast<int64_t>(bits >> 44);
  const auto samples = static_cast<int64_t>(bits & ((uint64_t{1} << 36) - 1));
  return StatedLength::Samples(samples, rate);
}

}  // namespace ordana
