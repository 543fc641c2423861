// The save layer through its portable interface, on every system: commits,
// refusals, every injected fault, savers taking turns.
#include "platform/SafeWrite.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/Host.h"
#include "support/FaultInjection.h"
#include "support/SaveFaults.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

namespace fs = std::filesystem;
using test::Entries;
using test::FailingSteps;
using test::ReadBytes;
using test::RewriteKeepingTail;
using test::TempDir;
using test::WriteBytes;

void MakeReadOnly(const fs::path& p) {
  fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

TEST(SaveSession, RewriteLeavesNothingBehind) {
  TempDir dir;
  const auto p = dir.File("a.bin");
  WriteBytes(p, "0123456789" + std::string(1000, 'x'));
  SaveMethod method{};
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("a.bin"), "new head ", &method));
  EXPECT_EQ(method, SaveMethod::Replaced);
  EXPECT_EQ(ReadBytes(p), "new head " + std::string(1000, 'x'));
  EXPECT_EQ(Entries(dir.path()), 1u);

  // A producer that gives up leaves the file and says so.
  {
    SaveSession s(dir.File16("a.bin"));
    ASSERT_TRUE(s);
    EXPECT_FALSE(s.Rewrite([](OutputFile& out) { return out.Write("partial") && false; }));
    EXPECT_EQ(s.Status().failure, SaveFailure::Cancelled);
    EXPECT_FALSE(s.Rewrite([](OutputFile&) { return true; }));  // one commit per session
  }
  EXPECT_EQ(ReadBytes(p), "new head " + std::string(1000, 'x'));
  EXPECT_EQ(Entries(dir.path()), 1u);
  // Copying more of the old content than there is fails the save.
  {
    SaveSession s(dir.File16("a.bin"));
    EXPECT_FALSE(s.Rewrite([](OutputFile& out) { return out.CopyOriginal(5, 100000); }));
  }
  EXPECT_EQ(ReadBytes(p), "new head " + std::string(1000, 'x'));
  EXPECT_EQ(Entries(dir.path()), 1u);
}

TEST(SaveSession, ReadOnlyMissingAndOtherKindsOfFileAreRefused) {
  TempDir dir;
  WriteBytes(dir.File("ro.bin"), "keep");
  MakeReadOnly(dir.path() / "ro.bin");
  for (bool patch : {false, true}) {
    SaveSession s(dir.File16("ro.bin"));
    EXPECT_FALSE(s);  // the administrator included
    EXPECT_EQ(s.Status().failure, SaveFailure::ReadOnly);
    EXPECT_EQ(s.Status().reason, "read-only");
    EXPECT_EQ(LastSaveStatus().reason, "read-only");
    EXPECT_FALSE(patch ? s.Patch({{0, "x"}}) : s.Rewrite([](OutputFile& o) { return o.Write("x"); }));
  }
  EXPECT_EQ(ReadBytes(dir.File("ro.bin")), "keep");

  SaveSession missing(dir.File16("none.bin"));
  EXPECT_EQ(missing.Status().failure, SaveFailure::NotFound);
  fs::create_directory(dir.path() / "sub");
  EXPECT_EQ(SaveSession(dir.File16("sub")).Status().failure, SaveFailure::NotRegular);

  SaveOptions create;
  create.createIfMissing = true;
  {
    SaveSession s(dir.File16("new.bin"), create);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s.Created());
    EXPECT_EQ(s.Size(), 0);
  }
  EXPECT_FALSE(fs::exists(dir.path() / "new.bin"));  // no commit: the created file goes again
  {
    SaveSession s(dir.File16("new.bin"), create);
    ASSERT_TRUE(s.Rewrite([](OutputFile& o) { return o.Write("made"); }));
  }
  EXPECT_EQ(ReadBytes(dir.File("new.bin")), "made");
  SaveSession noFolder(dir.File16("no/such/folder.bin"), create);
  EXPECT_EQ(noFolder.Status().failure, SaveFailure::CreateFailed);
  EXPECT_EQ(noFolder.Status().code, ENOENT);
}

TEST(SaveSession, HardLinkedFilesAreRewrittenInPlace) {
  TempDir dir;
  WriteBytes(dir.File("a.mp3"), "0123456789" + std::string(5000, 't'));
  fs::create_hard_link(dir.path() / "a.mp3", dir.path() / "b.mp3");
  SaveMethod method{};
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("a.mp3"), "longer new head ", &method));
  EXPECT_EQ(method, SaveMethod::InPlace);
  const std::string want = "longer new head " + std::string(5000, 't');
  EXPECT_EQ(ReadBytes(dir.File("b.mp3")), want);  // the other name sees the change
  EXPECT_TRUE(fs::equivalent(dir.path() / "a.mp3", dir.path() / "b.mp3"));
  // (MinGW's C library always counts one link, so only the sharing is
  // checked there.)
  if (!kHostIsWindows) {
    EXPECT_EQ(fs::hard_link_count(dir.path() / "a.mp3"), 2u);
  }
  EXPECT_EQ(Entries(dir.path()), 2u);  // no journal left
  // Shorter content: the file is cut to it.
  ASSERT_TRUE(RewriteKeepingTail(dir.File16("b.mp3"), "s", &method));
  EXPECT_EQ(ReadBytes(dir.File("a.mp3")), "s" + want.substr(10));
}

TEST(SaveSession, PatchesAreWrittenTogetherAndCheckedFirst) {
  TempDir dir;
  const auto p = dir.File("a.bin");
  WriteBytes(p, "0123456789");
  const auto path = dir.File16("a.bin");
  EXPECT_FALSE(SaveSession(path).Patch({{8, "abc"}}));  // would grow the file
  EXPECT_FALSE(SaveSession(path).Patch({{-1, "a"}}));
  EXPECT_FALSE(SaveSession(path).Patch({{2, "abc"}, {4, "x"}}));  // overlap
  EXPECT_EQ(ReadBytes(p), "0123456789");
  {
    SaveSession s(path);
    ASSERT_TRUE(s.Patch({{7, "xyz"}, {0, "AB"}}));
    EXPECT_EQ(s.Method(), SaveMethod::Patched);
  }
  EXPECT_EQ(ReadBytes(p), "AB23456xyz");
  {
    SaveSession s(path);
    ASSERT_TRUE(s.Patch({{0, "AB"}}));
    EXPECT_EQ(s.Method(), SaveMethod::Unchanged);
  }
  EXPECT_EQ(Entries(dir.path()), 1u);
}

// Every counted step of each commit path fails once in turn; after each
// failure the file is byte-identical, after each success it is complete, and
// the next session leaves nothing of the save behind.
TEST(SaveSession, EveryInjectedFaultLeavesTheFileWholeOrSaved) {
  TempDir dir;
  const std::string original = "0123456789" + std::string(300000, 'o');
  const std::string head(200000, 'n');
  const std::string rewritten = head + original.substr(10);
  struct Case {
    const char* name;
    bool hardLink;
    bool patch;
  } cases[] = {{"replace", false, false}, {"in place", true, false}, {"patch", false, true}};
  const std::initializer_list<SaveStep> steps = {
      SaveStep::Open,  SaveStep::Lock,           SaveStep::Write,        SaveStep::Sync,
      SaveStep::Truncate, SaveStep::Rename,      SaveStep::Link,         SaveStep::Chown,
      SaveStep::CopyAttributes, SaveStep::JournalWrite, SaveStep::JournalSync, SaveStep::Unlink,
      SaveStep::Locked, SaveStep::Committing};
  const auto path = dir.File16("a.bin");
  for (const Case& c : cases) {
    const std::string expected = c.patch ? "AB" + original.substr(2, original.size() - 5) + "xyz" : rewritten;
    int survived = 0, saved = 0;
    for (int n = 1; n < 500; ++n) {
      WriteBytes(dir.File("a.bin"), original);
      if (c.hardLink) fs::create_hard_link(dir.path() / "a.bin", dir.path() / "b.bin");
      bool ok;
      bool fired;
      {
        FailingSteps faults(n, steps);
        SaveSession s(path);
        ok = c.patch ? s.Patch({{0, "AB"}, {int64_t(original.size()) - 3, "xyz"}})
                     : s.Rewrite([&](OutputFile& out) { return out.Write(head) && out.CopyOriginal(10); });
        fired = faults.Fired();
      }
      const std::string now = ReadBytes(dir.File("a.bin"));
      if (ok) {
        ASSERT_EQ(now.size(), expected.size()) << c.name << " fault " << n;
        ASSERT_TRUE(now == expected) << c.name << " fault " << n;
        ++saved;
      } else {
        ASSERT_TRUE(now == original) << c.name << " fault " << n;
        ++survived;
      }
      if (c.hardLink) {
        ASSERT_TRUE(ReadBytes(dir.File("b.bin")) == now) << c.name << " fault " << n;
        fs::remove(dir.path() / "b.bin");
      }
      // The next save finishes whatever the fault left (a journal whose
      // removal failed) and leaves only the file.
      { SaveSession next(path); ASSERT_TRUE(next) << c.name << " fault " << n; }
      ASSERT_EQ(ReadBytes(dir.File("a.bin")), now) << c.name << " fault " << n;
      ASSERT_EQ(Entries(dir.path()), 1u) << c.name << " fault " << n;
      if (!fired) break;
    }
    EXPECT_GE(survived, 3) << c.name;
    EXPECT_GE(saved, 1) << c.name;
    std::printf("[ info ] %s: %d faults left the original, %d saves completed\n", c.name, survived, saved);
  }
}


// Two sessions on one file in one interleaving: A holds the lock and
// replaces the file while B waits; B then finds the path naming a new file,
// opens that, and reads A's content before committing its own.
TEST(SaveSession, AWaitingSaverOpensTheFileTheFirstOneLeft) {
  TempDir dir;
  WriteBytes(dir.File("a.bin"), "0123456789original");
  const auto path = dir.File16("a.bin");
  std::mutex m;
  std::condition_variable cv;
  bool bWaiting = false;
  const auto aThread = std::this_thread::get_id();
  SetSaveTestHook([&](SaveStep step) {
    std::unique_lock<std::mutex> lock(m);
    if (step == SaveStep::LockBusy && std::this_thread::get_id() != aThread) {
      bWaiting = true;
      cv.notify_all();
    }
    if (step == SaveStep::Committing && std::this_thread::get_id() == aThread)
      cv.wait(lock, [&] { return bWaiting; });  // A commits only once B waits for it
    return 0;
  });
  SaveSession a(path);
  ASSERT_TRUE(a);
  std::string bRead;
  bool bSaved = false;
  std::thread b([&] {
    SaveSession s(path);
    if (!s) return;
    bRead.resize(size_t(s.Size()));
    s.ReadAt(0, bRead.data(), bRead.size());
    bSaved = s.Rewrite([](OutputFile& out) { return out.Write("B:") && out.CopyOriginal(0); });
  });
  EXPECT_TRUE(a.Rewrite([](OutputFile& out) { return out.Write("A:") && out.CopyOriginal(10); }));
  b.join();
  SetSaveTestHook({});
  EXPECT_EQ(bRead, "A:original");
  EXPECT_TRUE(bSaved);
  EXPECT_EQ(ReadBytes(dir.File("a.bin")), "B:A:original");
}

TEST(SaveSession, BusyFileAndFileSystemsWithoutLocks) {
  TempDir dir;
  WriteBytes(dir.File("a.bin"), "0123456789");
  const auto path = dir.File16("a.bin");
  {
    SaveSession holder(path);
    ASSERT_TRUE(holder);
    SaveOptions quick;
    quick.lockWaitMs = 100;
    SaveSession other(path, quick);
    EXPECT_FALSE(other);
    EXPECT_EQ(other.Status().failure, SaveFailure::Busy);
    EXPECT_NE(other.Status().reason.find("file is busy"), std::string::npos);
  }
  // Without locks the identity check still catches a file replaced under
  // the session: the replacement is left alone. (Windows refuses to put a
  // file in the place of one that is open, so nothing can replace it there.)
  if (kHostIsWindows) return;
  SetSaveTestHook([](SaveStep step) { return step == SaveStep::Lock ? ENOLCK : 0; });
  {
    SaveSession s(path);
    ASSERT_TRUE(s) << s.Status().reason;
    WriteBytes(dir.File("other"), "someone else's");
    fs::rename(dir.path() / "other", dir.path() / "a.bin");
    EXPECT_FALSE(s.Patch({{0, "x"}}));
    EXPECT_EQ(s.Status().failure, SaveFailure::Changed);
  }
  SetSaveTestHook({});
  EXPECT_EQ(ReadBytes(dir.File("a.bin")), "someone else's");
}
}  // namespace
}  // namespace ordana
