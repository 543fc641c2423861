#pragma once
// The media probe: a small layer over FFmpeg's libavformat that measures how
// long a local media file plays, from its header and length information only
// (nothing is decoded).
//
// Paths are taken as the play log wrote them and opened through NativePath(),
// so the user's path mappings apply. Only local regular files are read, and
// only through the system's own file layer: a text that looks like an address
// ("http://...", "mms://...", any "scheme://") is never opened, and FFmpeg is
// not allowed to open any further file or network resource on its own (no
// protocols, no nested playlists or references). Reading is bounded in bytes
// and time, and FFmpeg's log output is silenced.
//
// Without FFmpeg (built with ORDANA_FFMPEG=off) every probe finds
// nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ordana {

// True when the system was built with FFmpeg.
bool MediaProbeAvailable();

// True for a text that starts with "scheme://" (a scheme of two or more
// letters, digits, '+', '-' or '.', beginning with a letter). Such texts are
// addresses, not files, and the probe never opens them.
bool LooksLikeAddress(std::u16string_view path);

// The audio length of a file that holds an audio stream FFmpeg can decode.
struct AudioLength {
  double Seconds = 0;           // 0 when the file gives no length at all
  bool FromStreamInfo = false;  // the header gave no length: the stream was analysed
};
// nullopt when the file cannot be read or holds no decodable audio stream.
std::optional<AudioLength> ProbeAudioLength(std::u16string_view path);

// The length in seconds of the file's stream `index` as its header states
// it; nullopt when the file cannot be read, has no such stream, or the
// header gives that stream no length.
std::optional<double> ProbeStreamSeconds(std::u16string_view path, int index = 0);

// The playing time of the whole file in units of 100 nanoseconds: the
// container's own duration, or, when the header has none, the duration found
// by analysing the start of the file. nullopt when none can be found.
std::optional<int64_t> ProbeContainerDuration(std::u16string_view path);

}  // namespace ordana
