// Fuzzes the stated-length parsers (FLAC, Ogg Vorbis, WAV, MPEG-4 audio and
// the MPEG-4 sample-table check) over any bytes in memory. A length they
// state must be a finite, non-negative number of seconds.
#include <cmath>
#include <cstdlib>

#include "trackinfo/StatedLength.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ordana;
  const length::MemorySource src(std::string_view(reinterpret_cast<const char*>(data), size));
  for (auto parse : {FlacStatedLength, OggVorbisStatedLength, WavStatedLength, Mp4AudioStatedLength}) {
    const StatedLength s = parse(src);
    if (s.kind == StatedLength::Kind::kSeconds && !(std::isfinite(s.seconds) && s.seconds >= 0)) std::abort();
  }
  (void)Mp4ClaimsMoreThanItHolds(src);
  return 0;
}
