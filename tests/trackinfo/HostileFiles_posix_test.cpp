// Files made to hurt the length probe: an index bomb, a 4 GiB sparse file,
// 400 MB of noise, playlists and concatenation lists and an H.264 stream
// under an audio name. Each is measured in a child process standing for the
// report: it must get 0 (or the true length) within 2 s of CPU (its own and
// its helper's), keep its own peak memory under 128 MB, and the helper must
// open no other file and no socket.
#include <fcntl.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/HelperProcess.h"
#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/MediaFixtures.h"
#include "support/Mp4Builder.h"
#include "support/TestFiles.h"
#include "trackinfo/TrackLength.h"

namespace ordana {
namespace {

#if ORDANA_HAVE_FFMPEG

using test::ShellQuote;
using test::TempDir;

struct Outcome {
  uint32_t length = 0;
  double cpuSeconds = 0;  // the report process and its helpers
  long peakKb = 0;        // the report process alone
  int strayDescriptors = -1;  // the helper's, besides its channel and standard error
  int64_t failed = 0;     // files the helper crashed or overran on
};

double Cpu(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int StrayDescriptors(int64_t pid) {
  if (pid <= 0) return 0;  // no helper was needed
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    const std::string name = e.path().filename().string();
    if (name != "0" && name != "1" && name != "2") ++n;
  }
  return n;
}

// GetTrackLength of one file (or another way to measure it) in a child
// process of its own.
Outcome MeasureInChild(const std::u16string& file,
                       const std::function<uint32_t(const std::u16string&)>& measure = GetTrackLength) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    Outcome o;
    {
      MediaProbeSession session;
      o.length = measure(file);
      o.strayDescriptors = StrayDescriptors(MediaProbeHelperProcessId());
      o.failed = GetMediaProbeStats().filesFailed;
    }  // the helper is stopped and reaped: its time counts among the children's
    rusage self{}, children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    o.cpuSeconds = Cpu(self) + Cpu(children);
    o.peakKb = self.ru_maxrss;
    const ssize_t w = ::write(fds[1], &o, sizeof o);
    _exit(w == sizeof o ? 0 : 1);
  }
  ::close(fds[1]);
  Outcome o;
  const ssize_t got = ::read(fds[0], &o, sizeof o);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(got, static_cast<ssize_t>(sizeof o)) << "the child ended early";
  return o;
}

void ExpectBounded(const std::string& name, const Outcome& o) {
  EXPECT_LT(o.cpuSeconds, 2.0) << name;
  if (HelperMemoryLimitApplied()) {  // sanitizers reserve memory of their own
    EXPECT_LT(o.peakKb, 128 * 1024) << name;
  }
  EXPECT_EQ(o.strayDescriptors, 0) << name;
}

// Noise from a fixed seed, written in large blocks.
void WriteNoise(const std::string& path, int64_t bytes) {
  std::ofstream out(path, std::ios::binary);
  std::vector<uint64_t> block(1 << 17);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int64_t done = 0; done < bytes; done += static_cast<int64_t>(block.size() * 8)) {
    for (auto& v : block) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      v = x;
    }
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(std::min<int64_t>(bytes - done, block.size() * 8)));
  }
}

TEST(HostileFiles, GiveNoLengthWithinBoundsOfTimeAndMemory) {
  for (const char* tool : {"ffmpeg", "sox"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  std::vector<std::string> names;

  // 89 million samples of 200 bytes claimed by an 8 KB file; also under a
  // video name, which goes to FFmpeg in the helper.
  const std::string bombFile = test::IndexBombMp4();
  for (const char* n : {"bomb.m4a", "bomb.mp4", "bomb.mov"}) test::WriteBytes(dir.File(n), bombFile), names.push_back(n);

  // 4 GiB of nothing, under every name.
  for (const char* ext : {"mp3", "m4a", "flac", "ogg", "wav", "wma", "mp4", "mkv"}) {
    const std::string n = std::string("sparse.") + ext;
    const int fd = ::open(dir.File(n).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, int64_t{4} << 30), 0);
    ::close(fd);
    names.push_back(n);
  }
  WriteNoise(dir.File("noise.mp3"), 400ll << 20);
  names.push_back("noise.mp3");

  // An H.264 stream named as an MP3.
  ASSERT_TRUE(test::Encode("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=2:size=160x120:rate=25 "
                           "-c:v libx264 -f h264 " + ShellQuote(dir.File("video.mp3"))));
  names.push_back("video.mp3");

  for (const std::string& n : names) {
    const Outcome o = MeasureInChild(dir.File16(n));
    EXPECT_EQ(o.length, 0u) << n;
    ExpectBounded(n, o);
  }

  // The bomb handed to FFmpeg itself, past the check above: the index it
  // would build does not fit the helper's memory limit. Whatever FFmpeg then
  // answers, the report process stays small and nothing hangs.
  const Outcome raw = MeasureInChild(dir.File16("bomb.mp4"), [](const std::u16string& f) {
    return ProbeStreamSeconds(f) ? 1u : 0u;
  });
  ExpectBounded("bomb.mp4 through FFmpeg", raw);
}

// The real helper held up on a file (stopped, as if FFmpeg never came back):
// the probe kills it at the wall-clock limit, that file has no length, the
// warning names it, and the next file gets a fresh helper.
TEST(HostileFiles, AHelperThatOverrunsIsReplaced) {
  ORDANA_REQUIRE_TOOL("sox");
  TempDir dir;
  test::SineWav(dir, "tone.mp3.wav", "1", 8000);
  // A WAV under an MP3 name goes to FFmpeg (its content is found by probing).
  std::filesystem::rename(dir.File("tone.mp3.wav"), dir.File("tone.mp3"));
  std::vector<std::string> warnings;
  SetMediaProbeWarningSink([&](const std::string& w) { warnings.push_back(w); });
  const MediaProbeLimits saved = GetMediaProbeLimits();
  MediaProbeLimits limits = saved;
  limits.wallPerFile = std::chrono::milliseconds(300);
  SetMediaProbeLimits(limits);
  {
    MediaProbeSession session;
    EXPECT_EQ(GetTrackLength(dir.File16("tone.mp3")), 1000u);
    const auto pid = static_cast<pid_t>(MediaProbeHelperProcessId());
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(GetTrackLength(dir.File16("tone.mp3")), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(::kill(pid, 0), -1) << "the stopped helper is gone";
    EXPECT_EQ(GetMediaProbeStats().filesFailed, 1);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(dir.File("tone.mp3")), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("took more than 300 ms"), std::string::npos) << warnings[0];
    // A helper of an earlier probe outside a session may have served the
    // first file, so the starts are counted from here.
    const int64_t starts = GetMediaProbeStats().helperStarts;
    EXPECT_EQ(GetTrackLength(dir.File16("tone.mp3")), 1000u);
    EXPECT_EQ(GetMediaProbeStats().helperStarts, starts + 1);
    EXPECT_NE(MediaProbeHelperProcessId(), pid);
  }
  SetMediaProbeLimits(saved);
  SetMediaProbeWarningSink(nullptr);
}

// Lists that name other files and addresses: nothing they name is opened.
// The local names are FIFOs (an open would block until the wall-clock limit
// killed the helper) and the address a listening socket (a connection would
// wait in its queue).
TEST(HostileFiles, ListsOfOtherFilesOpenNothingElse) {
  ORDANA_REQUIRE_TOOL("sox");
  TempDir dir;
  test::SineWav(dir, "tone.wav", "1", 8000);
  ASSERT_EQ(::mkfifo(dir.File("target.fifo").c_str(), 0600), 0);
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x.ts";

  test::WriteBytes(dir.File("concat.mp3"), "ffconcat version 1.0\nfile 'target.fifo'\nfile 'tone.wav'\nfile '" +
                                               url + "'\n");
  test::WriteBytes(dir.File("playlist.mp3"), "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\n" +
                                                 dir.File("target.fifo") + "\n#EXTINF:1.0,\n" + url +
                                                 "\n#EXTINF:1.0,\ntone.wav\n#EXT-X-ENDLIST\n");
  test::WriteBytes(dir.File("list.m3u8"), test::ReadBytes(dir.File("playlist.mp3")));
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());  // where relative names would lead
  for (const char* n : {"concat.mp3", "playlist.mp3", "list.m3u8"}) {
    const Outcome o = MeasureInChild(dir.File16(n));
    EXPECT_EQ(o.length, 0u) << n;
    EXPECT_EQ(o.failed, 0) << n << ": the helper hung or crashed";
    ExpectBounded(n, o);
  }
  std::filesystem::current_path(cwd);
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "something connected to " << url;
  ::close(listener);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Where the machine lets a process be traced: the helper's own system calls
// for the hostile files hold no open but its program's libraries and no
// socket at all.
TEST(HostileFiles, TheHelperOpensNothingByName) {
  if (test::Run("strace -f -qq -o /dev/null true") != 0) GTEST_SKIP() << "strace cannot trace here";
  TempDir dir;
  const std::string log = dir.File("trace.log");
  const std::string wrapper = dir.File("traced-probe");
  test::WriteBytes(wrapper, "#!/bin/sh\nexec strace -f -qq -o " + ShellQuote(log) +
                                " -e trace=open,openat,openat2,creat,socket,connect,bind " +
                                ShellQuote(Utf16ToUtf8(MediaProbeHelper()).bytes()) + "\n");
  ::chmod(wrapper.c_str(), 0755);
  test::WriteBytes(dir.File("concat.mp3"), "ffconcat version 1.0\nfile '" + dir.File("other.wav") + "'\n");
  test::WriteBytes(dir.File("playlist.mp4"), "#EXTM3U\n#EXTINF:1.0,\nhttp://127.0.0.1:9/x.ts\n#EXT-X-ENDLIST\n");
  test::WriteBytes(dir.File("other.wav"), "RIFF");
  std::string noise(1 << 20, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  test::WriteBytes(dir.File("noise.wma"), noise);

  const std::u16string saved = MediaProbeHelper();
  SetMediaProbeHelper(Utf8ToUtf16(Utf8View(wrapper)));
  {
    MediaProbeSession session;
    for (const char* n : {"concat.mp3", "playlist.mp4", "noise.wma"}) EXPECT_EQ(GetTrackLength(dir.File16(n)), 0u) << n;
    EXPECT_EQ(GetMediaProbeStats().filesMeasured, 4) << "the video name asks twice";
  }
  SetMediaProbeHelper(saved);
  std::istringstream trace(test::ReadBytes(log));
  std::string line;
  int opens = 0;
  while (std::getline(trace, line)) {
    if (line.find("socket(") != std::string::npos || line.find("connect(") != std::string::npos)
      ADD_FAILURE() << line;
    if (line.find("open") == std::string::npos) continue;
    ++opens;
    // The dynamic loader's libraries, before the helper says hello.
    const bool library = line.find("/etc/ld.so") != std::string::npos || line.find("/lib") != std::string::npos;
    // A sanitizer's runtime reads the process's own /proc entries at start.
    const bool sanitizerRuntime = kSanitized && line.find("\"/proc/self/") != std::string::npos;
    if (!library && !sanitizerRuntime) ADD_FAILURE() << line;
  }
  EXPECT_GT(opens, 0) << "the trace saw nothing at all";
}

#endif  // ORDANA_HAVE_FFMPEG

}  // namespace
}  // namespace ordana
