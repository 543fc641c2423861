// The media probe's client: opens the file, hands it to the helper program
// with the request, and waits for the answer within the limits.
#include "platform/MediaProbe.h"

#include <algorithm>
#include <cstdio>
#include <deque>

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

// One request to the helper, from the moment it is asked (or queued ahead)
// until the caller takes its answer. The helper answers in the order it
// was sent requests; a request it has not answered when it fails is sent
// again, with its file, to the next helper.
struct Pending {
  std::u16string path;         // as the caller names the file
  probe_protocol::Request request;
  InputFile owned;             // the file of a request queued ahead
  const InputFile* callers = nullptr;  // the caller's file, while it waits for the answer
  enum class State { kWaiting, kAnswered, kFailed, kUnmeasured } state = State::kWaiting;
  bool sent = false;           // to the helper that runs now
  bool timing = false;         // its time limits run (it is the one the helper works on)
  std::chrono::steady_clock::time_point start{};
  double cpuAtStart = -1;      // the helper's CPU time when first looked at; -1 not yet
  probe_protocol::Reply reply;

  const InputFile* File() const { return owned ? &owned : callers; }
  bool Matches(std::u16string_view p, probe_protocol::Op op, int index) const {
    return request.op == op && request.index == index && path == p;
  }
};

// Requests queued ahead at most: their files stay open until answered.
constexpr size_t kMaxQueued = 32;

struct ProbeState {
  std::u16string program;  // empty: beside the running program
  MediaProbeLimits limits;
  std::function<void(const std::string&)> sink;
  HelperProcess helper;
  bool unavailable = false;  // could not be started in this session
  bool warned = false;
  MediaProbeStats stats;
  std::deque<Pending> queue;  // in the order sent (or to be sent)
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

probe_protocol::Request MakeRequest(std::u16string_view path, probe_protocol::Op op, int index) {
  probe_protocol::Request req;
  req.op = op;
  req.index = index;
  const std::string ext = ExtensionOf(path);
  ext.copy(req.extension, sizeof req.extension - 1);
  return req;
}

bool Waiting(const Pending& p) { return p.state == Pending::State::kWaiting; }

// The helper failed on `p` (the request it was working on): no length for
// it, the helper is ended, and the requests after it go to the next one.
void Fail(ProbeState& s, Pending& p, std::string cause) {
  s.helper.Kill();
  if (cause.empty()) cause = s.helper.EndCause().empty() ? "it ended or broke the channel" : s.helper.EndCause();
  ++s.stats.filesFailed;
  WarnFailure(s, p.path, cause);
  p.state = Pending::State::kFailed;
  for (Pending& q : s.queue) q.sent = q.timing = false;
}

// Sends the requests the running helper has not had yet, starting a helper
// when none runs. False when that failed (the requests are then settled:
// unmeasured, or failed).
bool SendWaiting(ProbeState& s) {
  const auto unsent = std::find_if(s.queue.begin(), s.queue.end(), [](const Pending& p) { return Waiting(p) && !p.sent; });
  if (unsent == s.queue.end()) return true;
  if (!EnsureHelper(s)) {
    for (Pending& p : s.queue)
      if (Waiting(p)) p.state = Pending::State::kUnmeasured;
    return false;
  }
  for (auto it = unsent; it != s.queue.end(); ++it) {
    if (!Waiting(*it) || it->sent) continue;
    if (!s.helper.Send(probe_protocol::Encode(it->request), it->File())) {
      // With requests already sent, the helper may have answered some of
      // them before it ended: their answers are read first, and the end is
      // then laid to the request it was working on. This one is sent again
      // once those are settled.
      const auto working = std::find_if(s.queue.begin(), it, [](const Pending& p) { return Waiting(p) && p.sent; });
      if (working != it) return true;
      Fail(s, *it, "the file could not be handed to it");
      return false;
    }
    it->sent = true;
  }
  return true;
}

// Receives answers, in order, until `target` has its own (or has failed).
// Each request's limits run from the moment this process waits for it:
// a helper that works ahead while the caller is busy elsewhere gains time,
// never loses any. The CPU time is first looked at after one slice of
// waiting, so the CPU limit may be overrun by up to that slice.
void Settle(ProbeState& s, const Pending& target) {
  constexpr auto kSlice = std::chrono::milliseconds(50);
  const double cpuLimit = std::chrono::duration<double>(s.limits.cpuPerFile).count();
  std::string answer;
  while (Waiting(target)) {
    if (!SendWaiting(s)) continue;
    Pending& p = *std::find_if(s.queue.begin(), s.queue.end(), Waiting);
    const auto now = std::chrono::steady_clock::now();
    if (!p.timing) {
      p.timing = true;
      p.start = now;
      p.cpuAtStart = -1;
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - p.start);
    if (waited >= s.limits.wallPerFile) {
      Fail(s, p, "it took more than " + Millis(s.limits.wallPerFile));
      continue;
    }
    const auto r = s.helper.Receive(answer, std::min<std::chrono::milliseconds>(kSlice, s.limits.wallPerFile - waited));
    if (r == HelperProcess::Received::kMessage) {
      const auto reply = probe_protocol::Decode<probe_protocol::Reply>(answer);
      if (!reply) {
        Fail(s, p, "its answer was not a reply");
        continue;
      }
      p.reply = *reply;
      p.state = Pending::State::kAnswered;
    } else if (r == HelperProcess::Received::kClosed) {
      Fail(s, p, {});
    } else {
      const double cpu = s.helper.CpuSeconds();
      if (p.cpuAtStart < 0) p.cpuAtStart = cpu;
      else if (cpu >= 0 && cpu - p.cpuAtStart > cpuLimit)
        Fail(s, p, "it used more than " + Millis(s.limits.cpuPerFile) + " of CPU time");
    }
  }
}

// Asks the helper about one open file; nullopt when the file is empty, the
// helper cannot be had, or it failed on the file. A request queued ahead
// for the same path answers it; requests queued before it and not asked
// for are dropped once answered.
std::optional<probe_protocol::Reply> Ask(const InputFile& file, std::u16string_view path, probe_protocol::Op op,
                                         int index = 0) {
  if (!MediaProbeAvailable() || !file || file.Size() <= 0) return std::nullopt;
  ProbeState& s = State();
  auto it = std::find_if(s.queue.begin(), s.queue.end(),
                         [&](const Pending& p) { return p.Matches(path, op, index); });
  if (it == s.queue.end()) {
    if (s.unavailable && s.queue.empty()) {
      ++s.stats.filesUnmeasured;
      return std::nullopt;
    }
    Pending p;
    p.path.assign(path);
    p.request = MakeRequest(path, op, index);
    p.callers = &file;
    s.queue.push_back(std::move(p));
    it = std::prev(s.queue.end());
  }
  const size_t at = static_cast<size_t>(it - s.queue.begin());
  Settle(s, s.queue[at]);
  const Pending::State state = s.queue[at].state;
  const probe_protocol::Reply reply = s.queue[at].reply;
  s.queue.erase(s.queue.begin(), s.queue.begin() + static_cast<std::ptrdiff_t>(at) + 1);
  if (state == Pending::State::kUnmeasured) ++s.stats.filesUnmeasured;
  if (state != Pending::State::kAnswered) return std::nullopt;
  ++s.stats.filesMeasured;
  if (!reply.found) return std::nullopt;
  return reply;
}

// Ends the helper; requests it was sent are dropped, or kept for the next one.
void StopHelper(ProbeState& s, bool keepQueue) {
  s.helper.Stop();
  if (!keepQueue) s.queue.clear();
  for (Pending& p : s.queue) p.sent = p.timing = false;
}

// Only local regular files are opened: InputFile refuses a folder, a pipe
// (which would block) or a device (which may never end).
InputFile OpenLocal(std::u16string_view path) {
  if (!MediaProbeAvailable() || LooksLikeAddress(path)) return {};
  return InputFile::Open(path);
}

}  // namespace

void QueueAudioLength(InputFile file, std::u16string_view name) {
  if (!MediaProbeAvailable() || !file || file.Size() <= 0) return;
  ProbeState& s = State();
  if (s.unavailable || s.queue.size() >= kMaxQueued) return;
  Pending& p = s.queue.emplace_back();
  p.path.assign(name);
  p.request = MakeRequest(name, probe_protocol::Op::kAudioLength, 0);
  p.owned = std::move(file);
  SendWaiting(s);
}

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
  // A helper left from probes outside a session goes: answers still due
  // would belong to no one, and the session's helpers are its own, started
  // with the helper program and limits in force now (and counted).
  StopHelper(s, false);
}

MediaProbeSession::~MediaProbeSession() { StopMediaProbeHelper(); }

void StopMediaProbeHelper() { StopHelper(State(), false); }

void SetMediaProbeHelper(std::u16string program) {
  ProbeState& s = State();
  StopHelper(s, false);
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
  if (limits.memoryBytes != s.limits.memoryBytes) StopHelper(s, true);  // the next one gets the new limit
  s.limits = limits;
}

MediaProbeLimits GetMediaProbeLimits() { return State().limits; }

void SetMediaProbeWarningSink(std::function<void(const std::string&)> sink) { State().sink = std::move(sink); }

int64_t MediaProbeHelperProcessId() { return State().helper.ProcessId(); }

}  // namespace ordana
