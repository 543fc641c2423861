// The media probe's side of its helper process: one helper for many files,
// a fresh one after a crash or an overrun, limits, and a helper that is
// missing or will not start. A stand-in helper (FakeProbeHelper.cpp)
// misbehaves as the file it is handed says.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileIO.h"
#include "platform/HelperProcess.h"
#include "platform/Host.h"
#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::TempDir;
using Clock = std::chrono::steady_clock;

// A copy of the stand-in that misbehaves at start ("silent", "wrong",
// "exit"): it reads that from its own name.
std::u16string FakeThatStarts(const TempDir& dir, const std::string& mode) {
  const std::filesystem::path fake(ORDANA_FAKE_PROBE);
  const std::string name = "fake-probe-start-" + mode + fake.extension().string();
  std::filesystem::copy_file(fake, dir.path() / name, std::filesystem::copy_options::overwrite_existing);
  return dir.File16(name);
}

class ProbeHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedHelper_ = ordana::MediaProbeHelper();
    savedLimits_ = GetMediaProbeLimits();
    SetMediaProbeHelper(Utf8ToUtf16(ORDANA_FAKE_PROBE));
    SetMediaProbeWarningSink([this](const std::string& w) { warnings_.push_back(w); });
    session_.emplace();
  }
  void TearDown() override {
    session_.reset();
    SetMediaProbeWarningSink(nullptr);
    SetMediaProbeLimits(savedLimits_);
    SetMediaProbeHelper(savedHelper_);
  }
  // A file whose content tells the stand-in what to do.
  std::u16string Order(const std::string& name, const std::string& what) {
    test::WriteBytes(dir_.File(name), what + "\n");
    return dir_.File16(name);
  }
  std::optional<double> Probe(const std::u16string& file) { return ProbeStreamSeconds(file); }

  TempDir dir_;
  std::vector<std::string> warnings_;
  std::optional<MediaProbeSession> session_;
  std::u16string savedHelper_;
  MediaProbeLimits savedLimits_;
};

// A helper started by probes outside any session (the tag tool, a test) is
// not the next session's: that one starts its own, with the program and
// limits in force then, and counts it.
TEST_F(ProbeHelperTest, ASessionStartsItsOwnHelper) {
  session_.reset();
  ASSERT_EQ(Probe(Order("before", "seconds 1")), 1);
  const int64_t outside = MediaProbeHelperProcessId();
  ASSERT_NE(outside, 0);
  session_.emplace();
  EXPECT_EQ(MediaProbeHelperProcessId(), 0);
  EXPECT_EQ(Probe(Order("during", "seconds 2")), 2);
  EXPECT_EQ(GetMediaProbeStats().helperStarts, 1);
  EXPECT_NE(MediaProbeHelperProcessId(), outside);
}

TEST_F(ProbeHelperTest, OneHelperServesManyFiles) {
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Probe(Order("f" + std::to_string(i), "seconds " + std::to_string(i + 1))), i + 1);
  const auto audio = ProbeAudioLength(Order("a", "seconds 2.5"));
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->Seconds, 2.5);
  EXPECT_EQ(GetMediaProbeStats().helperStarts, 1);
  EXPECT_EQ(GetMediaProbeStats().filesMeasured, 6);
  EXPECT_NE(MediaProbeHelperProcessId(), 0);
  // Files that cannot be opened never reach the helper.
  EXPECT_FALSE(Probe(dir_.File16("missing")));
  test::WriteBytes(dir_.File("empty"), "");
  EXPECT_FALSE(Probe(dir_.File16("empty")));
  EXPECT_EQ(GetMediaProbeStats().filesMeasured, 6);
  EXPECT_TRUE(warnings_.empty());
}

// A crash, an early exit, a reply that is no reply: that file has no length,
// the next one gets a fresh helper.
TEST_F(ProbeHelperTest, AFailingFileCostsOnlyItsOwnLength) {
  struct Case {
    const char* failure;
    const char* cause;  // in the warning
  };
  for (const Case& c : {Case{"crash", "it crashed ("}, Case{"exit", "exited with status 0"},
                        Case{"garbage", "not a reply"}}) {
    const char* failure = c.failure;
    SCOPED_TRACE(failure);
    warnings_.clear();
    EXPECT_EQ(Probe(Order("ok", "seconds 1")), 1.0);
    const int64_t starts = GetMediaProbeStats().helperStarts;
    const int64_t failedBefore = GetMediaProbeStats().filesFailed;
    EXPECT_FALSE(Probe(Order("bad", failure)));
    EXPECT_EQ(MediaProbeHelperProcessId(), 0);
    EXPECT_EQ(GetMediaProbeStats().filesFailed, failedBefore + 1);
    EXPECT_EQ(Probe(Order("next", "seconds 3")), 3.0);
    EXPECT_EQ(GetMediaProbeStats().helperStarts, starts + 1);
    // One warning, naming the file and what happened.
    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_NE(warnings_[0].find(dir_.File("bad")), std::string::npos) << warnings_[0];
    EXPECT_NE(warnings_[0].find(c.cause), std::string::npos) << warnings_[0];
  }
}

// A library of files that all fail does not flood standard error.
TEST_F(ProbeHelperTest, FailureWarningsStopAfterTen) {
  for (int i = 0; i < 14; ++i) EXPECT_FALSE(Probe(Order("bad" + std::to_string(i), "exit")));
  EXPECT_EQ(GetMediaProbeStats().filesFailed, 14);
  ASSERT_EQ(warnings_.size(), 10u);
  EXPECT_NE(warnings_[9].find("bad9"), std::string::npos);
  EXPECT_NE(warnings_[9].find("further failures are counted"), std::string::npos) << warnings_[9];
  // The next build lists its own again.
  session_.emplace();
  EXPECT_FALSE(Probe(Order("bad", "exit")));
  EXPECT_EQ(warnings_.size(), 11u);
}

TEST_F(ProbeHelperTest, TimeLimitsKillAHelperThatOverruns) {
  MediaProbeLimits limits = GetMediaProbeLimits();
  limits.wallPerFile = std::chrono::milliseconds(300);
  SetMediaProbeLimits(limits);
  auto t0 = Clock::now();
  EXPECT_FALSE(Probe(Order("hang", "hang")));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(GetMediaProbeStats().filesFailed, 1);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("took more than 300 ms"), std::string::npos) << warnings_[0];

  if (!HelperCpuTimeMeasured())
    GTEST_SKIP() << "this system (Wine) reports no CPU time for the helper; the wall-clock limit "
                    "above still holds";
  // Spinning is stopped by the CPU limit long before the wall-clock one.
  limits.cpuPerFile = std::chrono::milliseconds(200);
  limits.wallPerFile = std::chrono::seconds(60);
  SetMediaProbeLimits(limits);
  t0 = Clock::now();
  EXPECT_FALSE(Probe(Order("spin", "spin")));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(30));
  EXPECT_EQ(GetMediaProbeStats().filesFailed, 2);
  ASSERT_EQ(warnings_.size(), 2u);
  EXPECT_NE(warnings_[1].find("more than 200 ms of CPU time"), std::string::npos) << warnings_[1];
  EXPECT_EQ(Probe(Order("next", "seconds 4")), 4.0);
}

TEST_F(ProbeHelperTest, MemoryIsLimited) {
  if (!HelperMemoryLimitApplied()) GTEST_SKIP() << "sanitizer builds apply no memory limit";
  if (!HelperMemoryLimitEnforced())
    GTEST_SKIP() << "this system (Wine) keeps the job's memory limit but does not enforce it; "
                    "HelperChannel.TheMemoryLimitIsApplied checks that it is set";
  MediaProbeLimits limits = GetMediaProbeLimits();
  limits.memoryBytes = 64ull << 20;
  SetMediaProbeLimits(limits);
  const auto got = Probe(Order("alloc", "alloc 256"));
  ASSERT_TRUE(got);
  EXPECT_LT(*got, 64);  // MiB it could allocate
  EXPECT_GT(*got, 8);
  limits.memoryBytes = 0;
  SetMediaProbeLimits(limits);
  EXPECT_EQ(Probe(Order("alloc", "alloc 128")), 128);
}

TEST_F(ProbeHelperTest, AMissingHelperIsWarnedAboutOnceAndCounted) {
  SetMediaProbeHelper(dir_.File16("no-such-helper"));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Probe(Order("f" + std::to_string(i), "seconds 1")));
  EXPECT_EQ(GetMediaProbeStats().filesUnmeasured, 3);
  EXPECT_EQ(GetMediaProbeStats().helperStarts, 0);
  EXPECT_EQ(GetMediaProbeStats().helperProblem, SystemMessage(ENOENT));
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find(dir_.File("no-such-helper")), std::string::npos) << warnings_[0];
  // The next build tries again, and warns again.
  session_.emplace();
  EXPECT_FALSE(Probe(Order("g", "seconds 1")));
  EXPECT_EQ(GetMediaProbeStats().filesUnmeasured, 1);
  EXPECT_EQ(warnings_.size(), 2u);
}

TEST_F(ProbeHelperTest, AHelperThatWillNotStartIsWarnedAbout) {
  MediaProbeLimits limits = GetMediaProbeLimits();
  limits.startTime = std::chrono::milliseconds(300);
  SetMediaProbeLimits(limits);
  test::WriteBytes(dir_.File("not-a-program"), "just text\n");
  std::filesystem::permissions(dir_.path() / "not-a-program", std::filesystem::perms::owner_read |
                                                                  std::filesystem::perms::owner_write |
                                                                  std::filesystem::perms::group_read |
                                                                  std::filesystem::perms::others_read);
  // POSIX refuses to run a file that is not executable; Windows runs by
  // content and refuses one that is no program.
  const std::string notAProgram = SystemMessage(kHostIsWindows ? ENOEXEC : EACCES);
  struct Case {
    const char* start;  // how the stand-in misbehaves, or nullptr for the text file
    std::string problem;
  };
  for (const Case& c : {Case{nullptr, notAProgram}, Case{"exit", "ended before answering"},
                        Case{"silent", "did not answer"}, Case{"wrong", "different version"}}) {
    SCOPED_TRACE(c.problem);
    session_.emplace();
    warnings_.clear();
    SetMediaProbeHelper(c.start ? FakeThatStarts(dir_, c.start) : dir_.File16("not-a-program"));
    EXPECT_FALSE(Probe(Order("a", "seconds 1")));
    EXPECT_FALSE(Probe(Order("b", "seconds 1")));
    EXPECT_EQ(GetMediaProbeStats().filesUnmeasured, 2);
    EXPECT_NE(GetMediaProbeStats().helperProblem.find(c.problem), std::string::npos)
        << GetMediaProbeStats().helperProblem;
    EXPECT_EQ(warnings_.size(), 1u);
    EXPECT_EQ(MediaProbeHelperProcessId(), 0);
  }
}

TEST_F(ProbeHelperTest, TheSessionStopsTheHelper) {
  EXPECT_EQ(Probe(Order("a", "seconds 1")), 1.0);
  ASSERT_NE(MediaProbeHelperProcessId(), 0);
  session_.reset();
  EXPECT_EQ(MediaProbeHelperProcessId(), 0);
  // Counts stay readable after the build, for its summary.
  EXPECT_EQ(GetMediaProbeStats().filesMeasured, 1);
}

// Lengths queued ahead: the helper works through them while the caller is
// busy, and each answer is the one asked for, in order.
TEST_F(ProbeHelperTest, QueuedFilesAreMeasuredWhileTheCallerWorks) {
  std::vector<std::u16string> files;
  for (int i = 0; i < 6; ++i) files.push_back(Order("w" + std::to_string(i), "work 100 " + std::to_string(i + 1)));
  const auto t0 = Clock::now();
  for (const auto& f : files) QueueAudioLength(InputFile::Open(f), f);
  // The caller reads tags meanwhile; the helper needs about 600 ms in all.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const auto asked = Clock::now();
  for (int i = 0; i < 6; ++i) {
    const auto a = ProbeAudioLength(files[static_cast<size_t>(i)]);
    ASSERT_TRUE(a) << i;
    EXPECT_EQ(a->Seconds, i + 1);
  }
  // Each file alone would have cost 100 ms after being asked for.
  EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(300));
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(600));
  EXPECT_EQ(GetMediaProbeStats().filesMeasured, 6);
  EXPECT_EQ(GetMediaProbeStats().helperStarts, 1);

  // A queued file that is not asked for is dropped, and an unqueued one
  // asked between queued ones gets its own answer.
  const auto a = Order("qa", "seconds 7"), b = Order("qb", "seconds 8"), c = Order("qc", "seconds 9");
  QueueAudioLength(InputFile::Open(a), a);
  QueueAudioLength(InputFile::Open(b), b);
  EXPECT_EQ(ProbeStreamSeconds(c), 9.0);  // another request for a file nobody queued
  EXPECT_EQ(ProbeAudioLength(b)->Seconds, 8.0);
  EXPECT_EQ(ProbeAudioLength(a)->Seconds, 7.0);  // no longer queued: asked anew
  EXPECT_TRUE(warnings_.empty());
}

// A crash, a hang and a broken answer in the middle of a queue cost only
// that file its length; the files queued after it go to a fresh helper.
TEST_F(ProbeHelperTest, AFailureInAQueueCostsOnlyThatFile) {
  MediaProbeLimits limits = GetMediaProbeLimits();
  limits.wallPerFile = std::chrono::milliseconds(300);
  SetMediaProbeLimits(limits);
  const std::vector<std::pair<std::string, double>> plan = {
      {"seconds 1", 1}, {"crash", 0}, {"seconds 3", 3}, {"work 20 4", 4}, {"hang", 0},
      {"seconds 6", 6}, {"garbage", 0}, {"exit", 0}, {"seconds 9", 9}};
  std::vector<std::u16string> files;
  for (size_t i = 0; i < plan.size(); ++i) {
    files.push_back(Order("q" + std::to_string(i), plan[i].first));
    QueueAudioLength(InputFile::Open(files.back()), files.back());
  }
  for (size_t i = 0; i < plan.size(); ++i) {
    SCOPED_TRACE(plan[i].first);
    const auto a = ProbeAudioLength(files[i]);
    if (plan[i].second == 0) {
      EXPECT_FALSE(a);
    } else {
      ASSERT_TRUE(a);
      EXPECT_EQ(a->Seconds, plan[i].second);
    }
  }
  const MediaProbeStats stats = GetMediaProbeStats();
  EXPECT_EQ(stats.filesFailed, 4);
  EXPECT_EQ(stats.filesMeasured, 5);
  EXPECT_EQ(stats.helperStarts, 5);  // the first, and one after each failure
  // One warning per failed file, naming it, in queue order.
  ASSERT_EQ(warnings_.size(), 4u);
  EXPECT_NE(warnings_[0].find(dir_.File("q1")), std::string::npos) << warnings_[0];
  EXPECT_NE(warnings_[0].find("it crashed ("), std::string::npos) << warnings_[0];
  EXPECT_NE(warnings_[1].find(dir_.File("q4")), std::string::npos) << warnings_[1];
  EXPECT_NE(warnings_[1].find("took more than 300 ms"), std::string::npos) << warnings_[1];
  EXPECT_NE(warnings_[2].find(dir_.File("q6")), std::string::npos) << warnings_[2];
  EXPECT_NE(warnings_[3].find(dir_.File("q7")), std::string::npos) << warnings_[3];
}

// A helper that answers and then ends while more requests are being sent:
// the answer it gave stands, and the end is laid to the request it ended on.
TEST_F(ProbeHelperTest, AnAnswerGivenBeforeTheHelperEndedStands) {
  const auto first = Order("first", "seconds 1"), ends = Order("ends", "exit"), after = Order("after", "seconds 3");
  QueueAudioLength(InputFile::Open(first), first);
  QueueAudioLength(InputFile::Open(ends), ends);
  // A moment for the helper to answer the first and end on the second: the
  // third is then sent to a helper that is gone.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  QueueAudioLength(InputFile::Open(after), after);
  const auto a = ProbeAudioLength(first);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Seconds, 1.0);
  EXPECT_FALSE(ProbeAudioLength(ends));
  const auto c = ProbeAudioLength(after);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Seconds, 3.0);
  EXPECT_EQ(GetMediaProbeStats().filesFailed, 1);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find(dir_.File("ends")), std::string::npos) << warnings_[0];
}

// Queued requests do not outlive the helper they were sent to: a stop or a
// new build drops them, and what is asked afterwards is answered rightly.
TEST_F(ProbeHelperTest, StoppingTheHelperDropsItsQueue) {
  const auto slow = Order("slow", "work 200 1"), next = Order("next", "seconds 2");
  QueueAudioLength(InputFile::Open(slow), slow);
  QueueAudioLength(InputFile::Open(next), next);
  session_.emplace();
  EXPECT_EQ(MediaProbeHelperProcessId(), 0);
  const auto other = Order("other", "seconds 3");
  EXPECT_EQ(ProbeAudioLength(other)->Seconds, 3.0);
  EXPECT_EQ(ProbeAudioLength(next)->Seconds, 2.0);
  EXPECT_EQ(GetMediaProbeStats().filesMeasured, 2);
  EXPECT_EQ(GetMediaProbeStats().filesFailed, 0);
}

// The channel's own framing, without any helper program: a message larger
// than the channel carries is refused, not cut.
TEST(HelperChannel, RefusesOversizedMessages) {
  std::string error;
  HelperProcess h = HelperProcess::Start(Utf8ToUtf16(ORDANA_FAKE_PROBE), {}, {}, &error);
  ASSERT_TRUE(h.Running()) << error;
  std::string hello;
  ASSERT_EQ(h.Receive(hello, std::chrono::seconds(5)), HelperProcess::Received::kMessage);
  EXPECT_FALSE(h.Send(std::string(kMaxHelperMessage + 1, 'x')));
  EXPECT_TRUE(h.Running());
  h.Stop();
  EXPECT_FALSE(h.Running());
  EXPECT_FALSE(h.Send("x"));
  EXPECT_EQ(h.Receive(hello, std::chrono::milliseconds(1)), HelperProcess::Received::kClosed);
}

// The memory limit is applied to the helper by the system: read back from
// the running helper, not from what was asked for.
TEST(HelperChannel, TheMemoryLimitIsApplied) {
  for (const uint64_t limit : {uint64_t{64} << 20, uint64_t{512} << 20, uint64_t{0}}) {
    SCOPED_TRACE(limit);
    std::string error;
    HelperProcess h = HelperProcess::Start(Utf8ToUtf16(ORDANA_FAKE_PROBE), {}, HelperLimits{limit}, &error);
    ASSERT_TRUE(h.Running()) << error;
    EXPECT_EQ(h.AppliedMemoryLimit(), HelperMemoryLimitApplied() ? limit : 0);
    h.Stop();
    EXPECT_EQ(h.AppliedMemoryLimit(), 0u);
  }
}

}  // namespace
}  // namespace ordana
