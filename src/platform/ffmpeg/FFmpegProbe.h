#pragma once
// The media probe's FFmpeg side, run by the helper program ordana-probe
// (apps/): it measures one file, given as a source of bytes, with FFmpeg's
// demuxers. Only the helper links this; the main programs ask the helper
// through platform/MediaProbe.h.
//
// Reach is limited to what the probe needs: the demuxers of the extension
// table below (format_whitelist) and the audio decoders their streams need
// (codec_whitelist); no protocol, no further file, no network. The
// extension names the demuxer tried first (when the file starts the way
// that format does); then the demuxers of the table whose start the file
// matches; then FFmpeg's own content probing, which the whitelist confines.
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/MediaProbe.h"

namespace ordana::ffmpeg_probe {

// The bytes of the file being measured.
class Source {
 public:
  virtual ~Source() = default;
  virtual int64_t Size() const = 0;  // -1 when unknown
  // Up to n bytes at pos; the count read (short only at the end), or -1.
  virtual int64_t ReadAt(int64_t pos, void* buf, size_t n) const = 0;
};

// `extension` is the file's extension, lower-case, without the dot.
std::optional<AudioLength> ProbeAudioLength(const Source& file, std::string_view extension);
std::optional<double> ProbeStreamSeconds(const Source& file, std::string_view extension, int index);
std::optional<int64_t> ProbeContainerDuration(const Source& file, std::string_view extension);

// The demuxers and decoders FFmpeg may use, as its option texts.
const char* FormatWhitelist();
const char* CodecWhitelist();

}  // namespace ordana::ffmpeg_probe
