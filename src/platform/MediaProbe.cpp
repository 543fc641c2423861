// The media probe's client: opens the file, hands it to the helper program
// with the request, and waits for the answer within the limits.
#include "platform/MediaProbe.h"

#include <cstdio>

#include "platform/FileIO.h"
#include "platform/HelperProcess.h"
#include "platform/MediaProbeProtocol.h"
#include "platform/ProgramFolder.h"
#include "platform/TextCodec.h"

namespace ordana {

namespace {
bool IsAsciiAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsSchemeChar(char16_t c) {
  return IsAsciiAlpha(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}
}  // namespace

bool LooksLikeAddress(std::u16string_view path) {
  if (path.empty() || !IsAsciiAlpha(path[0])) return false;
  size_t i = 1;
  while (i < path.size() && IsSchemeChar(path[i])) ++i;
  // One letter before ':' is a drive ("C://x" is a Windows path), not a scheme.
  return i >= 2 && path.substr(i, 3) == u"://";
}

bool MediaProbeAvailable() {
#if ORDANA_HAVE_FFMPEG
  return true;
#else
  return false;
#endif
}

namespace {

#if defined(ORDANA_HELPER_SUFFIX)
constexpr char16_t kHelperName[] = u"ordana-probe" ORDANA_HELPER_SUFFIX;
#else
constexpr char16_t kHelperName[] = u"ordana-probe";
#endif

struct ProbeState {
  std::u16string program;  // empty: beside the running program
  MediaProbeLimits limits;
  std::function<void(const std::string&)> sink;
  HelperProcess helper;
  bool unavailable = false;  // could not be started in this session
  bool warned = false;
  MediaProbeStats stats;
};

ProbeState& State() {
  static ProbeState state;
  return state;
}

void Say(ProbeState& s, const std::string& text) {
  if (s.sink) {
    s.sink(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
}

void Warn(ProbeState& s) {
  if (s.warned) return;
  s.warned = true;
  Say(s, "warning: cannot start the media probe helper \"" + Utf16ToUtf8(MediaProbeHelper()).bytes() +
             "\": " + s.stats.helperProblem + "; track lengths it would measure are 0");
}

// One line per file the helper failed on, up to kMaxFailureWarnings in a
// session; the rest are only counted.
constexpr int64_t kMaxFailureWarnings = 10;

void WarnFailure(ProbeState& s, std::u16string_view path, const std::string& cause) {
  if (s.stats.filesFailed > kMaxFailureWarnings) return;
  std::string text = "warning: the media probe helper failed on \"" + Utf16ToUtf8(path).bytes() +
                     "\": " + cause + "; its track length is 0";
  if (s.stats.filesFailed == kMaxFailureWarnings) text += " (further failures are counted, not listed)";
  Say(s, text);
}

std::string Millis(std::chrono::milliseconds d) {
  return d.count() % 1000 == 0 ? std::to_string(d.count() / 1000) + " s" : std::to_string(d.count()) + " ms";
}

// A running helper that has said hello; false (counted and warned about)
// when none can be had.
bool EnsureHelper(ProbeState& s) {
  if (s.helper.Running()) return true;
  if (s.unavailable) return false;
  std::string problem;
  s.helper = HelperProcess::Start(MediaProbeHelper(), {}, HelperLimits{s.limits.memoryBytes}, &problem);
  if (s.helper.Running()) {
    std::string hello;
    const auto r = s.helper.Receive(hello, s.limits.startTime);
    if (r == HelperProcess::Received::kMessage && hello == probe_protocol::kHello) {
      ++s.stats.helperStarts;
      return true;
    }
    problem = r == HelperProcess::Received::kTimedOut ? "it did not answer"
              : r == HelperProcess::Received::kClosed ? "it ended before answering"
                                                      : "it is a different version";
    s.helper.Kill();
  }
  s.unavailable = true;
  s.stats.helperProblem = problem;
  Warn(s);
  return false;
}

std::string ExtensionOf(std::u16string_view path) {
  size_t start = path.find_last_of(u"/\\");
  start = start == std::u16string_view::npos ? 0 : start + 1;
  const size_t dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos || dot < start) return {};
  std::string ext;
  for (char16_t c : path.substr(dot + 1)) {
    if (c >= 0x80 || c <= 0x20 || ext.size() + 1 >= sizeof(probe_protocol::Request::extension)) return {};
    ext += c >= u'A' && c <= u'Z' ? static_cast<char>(c - u'A' + 'a') : static_cast<char>(c);
  }
  return ext;
}

// Asks the helper about one open file; nullopt when the file is empty, the
// helper cannot be had, or it failed on the file.
std::optional<probe_protocol::Reply> Ask(const InputFile& file, std::u16string_view path, probe_protocol::Op op,
                                         int index = 0) {
  if (!MediaProbeAvailable() || !file || file.Size() <= 0) return std::nullopt;
  ProbeState& s = State();
  if (!EnsureHelper(s)) {
    ++s.stats.filesUnmeasured;
    return std::nullopt;
  }
  probe_protocol::Request req;
  req.op = op;
  req.index = index;
  const std::string ext = ExtensionOf(path);
  ext.copy(req.extension, sizeof req.extension - 1);

  const auto failed = [&s, path](std::string cause) -> std::optional<probe_protocol::Reply> {
    s.helper.Kill();
    if (cause.empty()) cause = s.helper.EndCause().empty() ? "it ended or broke the channel" : s.helper.EndCause();
    ++s.stats.filesFailed;
    WarnFailure(s, path, cause);
    return std::nullopt;
  };
  if (!s.helper.Send(probe_protocol::Encode(req), &file)) return failed("the file could not be handed to it");

  // Waited for in slices, so that the helper's CPU time is looked at while
  // it works.
  const auto start = std::chrono::steady_clock::now();
  const double cpuAtStart = s.helper.CpuSeconds();
  const double cpuLimit = std::chrono::duration<double>(s.limits.cpuPerFile).count();
  constexpr auto kSlice = std::chrono::milliseconds(50);
  std::string answer;
  for (;;) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (waited >= s.limits.wallPerFile) return failed("it took more than " + Millis(s.limits.wallPerFile));
    const auto r = s.helper.Receive(answer, std::min(kSlice, s.limits.wallPerFile - waited));
    if (r == HelperProcess::Received::kMessage) break;
    if (r == HelperProcess::Received::kClosed) return failed({});
    const double cpu = s.helper.CpuSeconds();
    if (cpuAtStart >= 0 && cpu >= 0 && cpu - cpuAtStart > cpuLimit)
      return failed("it used more than " + Millis(s.limits.cpuPerFile) + " of CPU time");
  }
  const auto reply = probe_protocol::Decode<probe_protocol::Reply>(answer);
  if (!reply) return failed("its answer was not a reply");
  ++s.stats.filesMeasured;
  if (!reply->found) return std::nullopt;
  return reply;
}

// Only local regular files are opened: InputFile refuses a folder, a pipe
// (which would block) or a device (which may never end).
InputFile OpenLocal(std::u16string_view path) {
  if (!MediaProbeAvailable() || LooksLikeAddress(path)) return {};
  return InputFile::Open(path);
}

}  // namespace

std::optional<AudioLength> ProbeAudioLength(const InputFile& file, std::u16string_view name) {
  const auto r = Ask(file, name, probe_protocol::Op::kAudioLength);
  if (!r) return std::nullopt;
  return AudioLength{r->seconds, r->fromStreamInfo != 0};
}

std::optional<double> ProbeStreamSeconds(const InputFile& file, std::u16string_view name, int index) {
  if (index < 0) return std::nullopt;
  const auto r = Ask(file, name, probe_protocol::Op::kStreamSeconds, index);
  if (!r) return std::nullopt;
  return r->seconds;
}

std::optional<int64_t> ProbeContainerDuration(const InputFile& file, std::u16string_view name) {
  const auto r = Ask(file, name, probe_protocol::Op::kContainerDuration);
  if (!r) return std::nullopt;
  return r->units;
}

std::optional<AudioLength> ProbeAudioLength(std::u16string_view path) { return ProbeAudioLength(OpenLocal(path), path); }

std::optional<double> ProbeStreamSeconds(std::u16string_view path, int index) {
  return ProbeStreamSeconds(OpenLocal(path), path, index);
}

std::optional<int64_t> ProbeContainerDuration(std::u16string_view path) {
  return ProbeContainerDuration(OpenLocal(path), path);
}

MediaProbeStats GetMediaProbeStats() { return State().stats; }

MediaProbeSession::MediaProbeSession() {
  ProbeState& s = State();
  s.stats = MediaProbeStats{};
  s.unavailable = false;
  s.warned = false;
}

MediaProbeSession::~MediaProbeSession() { StopMediaProbeHelper(); }

void StopMediaProbeHelper() { State().helper.Stop(); }

void SetMediaProbeHelper(std::u16string program) {
  ProbeState& s = State();
  s.helper.Stop();
  s.program = std::move(program);
  s.unavailable = false;
  s.warned = false;
}

std::u16string MediaProbeHelper() {
  const ProbeState& s = State();
  return s.program.empty() ? ProgramFolder() + kHelperName : s.program;
}

void SetMediaProbeLimits(const MediaProbeLimits& limits) {
  ProbeState& s = State();
  if (limits.memoryBytes != s.limits.memoryBytes) s.helper.Stop();  // the next one gets the new limit
  s.limits = limits;
}

MediaProbeLimits GetMediaProbeLimits() { return State().limits; }

void SetMediaProbeWarningSink(std::function<void(const std::string&)> sink) { State().sink = std::move(sink); }

int64_t MediaProbeHelperProcessId() { return State().helper.ProcessId(); }

}  // namespace ordana
