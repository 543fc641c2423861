// Track lengths as they were measured before the files' own stated lengths
// and the helper process: FFmpeg for every file, in the benchmark's own
// process. The baseline of the length benchmarks; present only in the
// benchmarks built with the in-process FFmpeg probe.
#pragma once

#include <cstdint>
#include <string>

namespace ordana::bench {

// The length in milliseconds (0 when FFmpeg finds none): the video path
// for video extensions, the audio probe otherwise.
uint32_t InProcessTrackLength(const std::u16string& path);

}  // namespace ordana::bench
