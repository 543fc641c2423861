#include "platform/MediaProbe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/MediaFixtures.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::TempDir;

TEST(MediaProbe, AddressesAreTextsWithAScheme) {
  for (const char16_t* t : {u"http://radio/live", u"mms://x", u"file:///srv/a.mp3", u"svn+ssh://h/r", u"ab://"})
    EXPECT_TRUE(LooksLikeAddress(t)) << Utf16ToUtf8(t);
  for (const char16_t* t : {u"C://Music/a.mp3", u"C:\\Music\\a.mp3", u"/srv/http://a", u"://x", u"1http://x",
                            u"http:/x", u"", u"http"})
    EXPECT_FALSE(LooksLikeAddress(t)) << Utf16ToUtf8(t);
}

#if ORDANA_HAVE_FFMPEG

// Catches what is written to the process's standard error meanwhile.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& file) : file_(file) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  std::string Finish() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
    return test::ReadBytes(file_);
  }
  ~StderrCapture() {
    if (saved_ >= 0) Finish();
  }

 private:
  std::string file_;
  int saved_ = -1;
};

TEST(MediaProbe, ExactHeadersNeedNoAnalysis) {
  for (const char* tool : {"sox", "lame", "flac", "oggenc", "ffmpeg"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::string wav = test::SineWav(dir, "tone.wav", "3", 22050);
  ASSERT_TRUE(test::EncodeWav(dir, wav, {{"tone.flac"}, {"tone.ogg"}, {"xing.mp3", "-V 7"}, {"tone.m4a"}, {"tone.wma"}}));
  for (const char* name : {"tone.wav", "tone.flac", "tone.ogg", "xing.mp3", "tone.m4a", "tone.wma"}) {
    auto len = ProbeAudioLength(dir.File16(name));
    ASSERT_TRUE(len) << name;
    EXPECT_FALSE(len->FromStreamInfo) << name;
    EXPECT_GE(len->Seconds, 3.0) << name;
    EXPECT_LT(len->Seconds, 3.1) << name;
  }
  // Sample-exact where the header counts samples.
  EXPECT_EQ(ProbeAudioLength(dir.File16("tone.flac"))->Seconds, 3.0);
  EXPECT_EQ(ProbeAudioLength(dir.File16("tone.wav"))->Seconds, 3.0);
  EXPECT_EQ(ProbeAudioLength(dir.File16("tone.ogg"))->Seconds, 3.0);
}

// Without a Xing/Info frame an MP3's length is an estimate from its size
// and first bit rate: close for constant bit rates, rough for variable ones.
TEST(MediaProbe, Mp3WithoutVbrHeaderIsEstimated) {
  for (const char* tool : {"sox", "lame"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::string wav = test::SineWav(dir, "tone.wav", "3", 22050);
  ASSERT_TRUE(test::EncodeWav(dir, wav, {{"cbr.mp3", "-t -b 64"}, {"vbr.mp3", "-t -V 7"}}));
  EXPECT_FALSE(test::ReadXingHeader(test::ReadBytes(dir.File("cbr.mp3"))));
  auto cbr = ProbeAudioLength(dir.File16("cbr.mp3"));
  ASSERT_TRUE(cbr);
  EXPECT_TRUE(cbr->FromStreamInfo);
  EXPECT_NEAR(cbr->Seconds, 3.03, 0.03);
  auto vbr = ProbeAudioLength(dir.File16("vbr.mp3"));
  ASSERT_TRUE(vbr);
  EXPECT_TRUE(vbr->FromStreamInfo);
  EXPECT_NEAR(vbr->Seconds, 3.0, 0.6);
}

TEST(MediaProbe, ContentDecidesWhenTheExtensionMisleads) {
  for (const char* tool : {"sox", "lame"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::string wav = test::SineWav(dir, "tone.wav", "2", 22050);
  ASSERT_TRUE(test::EncodeWav(dir, wav, {{"tone.mp3", "-b 64"}}));
  std::filesystem::copy_file(wav, dir.File("wave.mp3"));
  std::filesystem::copy_file(wav, dir.File("wave.flac"));
  std::filesystem::copy_file(dir.File("tone.mp3"), dir.File("tone.dat"));
  std::filesystem::copy_file(dir.File("tone.mp3"), dir.File("tone"));
  EXPECT_EQ(ProbeAudioLength(dir.File16("wave.mp3"))->Seconds, 2.0);
  EXPECT_EQ(ProbeAudioLength(dir.File16("wave.flac"))->Seconds, 2.0);
  const double mp3 = ProbeAudioLength(dir.File16("tone.mp3"))->Seconds;
  EXPECT_EQ(ProbeAudioLength(dir.File16("tone.dat"))->Seconds, mp3);
  EXPECT_EQ(ProbeAudioLength(dir.File16("tone"))->Seconds, mp3);
}

// Leading ID3v2 tags are stepped over without being read: a large one, two
// in a row, and one that claims more than the file holds.
TEST(MediaProbe, LeadingId3v2TagsAreSkipped) {
  for (const char* tool : {"sox", "lame", "flac"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::string wav = test::SineWav(dir, "tone.wav", "2", 22050);
  ASSERT_TRUE(test::EncodeWav(dir, wav, {{"tone.mp3", "-V 5"}, {"tone.flac"}}));
  const auto tag = [](uint32_t size) {
    std::string t = "ID3" + test::Bytes({3, 0, 0}) +
                     test::Bytes({int(size >> 21) & 0x7F, int(size >> 14) & 0x7F, int(size >> 7) & 0x7F,
                                  int(size) & 0x7F});
    return t + test::Zeros(size);  // all padding
  };
  for (const char* name : {"tone.mp3", "tone.flac"}) {
    const std::string body = test::ReadBytes(dir.File(name));
    const double plain = ProbeAudioLength(dir.File16(name))->Seconds;
    test::WriteBytes(dir.File(std::string("big_") + name), tag(300'000) + body);
    test::WriteBytes(dir.File(std::string("two_") + name), tag(100) + tag(5000) + body);
    test::WriteBytes(dir.File(std::string("liar_") + name), tag(1) .substr(0, 6) +
                                                               test::Bytes({0x7F, 0x7F, 0x7F, 0x7F}) + body);
    for (const char* prefix : {"big_", "two_"}) {
      auto len = ProbeAudioLength(dir.File16(std::string(prefix) + name));
      ASSERT_TRUE(len) << prefix << name;
      EXPECT_EQ(len->Seconds, plain) << prefix << name;
      EXPECT_FALSE(len->FromStreamInfo) << prefix << name;
    }
    auto liar = ProbeAudioLength(dir.File16(std::string("liar_") + name));  // must not crash
    if (liar) {
      EXPECT_LE(liar->Seconds, plain) << name;
    }
  }
}

TEST(MediaProbe, PathsGoThroughTheMappings) {
  ORDANA_REQUIRE_TOOL("sox");
  TempDir dir;
  test::SineWav(dir, "tone.wav", "1.5", 8000);
  const auto saved = PathMappings();
  SetPathMappings({{u"N:\\Music\\", Utf8ToUtf16(Utf8View(dir.path().string() + "/"))}});
  auto mapped = ProbeAudioLength(u"n:\\music\\tone.wav");
  auto stream = ProbeStreamSeconds(u"N:\\Music\\tone.wav");
  auto container = ProbeContainerDuration(u"N:\\Music\\tone.wav");
  SetPathMappings(saved);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->Seconds, 1.5);
  EXPECT_EQ(stream, 1.5);
  EXPECT_EQ(container, 15'000'000);
}

// An address is never opened, even when a local file of that name exists;
// and nothing the file refers to is opened either.
TEST(MediaProbe, OnlyTheFileItselfIsRead) {
  ORDANA_REQUIRE_TOOL("sox");
  TempDir dir;
  test::SineWav(dir, "tone.wav", "1", 8000);
  const std::u16string url = u"file://" + dir.File16("tone.wav");
  EXPECT_FALSE(ProbeAudioLength(url));
  EXPECT_FALSE(ProbeStreamSeconds(url));
  EXPECT_FALSE(ProbeContainerDuration(url));

  // A concatenation list and a playlist naming the tone: FFmpeg would
  // follow them to the tone (the list then opens as an audio stream); here
  // they cannot be opened at all.
  test::WriteBytes(dir.File("list.ffconcat"), "ffconcat version 1.0\nfile tone.wav\n");
  test::WriteBytes(dir.File("list.m3u8"),
                   "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\n" + dir.File("tone.wav") + "\n#EXT-X-ENDLIST\n");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());  // where the list's relative name would lead
  auto concat = ProbeAudioLength(dir.File16("list.ffconcat"));
  auto playlist = ProbeAudioLength(dir.File16("list.m3u8"));
  std::filesystem::current_path(cwd);
  EXPECT_FALSE(concat);
  EXPECT_FALSE(playlist);
}

// A folder named like a media file is not opened (pipes and devices: the
// posix and win32 tests).
TEST(MediaProbe, FoldersAreRefused) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder.flac");
  EXPECT_FALSE(ProbeAudioLength(dir.File16("folder.flac")));
  EXPECT_FALSE(ProbeContainerDuration(dir.File16("folder.flac")));
}

TEST(MediaProbe, WritesNothingToStandardError) {
  for (const char* tool : {"sox", "flac"}) ORDANA_REQUIRE_TOOL(tool);
  TempDir dir;
  const std::string wav = test::SineWav(dir, "tone.wav", "1", 8000);
  ASSERT_TRUE(test::EncodeWav(dir, wav, {{"tone.flac"}}));
  const std::string flac = test::ReadBytes(dir.File("tone.flac"));
  // Damage FFmpeg would complain about: a cut header, frames overwritten.
  test::WriteBytes(dir.File("cut.flac"), flac.substr(0, 60));
  std::string broken = flac;
  for (size_t i = broken.size() / 3; i < broken.size(); i += 7) broken[i] = '\x55';
  test::WriteBytes(dir.File("broken.flac"), broken);
  test::WriteBytes(dir.File("noise.mp3"), std::string(20000, '\xFF'));
  test::WriteBytes(dir.File("fake.m4a"), test::BE32(8) + "ftyp" + test::BE32(0xFFFFFFF0) + "moov");

  StderrCapture capture(dir.File("stderr.txt"));
  for (const char* name : {"cut.flac", "broken.flac", "noise.mp3", "fake.m4a", "tone.flac"}) {
    ProbeAudioLength(dir.File16(name));
    ProbeStreamSeconds(dir.File16(name));
    ProbeContainerDuration(dir.File16(name));
  }
  EXPECT_EQ(capture.Finish(), "");
}

#else  // built without FFmpeg

TEST(MediaProbe, FindsNothingWithoutFFmpeg) {
  ORDANA_REQUIRE_TOOL("sox");
  TempDir dir;
  test::SineWav(dir, "tone.wav", "1");
  EXPECT_FALSE(MediaProbeAvailable());
  EXPECT_FALSE(ProbeAudioLength(dir.File16("tone.wav")));
  EXPECT_FALSE(ProbeContainerDuration(dir.File16("tone.wav")));
}

#endif

}  // namespace
}  // namespace ordana
