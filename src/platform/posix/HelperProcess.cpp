// The parent's side of a helper process on POSIX: fork and exec with the
// channel (a socket pair, which can carry descriptors) on the helper's
// standard input and output, resource limits set between fork and exec; the
// system calls under the portable part (platform/HelperProcess.cpp).
#include "platform/HelperProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/FileIO.h"
#include "platform/HelperProcessSystem.h"
#include "platform/posix/ChannelFraming.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORDANA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORDANA_ASAN 1
#endif
#endif

namespace ordana {

bool HelperMemoryLimitApplied() {
#if defined(ORDANA_ASAN)
  return false;
#else
  return true;
#endif
}

bool HelperMemoryLimitEnforced() { return HelperMemoryLimitApplied(); }

bool HelperCpuTimeMeasured() { return true; }

struct HelperProcess::State {
  pid_t pid = -1;
  uint64_t memoryLimit = 0;  // the data limit set in the child
  int fd = -1;         // our end of the socket pair
  std::string inbox;   // bytes received that do not yet make a whole message
  long timeoutUs = -1; // the receive timeout set on fd (SO_RCVTIMEO); -1 none yet

  ~State() {
    if (fd >= 0) ::close(fd);
  }
};

void HelperProcess::StateDeleter::operator()(State* s) const noexcept { delete s; }

namespace {

// Closes every descriptor from `from` on except `keep`. Runs between fork
// and exec, so it only makes system calls.
void CloseDescriptorsFrom(int from, int keep) {
#if defined(__linux__) && defined(SYS_close_range)
  bool done = true;
  if (keep > from && syscall(SYS_close_range, from, keep - 1, 0) != 0) done = false;
  if (done && syscall(SYS_close_range, keep + 1, ~0U, 0) != 0) done = false;
  if (done) return;
#endif
  long max = sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = from; fd < max; ++fd)
    if (fd != keep) ::close(fd);
}

// What a wait status says about how the process ended.
std::string DescribeEnd(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const char* name = ::strsignal(sig);
    return "it crashed (signal " + std::to_string(sig) + (name ? std::string(", ") + name : std::string()) + ")";
  }
  if (WIFEXITED(status)) return "it exited with status " + std::to_string(WEXITSTATUS(status));
  return "it ended";
}

[[noreturn]] void ChildFails(int reportFd, int err) {
  ssize_t w = ::write(reportFd, &err, sizeof err);
  (void)w;
  _exit(127);
}

}  // namespace

HelperProcess HelperProcess::Start(const std::u16string& program, const std::vector<std::string>& args,
                                   const HelperLimits& limits, std::string* error) {
  HelperProcess h;
  h.endCause_.clear();
  auto fail = [&](int err) {
    if (error) *error = SystemMessage(err);
    return HelperProcess();
  };
  // Everything the child needs is prepared before fork: after it, only
  // system calls.
  const std::string path = NativePath(program);
  std::vector<std::string> argStore;
  argStore.push_back(path);
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  struct rlimit dataLimit {};
  dataLimit.rlim_cur = dataLimit.rlim_max = static_cast<rlim_t>(limits.memoryBytes);
  const bool limitData = limits.memoryBytes > 0 && HelperMemoryLimitApplied();
  const pid_t parent = ::getpid();

  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return fail(errno);
  int report[2];  // the child writes errno here when it cannot exec
  if (::pipe2(report, O_CLOEXEC) != 0) {
    const int err = errno;
    ::close(sv[0]);
    ::close(sv[1]);
    return fail(err);
  }

  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    for (int fd : {sv[0], sv[1], report[0], report[1]}) ::close(fd);
    return fail(err);
  }
  if (pid == 0) {
    // The channel goes to standard input and output; standard error stays.
    const int channel = ::fcntl(sv[1], F_DUPFD_CLOEXEC, 10);
    if (channel < 0 || ::dup2(channel, 0) < 0 || ::dup2(channel, 1) < 0) ChildFails(report[1], errno);
    const int reportFd = ::fcntl(report[1], F_DUPFD_CLOEXEC, 3);
    if (reportFd < 0) ChildFails(report[1], errno);
    CloseDescriptorsFrom(3, reportFd);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    if (limitData && setrlimit(RLIMIT_DATA, &dataLimit) != 0) ChildFails(reportFd, errno);
    struct rlimit noCore {};
    setrlimit(RLIMIT_CORE, &noCore);
#if defined(__linux__)
    // The helper ends with its parent, and can never gain privileges.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
#else
    (void)parent;
#endif
    ::execv(argv[0], argv.data());
    ChildFails(reportFd, errno);
  }

  ::close(sv[1]);
  ::close(report[1]);
  int childErr = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &childErr, sizeof childErr);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got > 0) {
    ::close(sv[0]);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return fail(childErr ? childErr : ENOEXEC);
  }
  h.state_.reset(new State);
  h.state_->pid = pid;
  h.state_->fd = sv[0];
  h.state_->memoryLimit = limitData ? limits.memoryBytes : 0;
  return h;
}

int64_t HelperProcess::ProcessId() const { return Running() ? state_->pid : 0; }

uint64_t HelperProcess::AppliedMemoryLimit() const {
  if (!Running()) return 0;
#if defined(__linux__)
  // Read back from the process itself.
  struct rlimit r {};
  if (::prlimit(state_->pid, RLIMIT_DATA, nullptr, &r) == 0)
    return r.rlim_cur == RLIM_INFINITY ? 0 : static_cast<uint64_t>(r.rlim_cur);
#endif
  return state_->memoryLimit;
}

bool HelperProcess::Send(std::string_view message, const InputFile* file) {
  if (!Running()) return false;
  const int attach = file ? static_cast<int>(file->NativeHandle()) : -1;
  if (file && attach < 0) return false;
  return channel_framing::SendFrame(state_->fd, message, attach);
}

HelperProcess::System::Frame HelperProcess::System::TakeMessage(State& s, std::string& message) {
  switch (channel_framing::TakeFrame(s.inbox, message)) {
    case channel_framing::Frame::kWhole: return Frame::kWhole;
    case channel_framing::Frame::kBroken: return Frame::kBroken;
    case channel_framing::Frame::kPartial: break;
  }
  return Frame::kPartial;
}

HelperProcess::System::Read HelperProcess::System::ReadMore(State& s, std::chrono::steady_clock::time_point deadline) {
  char buf[4096];
  // Awake for a moment first: most answers come within it.
  const auto awakeUntil = std::min(deadline, std::chrono::steady_clock::now() + channel_framing::AwakeWait());
  while (std::chrono::steady_clock::now() < awakeUntil) {
    const ssize_t n = ::recv(s.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      s.inbox.append(buf, static_cast<size_t>(n));
      return Read::kBytes;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return Read::kEnded;
  }
  for (;;) {
    // One blocking recv per wait, bounded by the socket's receive timeout
    // (set again only when the time left changes), rather than poll and recv.
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Read::kTimedOut;
    // Whole milliseconds, so that the slices of one wait set the same value.
    const long us = static_cast<long>((left.count() + 999) / 1000 * 1000);
    if (us != s.timeoutUs) {
      timeval tv{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
      if (::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return Read::kFailed;
      s.timeoutUs = us;
    }
    const ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (std::chrono::steady_clock::now() >= deadline) return Read::kTimedOut;
      continue;
    }
    if (n <= 0) return Read::kEnded;
    s.inbox.append(buf, static_cast<size_t>(n));
    return Read::kBytes;
  }
}

double HelperProcess::CpuSeconds() const {
  if (!Running()) return -1;
  clockid_t clock;
  timespec ts{};
  if (clock_getcpuclockid(state_->pid, &clock) != 0 || clock_gettime(clock, &ts) != 0) return -1;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool HelperProcess::System::Ended(State& s, std::string& cause) {
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(s.pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r != s.pid) return false;
  cause = DescribeEnd(status);
  return true;
}

bool HelperProcess::System::EndsAfterClose(State& s, std::string& cause) {
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    const pid_t w = ::waitpid(s.pid, &status, WNOHANG);
    if (w == s.pid) {
      cause = DescribeEnd(status);
      return true;
    }
    if (w < 0 && errno != EINTR) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool HelperProcess::System::CloseChannelAndWait(State& s) {
  ::close(s.fd);
  s.fd = -1;
  for (int i = 0; i < 200; ++i) {
    const pid_t r = ::waitpid(s.pid, nullptr, WNOHANG);
    if (r == s.pid || (r < 0 && errno != EINTR)) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(i < 20 ? 50 : 1000));
  }
  return false;
}

void HelperProcess::System::Terminate(State& s) {
  ::kill(s.pid, SIGKILL);
  while (::waitpid(s.pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace ordana
