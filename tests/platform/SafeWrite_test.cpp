#include "platform/SafeWrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "support/FaultInjection.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::FailingOps;

TEST(SafeWrite, RewriteReplacesWholeContentAndKeepsPermissions) {
  test::TempDir dir;
  auto p = dir.File("a.bin");
  test::WriteBytes(p, std::string(1000, 'x'));
  ::chmod(p.c_str(), 0640);
  ASSERT_TRUE(RewriteFile(dir.File16("a.bin"), [](OutputFile& out) { return out.Write("short"); }));
  EXPECT_EQ(test::ReadBytes(p), "short");
  struct stat st {};
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(SafeWrite, ProducerGivingUpLeavesOriginal) {
  test::TempDir dir;
  test::WriteBytes(dir.File("a.bin"), "original");
  EXPECT_FALSE(RewriteFile(dir.File16("a.bin"), [](OutputFile& out) {
    out.Write("partial");
    return false;
  }));
  EXPECT_EQ(test::ReadBytes(dir.File("a.bin")), "original");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Every write, sync and rename along the rewrite path fails once in turn;
// the original must survive each time, and no temporary file may remain.
TEST(SafeWrite, EveryInjectedFaultLeavesOriginalIntact) {
  test::TempDir dir;
  const std::string original(300000, 'o');
  test::WriteBytes(dir.File("a.bin"), original);
  InputFile src = InputFile::Open(dir.File16("a.bin"));
  const std::string big(200000, 'n');
  auto produce = [&](OutputFile& out) { return out.Write(big) && out.CopyFrom(src, 0, 1000); };

  const std::string expected = big + original.substr(0, 1000);
  int survived = 0;
  for (int n = 1;; ++n) {
    FailingOps ops(n);
    SetFileOps(&ops);
    bool ok = RewriteFile(dir.File16("a.bin"), produce);
    SetFileOps(nullptr);
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    if (!ops.Fired()) {
      ASSERT_TRUE(ok);
      break;
    }
    if (ok) {
      // Only the folder sync after the rename may fail without failing the
      // save: the new content is then already in place.
      ASSERT_EQ(test::ReadBytes(dir.File("a.bin")), expected) << "fault " << n;
      test::WriteBytes(dir.File("a.bin"), original);
      continue;
    }
    ASSERT_EQ(test::ReadBytes(dir.File("a.bin")), original) << "fault " << n;
    ++survived;
  }
  EXPECT_GT(survived, 2);
  EXPECT_EQ(test::ReadBytes(dir.File("a.bin")), expected);
}

TEST(SafeWrite, OverwriteInPlaceKeepsSizeAndUndoesFailedWrites) {
  test::TempDir dir;
  test::WriteBytes(dir.File("a.bin"), "0123456789");
  EXPECT_FALSE(OverwriteInPlace(dir.File16("a.bin"), 8, "abc"));  // would grow the file
  EXPECT_FALSE(OverwriteInPlace(dir.File16("a.bin"), -1, "a"));
  EXPECT_EQ(test::ReadBytes(dir.File("a.bin")), "0123456789");
  for (int n = 1; n < 10; ++n) {
    FailingOps ops(n);
    SetFileOps(&ops);
    bool ok = OverwriteInPlace(dir.File16("a.bin"), 2, "ab");
    SetFileOps(nullptr);
    if (!ops.Fired()) break;
    EXPECT_FALSE(ok);
    EXPECT_EQ(test::ReadBytes(dir.File("a.bin")), "0123456789") << "fault " << n;
  }
  ASSERT_TRUE(OverwriteInPlace(dir.File16("a.bin"), 2, "ab"));
  EXPECT_EQ(test::ReadBytes(dir.File("a.bin")), "01ab456789");
}

}  // namespace
}  // namespace ordana
