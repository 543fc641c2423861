// The save layer on POSIX: permissions, links, owners, signals, extended
// attributes, crashes in a child process (the portable cases are in
// SafeWrite_test.cpp).
#include "platform/SafeWrite.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/posix/SaveOps.h"
#include "support/FaultInjection.h"
#include "support/SaveFaults.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

namespace fs = std::filesystem;
using test::FailingSteps;
using test::ReadBytes;
using test::TempDir;
using test::Entries;
using test::RewriteKeepingTail;
using test::WriteBytes;

// Runs fn in a child process (as the given user when uid >= 0) and returns
// its exit status; fn's result true is status 0.
int InChild(const std::function<bool()>& fn, int uid = -1, int gid = -1) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (gid >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(gid)) != 0)) ::_exit(90);
    if (uid >= 0 && ::setuid(uid_t(uid)) != 0) ::_exit(91);
    ::_exit(fn() ? 0 : 1);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

constexpr int kNobody = 65534;

#define REQUIRE_ROOT() \
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (other owners, setuid bits)"

TEST(SaveSession, RewriteKeepsPermissionsAndFifosAreRefused) {
  TempDir dir;
  const auto p = dir.File("a.bin");
  WriteBytes(p, "0123456789" + std::string(1000, 'x'));
  ::chmod(p.c_str(), 0640);
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("a.bin"), "new head "));
  struct stat st {};
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0644), 0);
  EXPECT_EQ(SaveSession(dir.File16("fifo")).Status().failure, SaveFailure::NotRegular);
}

TEST(SaveSession, SymbolicLinksAreFollowedToTheTargetsFolder) {
  TempDir dir;
  fs::create_directory(dir.path() / "music");
  fs::create_directory(dir.path() / "links");
  WriteBytes(dir.File("music/real.mp3"), "0123456789tail");
  fs::create_symlink("../music/real.mp3", dir.path() / "links" / "hop.mp3");
  fs::create_symlink("hop.mp3", dir.path() / "links" / "song.mp3");  // a chain of two
  SaveMethod method{};
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("links/song.mp3"), "new", &method));
  EXPECT_EQ(method, SaveMethod::Replaced);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "links" / "song.mp3"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "links" / "hop.mp3"));
  EXPECT_EQ(ReadBytes(dir.File("music/real.mp3")), "newtail");
  EXPECT_EQ(Entries(dir.path() / "links"), 2u);
  EXPECT_EQ(Entries(dir.path() / "music"), 1u);
  // A patch through the link lands in the target as well.
  {
    SaveSession s(dir.File16("links/song.mp3"));
    ASSERT_TRUE(s.Patch({{0, "NEW"}}));
  }
  EXPECT_EQ(ReadBytes(dir.File("music/real.mp3")), "NEWtail");
  fs::create_symlink("nowhere.mp3", dir.path() / "links" / "dangling.mp3");
  EXPECT_EQ(SaveSession(dir.File16("links/dangling.mp3")).Status().failure, SaveFailure::NotFound);
}

// A crash (the process ends at the k-th write) during an in-place commit:
// the next save puts the old bytes back; a crash before the journal's commit
// marker leaves the file untouched and the journal is removed.
TEST(SaveSession, NextSaveUndoesACrashedInPlaceCommit) {
  TempDir dir;
  const std::string original = "0123456789" + std::string(3 << 20, 'o');
  const auto path = dir.File16("a.bin");
  struct Crash {
    const char* name;
    SaveStep at;
    int count;
    bool patch;
  } crashes[] = {{"patch, second write", SaveStep::Write, 2, true},
                 {"in place, third write", SaveStep::Write, 3, false},
                 {"in place, before the marker", SaveStep::JournalSync, 1, false}};
  for (const Crash& c : crashes) {
    WriteBytes(dir.File("a.bin"), original);
    fs::create_hard_link(dir.path() / "a.bin", dir.path() / "b.bin");
    const int status = InChild([&] {
      std::atomic<int> seen{0};
      SetSaveTestHook([&](SaveStep step) {
        if (step == c.at && ++seen == c.count) ::_exit(42);
        return 0;
      });
      SaveSession s(path);
      if (c.patch) return s.Patch({{0, "AB"}, {int64_t(original.size()) - 3, "xyz"}});
      return s.Rewrite([&](OutputFile& out) {
        const std::string block(1 << 20, 'N');
        return out.Write(block) && out.Write(block) && out.Write(block) && out.CopyOriginal(10);
      });
    });
    ASSERT_EQ(status, 42) << c.name;
    ASSERT_NE(ReadBytes(dir.File("a.bin")) == original, c.at == SaveStep::Write) << c.name;
    ASSERT_GT(Entries(dir.path()), 2u) << c.name << ": the journal is there";
    {
      SaveSession next(dir.File16("b.bin"));  // the other name of the same file
      ASSERT_TRUE(next) << c.name << ": " << next.Status().reason;
      EXPECT_EQ(next.Size(), int64_t(original.size()));
    }
    EXPECT_TRUE(ReadBytes(dir.File("a.bin")) == original) << c.name;
    EXPECT_EQ(Entries(dir.path()), 2u) << c.name;
    fs::remove(dir.path() / "b.bin");
  }
}

// After a commit's writes, a journal that can be neither removed nor
// disarmed would undo the save at the next one: the commit is taken back
// and reported as failed. A fault while the next save restores a crashed
// commit keeps the journal for the save after it.
TEST(SaveSession, JournalFaultsAfterTheWritesAndDuringRecovery) {
  TempDir dir;
  const std::string original = "0123456789" + std::string(100000, 'o');
  const auto path = dir.File16("a.bin");
  for (bool patch : {false, true}) {
    WriteBytes(dir.File("a.bin"), original);
    fs::create_hard_link(dir.path() / "a.bin", dir.path() / "b.bin");  // rewritten in place
    std::atomic<bool> written{false};
    SetSaveTestHook([&](SaveStep step) {
      if (step == SaveStep::Write) written = true;
      return written && (step == SaveStep::Unlink || step == SaveStep::JournalWrite) ? EIO : 0;
    });
    {
      SaveSession s(path);
      ASSERT_TRUE(s);
      EXPECT_FALSE(patch ? s.Patch({{0, "AB"}})
                         : s.Rewrite([](OutputFile& out) { return out.Write("new") && out.CopyOriginal(10); }));
      EXPECT_EQ(s.Status().failure, SaveFailure::IoError);
      EXPECT_NE(s.Status().reason.find("journal"), std::string::npos) << s.Status().reason;
    }
    SetSaveTestHook({});
    EXPECT_TRUE(ReadBytes(dir.File("a.bin")) == original) << "patch " << patch;
    { SaveSession next(path); ASSERT_TRUE(next) << next.Status().reason; }
    EXPECT_TRUE(ReadBytes(dir.File("a.bin")) == original);
    EXPECT_EQ(Entries(dir.path()), 2u) << "the journal went with the next save";
    fs::remove(dir.path() / "b.bin");
  }

  // A crash half-way through a patch, then a restore that fails.
  WriteBytes(dir.File("a.bin"), original);
  fs::create_hard_link(dir.path() / "a.bin", dir.path() / "b.bin");
  ASSERT_EQ(InChild([&] {
    SetSaveTestHook([](SaveStep step) {
      if (step == SaveStep::Sync) ::_exit(42);  // after both writes, before they are synced
      return 0;
    });
    SaveSession s(path);
    return s.Patch({{0, "AB"}, {int64_t(original.size()) - 3, "xyz"}});
  }), 42);
  ASSERT_FALSE(ReadBytes(dir.File("a.bin")) == original);
  {
    FailingSteps faults(1, {SaveStep::Write});
    SaveSession failing(path);
    EXPECT_FALSE(failing);
    EXPECT_NE(failing.Status().reason.find("could not be undone"), std::string::npos)
        << failing.Status().reason;
    EXPECT_FALSE(failing.Patch({{0, "no"}})) << "a session that did not open commits nothing";
  }
  EXPECT_EQ(Entries(dir.path()), 3u) << "the journal stays until the file is restored";
  { SaveSession next(path); ASSERT_TRUE(next) << next.Status().reason; }
  EXPECT_TRUE(ReadBytes(dir.File("a.bin")) == original);
  EXPECT_EQ(Entries(dir.path()), 2u);
}
// A temporary file of a save that died is removed by the next save, unless
// a saver still holds it.
TEST(SaveSession, LeftoverTemporaryFilesGoUnlessHeld) {
  TempDir dir;
  WriteBytes(dir.File("a.bin"), "0123456789");
  const std::string temp = dir.File(".a.bin.ordana-save.tmp");
  WriteBytes(temp, "half a copy");
  const int held = ::open(temp.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  { SaveSession s(dir.File16("a.bin")); }
  EXPECT_TRUE(fs::exists(temp));
  ::close(held);
  { SaveSession s(dir.File16("a.bin")); }
  EXPECT_FALSE(fs::exists(temp));
}

// Where O_TMPFILE is missing, the temporary file has a name; a termination
// signal in the middle of the save removes it.
class NoTmpfileOps : public posix::SaveOps {
 public:
  int Open(const char* path, int flags, mode_t mode) override {
    if ((flags & O_TMPFILE) == O_TMPFILE) return errno = EOPNOTSUPP, -1;
    return SaveOps::Open(path, flags, mode);
  }
};

TEST(SaveSession, NamedTemporaryFileIsRemovedOnTerminationSignals) {
  TempDir dir;
  const std::string original = "0123456789" + std::string(100000, 'o');
  WriteBytes(dir.File("a.bin"), original);
  NoTmpfileOps ops;
  posix::SetSaveOps(&ops);
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("a.bin"), "named "));
  EXPECT_EQ(ReadBytes(dir.File("a.bin")), "named " + original.substr(10));
  EXPECT_EQ(Entries(dir.path()), 1u);
  WriteBytes(dir.File("a.bin"), original);
  for (int sig : {SIGTERM, SIGINT}) {
    const int status = InChild([&] {
      SaveSession s(dir.File16("a.bin"));
      return s.Rewrite([&](OutputFile& out) {
        if (!out.Write(std::string(50000, 'n'))) return false;
        if (!fs::exists(dir.path() / ".a.bin.ordana-save.tmp")) ::_exit(77);
        ::raise(sig);
        return true;
      });
    });
    EXPECT_EQ(status, 128 + sig);
    EXPECT_EQ(ReadBytes(dir.File("a.bin")), original);
    EXPECT_EQ(Entries(dir.path()), 1u);
  }
  posix::SetSaveOps(nullptr);
}

TEST(SaveSessionAsRoot, OwnerGroupAndSetuidBits) {
  REQUIRE_ROOT();
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  const std::string p = dir.File("prog.mpc");
  // Another user's setuid file saved by root keeps its owner, group and bits.
  WriteBytes(p, "0123456789 executable");
  ASSERT_EQ(::chown(p.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod(p.c_str(), 06755), 0);
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("prog.mpc"), "tag"));
  struct stat st {};
  ::stat(p.c_str(), &st);
  EXPECT_EQ(st.st_uid, uid_t(kNobody));
  EXPECT_EQ(st.st_gid, gid_t(kNobody));
  EXPECT_EQ(st.st_mode & 07777, 06755u);
  // A user who cannot give the new file root's ownership never carries the
  // set-user-ID and set-group-ID bits over to a file of their own.
  ASSERT_EQ(::chown(p.c_str(), 0, kNobody), 0);
  ASSERT_EQ(::chmod(p.c_str(), 06775), 0);
  EXPECT_EQ(InChild([&] {
    SaveMethod m{};
    const bool ok = RewriteKeepingTail(dir.File16("prog.mpc"), "user", &m);
    return ok && m == SaveMethod::Replaced;
  }, kNobody, kNobody), 0);
  ::stat(p.c_str(), &st);
  EXPECT_EQ(ReadBytes(p), "userable");
  EXPECT_EQ(st.st_mode & 07777, 0775u);
  EXPECT_NE(st.st_uid, 0u);
}

TEST(SaveSessionAsRoot, UnwritableFolderIsWrittenInPlaceWithTheJournalInTheTemporaryFolder) {
  REQUIRE_ROOT();
  TempDir dir;
  const std::string file = dir.File("song.mp3");
  WriteBytes(file, "0123456789audio");
  ASSERT_EQ(::chown(file.c_str(), kNobody, kNobody), 0);
  ::chmod(dir.path().c_str(), 0755);  // root's folder: nobody may not create files in it
  struct stat before {};
  ::stat(file.c_str(), &before);
  std::string tmp = dir.File("tmp");
  fs::create_directory(tmp);
  ASSERT_EQ(::chown(tmp.c_str(), kNobody, kNobody), 0);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  EXPECT_EQ(InChild([&] {
    SaveSession s(dir.File16("song.mp3"));
    if (!s.Rewrite([](OutputFile& out) { return out.Write("new") && out.CopyOriginal(10); })) return false;
    return s.Method() == SaveMethod::InPlace;
  }, kNobody, kNobody), 0);
  ::unsetenv("TMPDIR");
  EXPECT_EQ(ReadBytes(file), "newaudio");
  struct stat after {};
  ::stat(file.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, uid_t(kNobody));
  EXPECT_TRUE(fs::is_empty(tmp));
}

TEST(SaveSession, ExtendedAttributesAndAclsAreCopied) {
  ORDANA_REQUIRE_TOOL("setfattr");
  ORDANA_REQUIRE_TOOL("setfacl");
  TempDir dir;
  const std::string f = dir.File("a.flac");
  WriteBytes(f, "0123456789audio");
  if (::setxattr(f.c_str(), "user.probe", "1", 1, 0) != 0)
    GTEST_SKIP() << "no user extended attributes on this file system: " << std::strerror(errno);
  ASSERT_EQ(test::Run("setfattr -n user.station -v 'Радио 1' " + test::ShellQuote(f)), 0);
  ASSERT_EQ(test::Run("setfacl -m u:65534:rw,g:65534:r " + test::ShellQuote(f)), 0);
  std::string attrsBefore, aclBefore, attrsAfter, aclAfter;
  test::Run("getfattr -d " + test::ShellQuote(f), &attrsBefore);
  test::Run("getfacl -c " + test::ShellQuote(f), &aclBefore);
  SaveMethod method{};
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("a.flac"), "new", &method));
  EXPECT_EQ(method, SaveMethod::Replaced);
  test::Run("getfattr -d " + test::ShellQuote(f), &attrsAfter);
  test::Run("getfacl -c " + test::ShellQuote(f), &aclAfter);
  EXPECT_NE(attrsBefore.find("user.station"), std::string::npos) << attrsBefore;
  EXPECT_EQ(attrsAfter, attrsBefore);
  EXPECT_NE(aclBefore.find("user:nobody:rw-"), std::string::npos) << aclBefore;
  EXPECT_EQ(aclAfter, aclBefore);
  EXPECT_EQ(ReadBytes(f), "newaudio");
  // An attribute that cannot be carried over sends the save in place.
  WriteBytes(f, "0123456789audio");
  SetSaveTestHook([](SaveStep s) { return s == SaveStep::CopyAttributes ? EPERM : 0; });
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("a.flac"), "again", &method)) << LastSaveStatus().reason;
  SetSaveTestHook({});
  EXPECT_EQ(method, SaveMethod::InPlace);
  attrsAfter.clear();
  test::Run("getfattr -d " + test::ShellQuote(f), &attrsAfter);
  EXPECT_EQ(attrsAfter, attrsBefore);
  EXPECT_EQ(ReadBytes(f), "againaudio");
}

}  // namespace
}  // namespace ordana
