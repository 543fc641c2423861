// Only regular files are ever opened. A FIFO, a device and a folder named
// like a file (in a play log, or as a log of the folder) are refused before
// any open: the system's own open notifications (inotify) must not see one.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "report/CollectSongs.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::TempDir;
using test::WriteBytes;

// Counts the opens of the watched paths by anyone.
class OpenWatch {
 public:
  OpenWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Watch(const std::string& path) {
    return fd_ >= 0 && ::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_DONT_FOLLOW) >= 0;
  }
  int Opens() {
    int n = 0;
    alignas(inotify_event) char buf[4096];
    for (;;) {
      const ssize_t got = ::read(fd_, buf, sizeof buf);
      if (got <= 0) return n;
      for (ssize_t p = 0; p < got;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + p);
        if (e->mask & IN_OPEN) ++n;
        p += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
  }

 private:
  int fd_;
};

// A FIFO, and a device node of our own with the numbers of /dev/zero (so no
// other program's opens of /dev/zero are counted); empty when the system
// does not let this test make a device node.
struct SpecialFiles {
  TempDir dir;
  std::string fifo = dir.File("pipe.mp3");
  std::string device = dir.File("zero.flac");
  bool haveDevice = false;
  OpenWatch watch;
  SpecialFiles() {
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    haveDevice = ::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
    EXPECT_TRUE(watch.Watch(fifo));
    if (haveDevice) {
      EXPECT_TRUE(watch.Watch(device));
    }
  }
};

TEST(SpecialFiles, TheWatchSeesAnOpen) {
  // The check below is worth something only if an open is seen.
  SpecialFiles s;
  const int fd = ::open(s.fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(s.watch.Opens(), 1);
}

TEST(SpecialFiles, NeverOpenedForReading) {
  SpecialFiles s;
  std::filesystem::create_directory(s.dir.path() / "folder.ogg");
  std::filesystem::create_symlink("/dev/zero", s.dir.path() / "dev-zero.wma");
  for (const char* name : {"pipe.mp3", "zero.flac", "folder.ogg", "dev-zero.wma"}) {
    if (std::string(name) == "zero.flac" && !s.haveDevice) continue;
    int err = 0;
    EXPECT_FALSE(InputFile::Open(s.dir.File16(name), &err)) << name;
    EXPECT_EQ(err, std::string(name) == "folder.ogg" ? EISDIR : ENXIO) << name;
    EXPECT_EQ(CheckReadable(s.dir.File16(name)), ReadCheck::NotReadable) << name;
    EXPECT_THROW(ReadWholeFile(s.dir.File16(name)), EFOpenError) << name;
  }
  EXPECT_EQ(s.watch.Opens(), 0);
  if (!s.haveDevice) GTEST_SKIP() << "no device node could be made here; the FIFO was checked";
}

TEST(SpecialFiles, PlayLogNamingThemReadsNothingFromThem) {
  SpecialFiles s;
  TempDir logs;
  std::string log;
  for (const std::string& p : {s.fifo, s.device, std::string("/dev/zero"), s.dir.File("pipe.ogg"),
                               s.dir.File("pipe.m4a")})
    log += "10:00;;3:00;" + p + ";x\r\n";
  ASSERT_EQ(::mkfifo(s.dir.File("pipe.ogg").c_str(), 0600), 0);
  ASSERT_EQ(::link(s.fifo.c_str(), s.dir.File("pipe.m4a").c_str()), 0);  // the same FIFO again
  WriteBytes(logs.File("2026-11-01.csv"), log);
  ASSERT_TRUE(s.watch.Watch(s.dir.File("pipe.ogg")));
  TBuildSummary summary;
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<TSongInfo> rows = CollectSongs(U16(logs.path().string()), {2026, 11, 1}, {2026, 11, 30}, &summary);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(rows.size(), 5u);
  for (const TSongInfo& r : rows) EXPECT_EQ(r.Len, 0u) << Utf16ToUtf8(r.FN);
  EXPECT_EQ(summary.FilesNotReadable, s.haveDevice ? 5 : 4);  // a failed mknod leaves nothing there
  EXPECT_EQ(s.watch.Opens(), 0);
}

TEST(SpecialFiles, LogFolderEntriesThatAreNoFilesFailAtOnce) {
  SpecialFiles s;
  TempDir logs;
  WriteBytes(logs.File("2026-11-01.csv"), "10:00;;3:00;N:\\a.mp3;x\r\n");
  const std::string fifoLog = logs.File("2026-11-02.csv");
  ASSERT_EQ(::mkfifo(fifoLog.c_str(), 0600), 0);
  ASSERT_TRUE(s.watch.Watch(fifoLog));
  const std::string deviceLog = logs.File("2026-11-03.csv");
  const bool device = ::mknod(deviceLog.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
  if (device) {
    ASSERT_TRUE(s.watch.Watch(deviceLog));
  }
  for (const std::string& bad : {fifoLog, deviceLog}) {
    if (bad == deviceLog && !device) continue;
    // Only the one bad log in the period.
    const TDate day = bad == fifoLog ? TDate{2026, 11, 2} : TDate{2026, 11, 3};
    try {
      CollectSongs(U16(logs.path().string()), day, day);
      ADD_FAILURE() << bad << " was read as a log";
    } catch (const EOrdanaError& e) {
      EXPECT_EQ(e.ClassName(), "EFOpenError");
      EXPECT_EQ(e.Message(), "Cannot open file \"" + bad + "\". " + SystemMessage(ENXIO));
    }
  }
  EXPECT_EQ(s.watch.Opens(), 0);
}

}  // namespace
}  // namespace ordana
