// What the POSIX backend of the probe's helper holds to beyond the portable
// tests: nothing the parent has open leaks into the helper, and a helper
// that failed or was stopped is reaped, not left behind.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

class ProbeHelperPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedHelper_ = MediaProbeHelper();
    SetMediaProbeHelper(Utf8ToUtf16(ORDANA_FAKE_PROBE));
    SetMediaProbeWarningSink([](const std::string&) {});
  }
  void TearDown() override {
    SetMediaProbeWarningSink(nullptr);
    SetMediaProbeHelper(savedHelper_);
  }
  std::optional<double> Probe(const std::string& name, const std::string& what) {
    test::WriteBytes(dir_.File(name), what + "\n");
    return ProbeStreamSeconds(dir_.File16(name));
  }
  test::TempDir dir_;
  std::u16string savedHelper_;
};

// The helper holds the channel, standard error and the file it was handed;
// nothing the parent had open leaks into it.
TEST_F(ProbeHelperPosixTest, TheHelperHoldsOnlyItsChannelAndTheFile) {
  MediaProbeSession session;
  std::vector<int> strays;
  for (int i = 0; i < 3; ++i) strays.push_back(::open("/dev/null", O_RDONLY));  // inheritable
  EXPECT_EQ(Probe("fds", "fds"), 4.0);
  for (int fd : strays) ::close(fd);
}

TEST_F(ProbeHelperPosixTest, FailedAndStoppedHelpersAreReaped) {
  std::vector<pid_t> pids;
  {
    MediaProbeSession session;
    for (const char* failure : {"crash", "exit", "garbage"}) {
      EXPECT_EQ(Probe("ok", "seconds 1"), 1.0);
      pids.push_back(static_cast<pid_t>(MediaProbeHelperProcessId()));
      EXPECT_FALSE(Probe("bad", failure)) << failure;
    }
    EXPECT_EQ(Probe("ok", "seconds 1"), 1.0);
    pids.push_back(static_cast<pid_t>(MediaProbeHelperProcessId()));
  }
  for (pid_t pid : pids) {
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(pid, 0), -1) << pid << " is gone (and reaped)";
  }
}

}  // namespace
}  // namespace ordana
