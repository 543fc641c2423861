// What the Windows backend of the probe's helper does on its own: the
// helper runs inside a job (which holds its memory and lets it start no
// process of its own; Wine keeps such limits without enforcing them, so
// what it lets happen is skipped, not counted as a pass), inherits nothing
// but its channel, a crash is told apart from an exit, and a helper that
// was killed is gone.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/HelperProcess.h"
#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// True once the process of that id has ended (or no longer exists).
bool ProcessGone(int64_t pid) {
  const HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!h) return true;
  const bool ended = ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  ::CloseHandle(h);
  return ended;
}

class ProbeHelperWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    savedHelper_ = MediaProbeHelper();
    savedLimits_ = GetMediaProbeLimits();
    SetMediaProbeHelper(Utf8ToUtf16(ORDANA_FAKE_PROBE));
    SetMediaProbeWarningSink([this](const std::string& w) { warnings_.push_back(w); });
  }
  void TearDown() override {
    SetMediaProbeWarningSink(nullptr);
    SetMediaProbeLimits(savedLimits_);
    SetMediaProbeHelper(savedHelper_);
  }
  std::optional<double> Probe(const std::string& name, const std::string& what) {
    test::WriteBytes(dir_.File(name), what + "\n");
    return ProbeStreamSeconds(dir_.File16(name));
  }
  test::TempDir dir_;
  std::vector<std::string> warnings_;
  std::u16string savedHelper_;
  MediaProbeLimits savedLimits_;
};

TEST_F(ProbeHelperWin32Test, TheHelperRunsInAJobThatLetsItStartNothing) {
  MediaProbeSession session;
  ASSERT_EQ(Probe("a", "seconds 1"), 1.0);
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(MediaProbeHelperProcessId()));
  ASSERT_TRUE(process) << ::GetLastError();
  BOOL inJob = FALSE;
  ASSERT_TRUE(::IsProcessInJob(process, nullptr, &inJob));
  ::CloseHandle(process);
  EXPECT_TRUE(inJob);

  // The command processor cannot be started from inside the job.
  const auto spawned = Probe("spawn", "spawn");
  ASSERT_TRUE(spawned);
  if (*spawned == 7 && UnderWine()) GTEST_SKIP() << "Wine does not enforce a job's active-process limit";
  EXPECT_EQ(*spawned, -1);
}

// A crash is an exception, which ends the helper at once (no error box, no
// debugger) with the exception's code; a plain exit is not taken for one.
TEST_F(ProbeHelperWin32Test, ACrashIsToldByItsException) {
  MediaProbeSession session;
  EXPECT_EQ(Probe("ok", "seconds 1"), 1.0);
  const int64_t pid = MediaProbeHelperProcessId();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(Probe("bad", "crash"));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_TRUE(ProcessGone(pid));
  EXPECT_FALSE(Probe("bye", "exit"));
  ASSERT_EQ(warnings_.size(), 2u);
  EXPECT_NE(warnings_[0].find("it crashed (exception 0xC000001D, illegal instruction)"), std::string::npos)
      << warnings_[0];
  EXPECT_NE(warnings_[1].find("it exited with status 0"), std::string::npos) << warnings_[1];
  EXPECT_EQ(Probe("next", "seconds 2"), 2.0);
}

// Past the wall-clock limit the helper is killed (and gone, not merely let
// go), and the next file gets a fresh one.
TEST_F(ProbeHelperWin32Test, AHelperPastItsDeadlineIsKilled) {
  MediaProbeLimits limits = GetMediaProbeLimits();
  limits.wallPerFile = std::chrono::milliseconds(300);
  SetMediaProbeLimits(limits);
  MediaProbeSession session;
  EXPECT_EQ(Probe("ok", "seconds 1"), 1.0);
  const int64_t pid = MediaProbeHelperProcessId();
  EXPECT_FALSE(Probe("hang", "hang"));
  EXPECT_TRUE(ProcessGone(pid));
  EXPECT_EQ(Probe("next", "seconds 2"), 2.0);
  EXPECT_NE(MediaProbeHelperProcessId(), pid);
  EXPECT_EQ(GetMediaProbeStats().helperStarts, 2);
}

// Handles this process holds inheritable do not reach the helper: the write
// end of a pipe, once closed here, leaves the read end at its end at once;
// had the helper inherited it, the pipe would stay open while it runs.
TEST_F(ProbeHelperWin32Test, TheHelperInheritsNoOtherHandle) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  MediaProbeSession session;
  EXPECT_EQ(Probe("a", "seconds 1"), 1.0);  // a helper started while the pipe was inheritable
  ASSERT_NE(MediaProbeHelperProcessId(), 0);
  ::CloseHandle(writeEnd);
  DWORD available = 0;
  const BOOL open = ::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
  const DWORD error = ::GetLastError();
  ::CloseHandle(readEnd);
  EXPECT_FALSE(open) << "the helper holds the pipe's write end";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
}

}  // namespace
}  // namespace ordana
