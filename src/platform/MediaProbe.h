#pragma once
// The media probe: measures how long a local media file plays, from its
// header and length information only (nothing is decoded), with FFmpeg's
// libavformat.
//
// FFmpeg runs in a helper process of its own, ordana-probe, found beside the
// running program and started the first time a file needs it (then kept for
// the following files). This process opens each file itself, through the
// system's file layer, and hands the open file to the helper, which opens
// nothing by name. The helper runs under a memory limit; a file that takes
// it more than a second of CPU or ten seconds in all has it killed, and so
// does a crash: that file gets no length, the next one a fresh helper.
//
// Paths are taken as the play log wrote them and opened through NativePath(),
// so the user's path mappings apply. Only local regular files are read: a
// text that looks like an address ("http://...", "mms://...", any
// "scheme://") is never opened, and FFmpeg may not open any further file or
// network resource (no protocols, no nested playlists or references) nor use
// demuxers and decoders beyond those of the formats measured. Reading is
// bounded in bytes and time, and FFmpeg's log output is silenced.
//
// Without FFmpeg (built with ORDANA_FFMPEG=off) every probe finds nothing.
// A helper that is missing or cannot be started is warned about once (on
// standard error, or to the sink set below) and counted in MediaProbeStats;
// so is each file it fails on (a crash, an overrun, a broken answer), with
// the file and the cause, up to ten lines per build.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ordana {

class InputFile;

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

// The same for a file the caller has opened; `name` gives the extension
// (the demuxer tried first).
std::optional<AudioLength> ProbeAudioLength(const InputFile& file, std::u16string_view name);
std::optional<double> ProbeStreamSeconds(const InputFile& file, std::u16string_view name, int index = 0);
std::optional<int64_t> ProbeContainerDuration(const InputFile& file, std::u16string_view name);

// Queues the audio length of a file the caller will ask for soon
// (ProbeAudioLength with the same name) and hands it to the helper now, so
// that the helper measures it while the caller does other work; a caller
// that reads many files announces the next ones ahead. The answer is the one
// ProbeAudioLength would give, and a file the helper fails on costs only its
// own length, as there. Requests are answered in the order queued; one that
// is not asked for is dropped once a later one is. At most 32 wait at a
// time (more are not queued); each keeps its file open until answered.
void QueueAudioLength(InputFile file, std::u16string_view name);

// --- The helper process ---------------------------------------------------------

// What the probe's helper did since the counters were last reset (at the
// start of every MediaProbeSession); a report's summary tells the user.
struct MediaProbeStats {
  int64_t filesMeasured = 0;    // files the helper answered for
  int64_t filesFailed = 0;      // files that crashed it or overran its limits: no length
  int64_t filesUnmeasured = 0;  // files that needed it while it could not be started: no length
  int64_t helperStarts = 0;
  std::string helperProblem;    // why it could not be started; empty when it could
};
MediaProbeStats GetMediaProbeStats();

// One report build: the counters start from zero (and a helper that could
// not be started is tried, and warned about, again); a helper still running
// from probes outside a session is stopped first, and at the end the
// session's helper is stopped. Without a session the helper lives until the
// program ends.
class MediaProbeSession {
 public:
  MediaProbeSession();
  ~MediaProbeSession();
  MediaProbeSession(const MediaProbeSession&) = delete;
  MediaProbeSession& operator=(const MediaProbeSession&) = delete;
};

// Stops the helper now (the next probe starts a new one).
void StopMediaProbeHelper();

// The helper program; by default ordana-probe in ProgramFolder().
void SetMediaProbeHelper(std::u16string program);
std::u16string MediaProbeHelper();

struct MediaProbeLimits {
  uint64_t memoryBytes = 512ull << 20;                      // the helper's data limit
  std::chrono::milliseconds cpuPerFile{1000};               // CPU time one file may take
  std::chrono::milliseconds wallPerFile{10000};             // time one file may take in all
  std::chrono::milliseconds startTime{5000};                // time the helper may take to start
};
void SetMediaProbeLimits(const MediaProbeLimits& limits);
MediaProbeLimits GetMediaProbeLimits();

// Where the warning about a missing helper goes (one line, no newline);
// standard error by default, nullptr restores that.
void SetMediaProbeWarningSink(std::function<void(const std::string&)> sink);

// The process id of the running helper, 0 when none runs (for tests that
// look at what the helper holds open).
int64_t MediaProbeHelperProcessId();

}  // namespace ordana
