#include "platform/ReadAhead.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::TempDir;
constexpr int64_t kKiB = 1024;
constexpr ReadAheadSettings kAlways{256 * kKiB, 64 * kKiB, 4, false};

DWORD Handles() {
  DWORD n = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &n);
  return n;
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string u = Utf8ToUtf16(Utf8View(utf8));
  return std::wstring(u.begin(), u.end());
}

TEST(ReadAhead, HintsLockNobodyOutAndHoldBoundedHandles) {
  // Twenty announced files: each can at once be opened for writing by a
  // program that shares nothing, renamed and deleted; the object never
  // holds more than Depth files (and two events each), and nothing once it
  // has ended.
  TempDir dir;
  for (int i = 0; i < 20; ++i) test::WriteBytes(dir.File("t" + std::to_string(i) + ".mp3"), std::string(400 * kKiB, 'x'));
  const DWORD before = Handles();
  {
    FileReadAhead ahead(kAlways);
    for (int i = 0; i < 20; ++i) {
      const std::string name = "t" + std::to_string(i) + ".mp3";
      ahead.Announce(dir.File16(name));
      EXPECT_LE(Handles(), before + 3 * kAlways.Depth) << name;
      // The report's own read of the file, which denies writers, opens.
      EXPECT_TRUE(InputFile::Open(dir.File16(name))) << name;
      HANDLE w = ::CreateFileW(Wide(dir.File(name)).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
      EXPECT_NE(w, INVALID_HANDLE_VALUE) << name << ": the hint keeps a writer out";
      if (w != INVALID_HANDLE_VALUE) ::CloseHandle(w);
      const std::string moved = dir.File("moved" + std::to_string(i) + ".mp3");
      EXPECT_TRUE(::MoveFileW(Wide(dir.File(name)).c_str(), Wide(moved).c_str())) << name;
      EXPECT_TRUE(::DeleteFileW(Wide(moved).c_str())) << name;
    }
  }
  EXPECT_EQ(Handles(), before);
}

TEST(ReadAhead, ReadsTheHeadAndTheTail) {
  // The hint's own reads, as the system counts this process's reads: the
  // first 256 KiB and the last 64 KiB of a 1 MiB file, nothing of a file
  // announced with depth 0.
  TempDir dir;
  test::WriteBytes(dir.File("track.mp3"), std::string(1024 * kKiB, 'x'));
  IO_COUNTERS before{}, after{};
  if (!::GetProcessIoCounters(::GetCurrentProcess(), &before)) GTEST_SKIP() << "no I/O counters here";
  {
    FileReadAhead off(ReadAheadSettings{256 * kKiB, 64 * kKiB, 0, false});
    off.Announce(dir.File16("track.mp3"));
  }
  ASSERT_TRUE(::GetProcessIoCounters(::GetCurrentProcess(), &after));
  EXPECT_EQ(after.ReadTransferCount, before.ReadTransferCount);
  {
    FileReadAhead ahead(kAlways);
    ahead.Announce(dir.File16("track.mp3"));
  }
  ASSERT_TRUE(::GetProcessIoCounters(::GetCurrentProcess(), &after));
  if (after.ReadTransferCount == before.ReadTransferCount) GTEST_SKIP() << "this system does not count reads";
  EXPECT_EQ(after.ReadTransferCount - before.ReadTransferCount, uint64_t{320 * kKiB});
  EXPECT_EQ(after.ReadOperationCount - before.ReadOperationCount, 2u);
}

TEST(ReadAhead, LeavesAlonePathsThatAreNoRegularFile) {
  // A folder, devices, a pipe name, a missing file, a stream address and an
  // empty path: each announcement returns at once and keeps nothing open.
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder.mp3");
  const DWORD before = Handles();
  FileReadAhead ahead(kAlways);
  const auto t0 = std::chrono::steady_clock::now();
  ahead.Announce(dir.File16("folder.mp3"));
  ahead.Announce(dir.File16("missing.ogg"));
  ahead.Announce(dir.File16("NUL"));
  ahead.Announce(dir.File16("COM1.mp3"));
  ahead.Announce(u"\\\\.\\pipe\\ordana-no-such-pipe");
  ahead.Announce(u"\\\\.\\CONIN$");
  ahead.Announce(u"http://radio.example/live 30");
  ahead.Announce(u"");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  // Events made for reads may stay; files may not.
  EXPECT_LE(Handles(), before + 2 * kAlways.Depth);
}

TEST(ReadAhead, ShortEmptyAndPausedFilesReadLikeOthers) {
  // A file shorter than head and tail together, an empty one, and hints
  // that pause while everything comes from memory: the files read the same
  // afterwards, and no handle is left.
  TempDir dir;
  test::WriteBytes(dir.File("short.flac"), std::string(1000, 's'));
  test::WriteBytes(dir.File("empty.wav"), "");
  const DWORD before = Handles();
  {
    FileReadAhead paused(ReadAheadSettings{16 * kKiB, 4 * kKiB, 2, true});
    for (int i = 0; i < 12; ++i) paused.Announce(dir.File16("short.flac"));
    paused.Announce(dir.File16("empty.wav"));
    FileReadAhead off(ReadAheadSettings{16 * kKiB, 4 * kKiB, 0, false});
    off.Announce(dir.File16("short.flac"));
  }
  EXPECT_EQ(Handles(), before);
  EXPECT_EQ(ReadWholeFile(dir.File16("short.flac")), std::string(1000, 's'));
  EXPECT_EQ(ReadWholeFile(dir.File16("empty.wav")), "");
}

}  // namespace
}  // namespace ordana
