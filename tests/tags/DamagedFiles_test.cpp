// Every reader over a corpus of damaged files: cut at many points, with
// lengths and counts overwritten by 0, -1, 2^31 and 2^32 - 1, a 4 GiB sparse
// file with a tag at its end, folders, FIFOs, devices and dangling links
// named like audio files. No reader may crash, hang or throw (but the Ogg
// reader's open error), and what it says must stay consistent with what
// the file holds.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <cstring>
#include <fstream>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/Id3Bytes.h"
#include "support/TestFiles.h"
#include "tags/APETag.h"
#include "tags/FLACfile.h"
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/OggVorbis.h"
#include "tags/WAVfile.h"
#include "tags/WMAfile.h"
#include "tags/mp4tag.h"
#include "trackinfo/ReadTrackInfo.h"
#include "trackinfo/TrackLength.h"

namespace ordana {
namespace {

using test::TempDir;
using test::WriteBytes;

struct Readers {
  TID3v1 id3v1;
  TID3v2 id3v2;
  TAPETag ape;
  TMPEGaudio mpeg;
  TFLACfile flac;
  TWAVfile wav;
  TOggVorbis ogg;
  TWMA wma;
  TMp4Tag mp4;
};

// Runs every reader over one file and checks what must hold whatever the
// file holds. Returns the milliseconds it took.
double ReadAll(Readers& r, const std::u16string& file, int64_t fileSize, bool probeLength = true) {
  auto start = std::chrono::steady_clock::now();
  const bool opens = fileSize >= 0;
  EXPECT_EQ(r.id3v1.ReadFromFile(file), opens && fileSize >= 128);
  if (r.id3v1.Exists()) {
    EXPECT_LE(r.id3v1.Title().size(), 30u);
  }
  EXPECT_EQ(r.id3v2.ReadFromFile(file), opens && fileSize >= 10);
  EXPECT_GE(r.id3v2.Size(), 0);
  EXPECT_LE(r.id3v2.Size(), std::max<int64_t>(fileSize, 0));
  r.ape.ReadFromFile(file);
  if (!r.ape.Exists()) {
    EXPECT_TRUE(r.ape.Fields().empty());
  }
  EXPECT_LE(static_cast<int64_t>(r.ape.Fields().size()), std::max<int64_t>(fileSize, 0) / 9 + 1);
  r.mpeg.ReadFromFile(file);
  if (!r.mpeg.Frame().Found) {
    EXPECT_EQ(r.mpeg.BitRate(), 0);
  }
  r.flac.ReadFromFile(file);
  if (!r.flac.Valid()) {
    EXPECT_EQ(r.flac.Duration(), 0.0);
  }
  r.wav.ReadFromFile(file);
  if (r.wav.Valid()) {
    EXPECT_TRUE(r.wav.ChannelNumber() == 1 || r.wav.ChannelNumber() == 2);
  }
  try {
    r.ogg.ReadFromFile(file);
    if (r.ogg.Valid()) {
      EXPECT_GT(r.ogg.Duration(), 0.1);
    }
  } catch (const EFOpenError&) {
    EXPECT_FALSE(opens) << "the Ogg reader failed to open a readable file";
  }
  r.wma.LoadFromFile(file);
  r.mp4.ReadFromFile(file);
  TPlaylistEntry e;
  char info[kInfoTextSize];
  std::memset(info, 'x', sizeof info);
  try {
    ReadTrackInfo(file, e, info, roPlayoutItems);
  } catch (const EFOpenError&) {
    EXPECT_FALSE(opens);
  }
  EXPECT_NE(std::memchr(info, 0, sizeof info), nullptr) << "summary without its zero byte";
  EXPECT_EQ(e.filename, file);
  if (probeLength) GetTrackLength(file);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Base files: built in code, plus whatever the encoders make when present.
std::vector<std::pair<std::string, std::string>> BaseFiles(const TempDir& dir) {
  using namespace std::string_literals;
  std::vector<std::pair<std::string, std::string>> files;
  // MP3-like: ID3v2 tag, MPEG frames, APE tag, ID3v1 tag.
  std::string frames;
  for (int i = 0; i < 20; ++i) frames += "\xFF\xFB\x90\x64"s + std::string(413, char(i));
  std::string id3v1 = "TAG" + std::string(124, 'a') + "\x11";
  std::string apeItems = test::LE32(4) + test::LE32(0) + "Title"s + '\0' + "Song";
  std::string apeFooter = "APETAGEX" + test::LE32(2000) + test::LE32(uint32_t(apeItems.size() + 32)) +
                          test::LE32(1) + test::LE32(0) + test::Zeros(8);
  files.push_back({"built.mp3", test::Id3Tag(3, test::F23("TIT2", "\0Title"s) + test::F23("TPE1", "\0Artist"s), 0, 32) +
                                    frames + apeItems + apeFooter + id3v1});
  auto encode = [&](const char* tool, const std::string& cmd, const char* name) {
    if (!test::HaveTool(tool)) return;
    const std::string out = dir.File(name);
    if (test::Run(cmd + " " + test::ShellQuote(out)) == 0) files.push_back({name, test::ReadBytes(out)});
  };
  const std::string sine = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=1 -ac 1 ";
  encode("ffmpeg", sine + "-c:a libmp3lame -b:a 32k -metadata title=T -metadata artist=A", "enc.mp3");
  encode("ffmpeg", sine + "-c:a flac -metadata title=T", "enc.flac");
  encode("ffmpeg", sine + "-c:a libvorbis -metadata title=T", "enc.ogg");
  encode("ffmpeg", sine + "-c:a pcm_s16le", "enc.wav");
  encode("ffmpeg", sine + "-c:a wmav2 -metadata title=T", "enc.wma");
  encode("ffmpeg", sine + "-c:a aac -movflags +faststart -metadata title=T", "enc.m4a");
  return files;
}

// The values written over length and count fields.
const uint32_t kNasty[] = {0u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu};

TEST(DamagedFiles, EveryReaderSurvivesCutsAndOverwrittenLengths) {
  TempDir dir;
  Readers r;
  auto files = BaseFiles(dir);
  if (test::ToolsRequired()) {
    ASSERT_GE(files.size(), 7u) << "an encoder is missing";
  }
  int checked = 0;
  double worst = 0;
  for (const auto& [name, bytes] : files) {
    const std::string ext = std::filesystem::path(name).extension().string();
    const std::string path = dir.File("case" + ext);
    // Cuts: every byte near both ends, then a spread of points through the file.
    std::vector<size_t> cuts;
    for (size_t i = 0; i < 64 && i < bytes.size(); ++i) cuts.push_back(i), cuts.push_back(bytes.size() - 1 - i);
    for (size_t i = 1; i < 48; ++i) cuts.push_back(bytes.size() * i / 48);
    for (size_t cut : cuts) {
      WriteBytes(path, bytes.substr(0, cut));
      worst = std::max(worst, ReadAll(r, Utf8ToUtf16(Utf8View(path)), static_cast<int64_t>(cut)));
      ++checked;
    }
    // Lengths and counts overwritten: every 4-byte place among the first
    // 160 bytes and the last 64, in both byte orders.
    std::vector<size_t> places;
    for (size_t i = 0; i + 4 <= bytes.size() && i < 160; ++i) places.push_back(i);
    for (size_t i = bytes.size() > 64 ? bytes.size() - 64 : 0; i + 4 <= bytes.size(); ++i) places.push_back(i);
    for (size_t at : places) {
      for (uint32_t v : kNasty) {
        for (bool big : {false, true}) {
          std::string mutated = bytes;
          mutated.replace(at, 4, big ? test::BE32(v) : test::LE32(v));
          WriteBytes(path, mutated);
          worst = std::max(worst, ReadAll(r, Utf8ToUtf16(Utf8View(path)), static_cast<int64_t>(mutated.size()), false));
          ++checked;
          if (HasFailure()) FAIL() << name << ": value " << v << " at " << at;
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
  // Bounded time per file: far above a normal read, far below a hang.
  EXPECT_LT(worst, 5000.0);
}

TEST(DamagedFiles, FoldersAndMissingFilesNamedLikeAudio) {
  TempDir dir;
  Readers r;
  for (const char* name : {"folder.mp3", "folder.ogg", "folder.flac", "folder.wma", "folder.m4a",
                           "folder.wav", "folder.ape"}) {
    std::filesystem::create_directory(dir.path() / name);
    ReadAll(r, dir.File16(name), -1);
    ReadAll(r, dir.File16(std::string("missing-") + name), -1);
  }
}

TEST(DamagedFiles, FifosDevicesAndDanglingLinksNamedLikeAudio) {
  // None of these is a file: a FIFO (whose open would wait for a writer
  // forever), a device, a link to nothing. Each reads as a file that does
  // not open, at once.
  ORDANA_SKIP_ON_WINDOWS("FIFOs, /dev/zero and symbolic links of any user are POSIX things");
  TempDir dir;
  ASSERT_TRUE(test::MakeFifo(dir.File("pipe.mp3")));
  ASSERT_TRUE(test::MakeFifo(dir.File("pipe.ogg")));
  std::filesystem::create_symlink("/dev/zero", dir.path() / "zero.flac");
  std::filesystem::create_symlink(dir.path() / "nowhere", dir.path() / "dangling.wma");
  Readers r;
  for (const char* name : {"pipe.mp3", "pipe.ogg", "zero.flac", "dangling.wma"}) {
    const double ms = ReadAll(r, dir.File16(name), -1);
    EXPECT_LT(ms, 5000.0) << name;
    int err = 0;
    EXPECT_FALSE(InputFile::Open(dir.File16(name), &err)) << name;
    EXPECT_NE(err, 0) << name;
  }
  // A link to a real file is read through.
  WriteBytes(dir.File("real.mp3"), std::string(200, 'x') + "TAG" + std::string(125, 'y'));
  std::filesystem::create_symlink(dir.path() / "real.mp3", dir.path() / "link.mp3");
  ASSERT_TRUE(r.id3v1.ReadFromFile(dir.File16("link.mp3")));
  EXPECT_TRUE(r.id3v1.Exists());
}

TEST(DamagedFiles, WindowsDeviceNamesNamedLikeAudio) {
  // On Windows "NUL" with any extension, in any folder, is the null device:
  // it reads as a file that does not open, at once.
  if (!kHostIsWindows) GTEST_SKIP() << "device names are a Windows thing (the POSIX devices are checked above)";
  TempDir dir;
  Readers r;
  for (const char* name : {"NUL.mp3", "nul.OGG", "NUL.flac"}) {
    const double ms = ReadAll(r, dir.File16(name), -1);
    EXPECT_LT(ms, 5000.0) << name;
    int err = 0;
    EXPECT_FALSE(InputFile::Open(dir.File16(name), &err)) << name;
    EXPECT_NE(err, 0) << name;
  }
}

TEST(DamagedFiles, SparseFourGigabyteFileWithTagsAtItsEnd) {
  TempDir dir;
  const std::string path = dir.File("huge.mp3");
  {
    std::ofstream f(path, std::ios::binary);
    f.write("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10);  // claims 256 MiB, more than is tagged
  }
  using namespace std::string_literals;
  const std::string apeItems = test::LE32(4) + test::LE32(0) + "Title"s + '\0' + "Huge";
  const std::string tail = apeItems + "APETAGEX" + test::LE32(2000) +
                           test::LE32(uint32_t(apeItems.size() + 32)) + test::LE32(1) +
                           test::LE32(0) + test::Zeros(8) + "TAG" + std::string(30, 'h') +
                           std::string(94, '\0') + "\x11";
  const int64_t size = (int64_t{1} << 32) + 12345;
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size - static_cast<int64_t>(tail.size())));
  {
    std::ofstream f(path, std::ios::binary | std::ios::app);
    f.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  }
  ASSERT_EQ(std::filesystem::file_size(path), static_cast<uintmax_t>(size));
  if (const auto used = test::AllocatedBytes(path)) {
    ASSERT_LT(*used, 1 << 20) << "the file is not sparse";
  }

  Readers r;
  const double ms = ReadAll(r, dir.File16("huge.mp3"), size);
  EXPECT_LT(ms, 5000.0);
  ASSERT_TRUE(r.id3v1.ReadFromFile(dir.File16("huge.mp3")));
  EXPECT_TRUE(r.id3v1.Exists());
  EXPECT_EQ(r.id3v1.Title().bytes(), std::string(30, 'h'));
  ASSERT_TRUE(r.ape.ReadFromFile(dir.File16("huge.mp3")));
  EXPECT_EQ(r.ape.SeekField("TITLE"), "Huge");
  TPlaylistEntry e;
  EXPECT_TRUE(ReadTrackInfo(dir.File16("huge.mp3"), e, nullptr, 0));
}

}  // namespace
}  // namespace ordana
