#include "platform/ReadAhead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::TempDir;
constexpr int64_t kKiB = 1024;
constexpr int64_t kPage = 4096;

// A file of `size` bytes, written to the disk and then evicted from the page
// cache; false when this file system keeps it in memory regardless (tmpfs).
bool MakeColdFile(const std::string& path, int64_t size) {
  {
    std::string bytes(static_cast<size_t>(size), '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
    test::WriteBytes(path, bytes);
  }
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
  struct statfs fs {};
  return ::statfs(path.c_str(), &fs) == 0 && fs.f_type != 0x01021994;  // TMPFS_MAGIC
}

// Which pages of the file are in the page cache.
std::vector<bool> Resident(const std::string& path) {
  std::vector<bool> out;
  const int fd = ::open(path.c_str(), O_RDONLY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0) return out;
  const auto size = static_cast<size_t>(st.st_size);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (map != MAP_FAILED) {
    std::vector<unsigned char> vec((size + kPage - 1) / kPage);
    if (::mincore(map, size, vec.data()) == 0)
      for (unsigned char c : vec) out.push_back(c & 1);
    ::munmap(map, size);
  }
  ::close(fd);
  return out;
}

bool AllResident(const std::vector<bool>& pages, size_t from, size_t to) {
  for (size_t i = from; i < to && i < pages.size(); ++i)
    if (!pages[i]) return false;
  return from < to;
}

size_t CountResident(const std::vector<bool>& pages) {
  size_t n = 0;
  for (bool b : pages) n += b ? 1 : 0;
  return n;
}

// Waits up to two seconds for the given pages of the file to be cached.
bool BecomeResident(const std::string& path, size_t from, size_t to) {
  for (int i = 0; i < 200; ++i) {
    if (AllResident(Resident(path), from, to)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

size_t OpenDescriptors() {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) n += e.exists() ? 1 : 0;
  return n;
}

const ReadAheadSettings kAlways{64 * kKiB, 16 * kKiB, 4, false};

TEST(ReadAhead, HintsTheHeadAndTheTailOnly) {
  TempDir dir;
  const std::string path = dir.File("track.mp3");
  const int64_t size = 4 * 1024 * kKiB + 1000;  // the last page is a partial one
  if (!MakeColdFile(path, size)) GTEST_SKIP() << "the temporary folder is held in memory";
  const size_t pages = static_cast<size_t>((size + kPage - 1) / kPage);
  if (CountResident(Resident(path)) != 0) GTEST_SKIP() << "pages stay cached after eviction here";

  FileReadAhead ahead(kAlways);
  ahead.Announce(dir.File16("track.mp3"));
  EXPECT_TRUE(BecomeResident(path, 0, 16)) << "first 64 KiB";
  EXPECT_TRUE(BecomeResident(path, pages - 4, pages)) << "last 16 KiB";
  // Nothing in between was asked for (the kernel may round a range, not
  // read megabytes past it).
  const std::vector<bool> now = Resident(path);
  EXPECT_FALSE(now[pages / 2]) << "the middle of the file";
  EXPECT_LT(CountResident(now), 16u + 4u + 64u);
}

TEST(ReadAhead, ShortFileAndPathMappings) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "Music");
  const std::string path = dir.File("Music/short.flac");
  if (!MakeColdFile(path, 50 * kKiB)) GTEST_SKIP() << "the temporary folder is held in memory";
  if (CountResident(Resident(path)) != 0) GTEST_SKIP() << "pages stay cached after eviction here";
  // The log's Windows path reaches the file through the mapping, and head
  // and tail overlapping cover the whole file once.
  SetPathMappings({PathMapping{u"N:\\Music\\", Utf8ToUtf16(Utf8View(dir.File("Music/")))}});
  FileReadAhead ahead(kAlways);
  ahead.Announce(u"N:\\Music\\short.flac");
  SetPathMappings({});
  EXPECT_TRUE(BecomeResident(path, 0, 13));
}

TEST(ReadAhead, LeavesAlonePathsThatAreNoRegularFile) {
  // A FIFO without a writer (an open that waited would hang the report), a
  // folder, a device, a missing file, a stream address and an empty path:
  // each announcement returns at once and keeps nothing open.
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("pipe.mp3").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.path() / "folder.mp3");
  std::filesystem::create_symlink("/dev/zero", dir.path() / "zero.flac");
  const size_t before = OpenDescriptors();
  FileReadAhead ahead(kAlways);
  const auto t0 = std::chrono::steady_clock::now();
  for (const char* name : {"pipe.mp3", "folder.mp3", "zero.flac", "missing.ogg"})
    ahead.Announce(dir.File16(name));
  ahead.Announce(u"http://radio.example/live 30");
  ahead.Announce(u"");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(OpenDescriptors(), before);
  // The FIFO has no reader left: a writer that does not wait is refused.
  const int w = ::open(dir.File("pipe.mp3").c_str(), O_WRONLY | O_NONBLOCK);
  EXPECT_EQ(w, -1);
  EXPECT_EQ(errno, ENXIO);
  if (w >= 0) ::close(w);
}

TEST(ReadAhead, DepthZeroHintsNothing) {
  TempDir dir;
  const std::string path = dir.File("a.ogg");
  if (!MakeColdFile(path, 256 * kKiB)) GTEST_SKIP() << "the temporary folder is held in memory";
  if (CountResident(Resident(path)) != 0) GTEST_SKIP() << "pages stay cached after eviction here";
  FileReadAhead off(ReadAheadSettings{64 * kKiB, 16 * kKiB, 0, false});
  off.Announce(dir.File16("a.ogg"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(CountResident(Resident(path)), 0u);
}

TEST(ReadAhead, PausesWhileEverythingComesFromMemoryAndResumesAfterADiskRead) {
  TempDir dir;
  const std::string warm = dir.File("warm.mp3"), cold1 = dir.File("cold1.mp3"),
                    cold2 = dir.File("cold2.mp3"), trigger = dir.File("trigger.bin");
  test::WriteBytes(warm, std::string(100 * kKiB, 'w'));
  if (!MakeColdFile(cold1, 200 * kKiB) || !MakeColdFile(cold2, 200 * kKiB) ||
      !MakeColdFile(trigger, 64 * kKiB))
    GTEST_SKIP() << "the temporary folder is held in memory";
  if (CountResident(Resident(cold1)) + CountResident(Resident(cold2)) != 0)
    GTEST_SKIP() << "pages stay cached after eviction here";

  const ReadAheadSettings paused{16 * kKiB, 4 * kKiB, 2, true};
  FileReadAhead ahead(paused);
  // Announcements of a cached file read nothing from the disk; after 2 x
  // Depth of them the hints stop.
  for (int i = 0; i < 8; ++i) ahead.Announce(dir.File16("warm.mp3"));
  ahead.Announce(dir.File16("cold1.mp3"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(CountResident(Resident(cold1)), 0u) << "hinted while paused";

  // A read that goes to the disk resumes them.
  struct rusage before {}, after {};
  ::getrusage(RUSAGE_THREAD, &before);
  {
    InputFile f = InputFile::Open(dir.File16("trigger.bin"));
    char buf[4096];
    ASSERT_EQ(f.ReadAt(0, buf, sizeof buf), 4096);
  }
  ::getrusage(RUSAGE_THREAD, &after);
  if (after.ru_inblock == before.ru_inblock)
    GTEST_SKIP() << "this system does not count the blocks a thread reads";
  ahead.Announce(dir.File16("cold2.mp3"));
  EXPECT_TRUE(BecomeResident(cold2, 0, 4));
}

}  // namespace
}  // namespace ordana
