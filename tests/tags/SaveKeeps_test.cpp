// FLAC and Ogg saves keep what other tools wrote: compared with mutagen's
// reading before and after, field by field, and decoded by the encoders' own
// tools.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "platform/SafeWrite.h"
#include "platform/TextCodec.h"
#include "support/Mutagen.h"
#include "support/MediaFixtures.h"
#include "support/TestFiles.h"
#include "tags/FLACfile.h"
#include "tags/OggVorbis.h"
#include "trackinfo/ReadTrackInfo.h"
#include "trackinfo/TrackReaders.h"

namespace ordana {
namespace {

using test::ShellQuote;

// Every comment and picture mutagen reads, one line each (sorted), and the
// FLAC metadata blocks by kind.
const char kDump[] = R"(
import sys, mutagen, hashlib
f = mutagen.File(sys.argv[1])
lines = [k.upper() + '=' + hashlib.md5(v.encode()).hexdigest() for k, v in (f.tags or [])]
for p in getattr(f, 'pictures', []):
    lines.append('PICTURE=' + hashlib.md5(p.data).hexdigest())
print('\n'.join(sorted(lines)))
print('LENGTH=%.3f' % f.info.length)
)";

std::multiset<std::string> Dump(const std::string& path) {
  std::string out;
  EXPECT_EQ(test::RunPython(kDump, ShellQuote(path), &out), 0) << out;
  std::multiset<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

// Names (before "=") of the lines that differ between a and b.
std::string Changed(const std::multiset<std::string>& a, const std::multiset<std::string>& b) {
  std::set<std::string> names;
  for (const std::string& l : a)
    if (a.count(l) != b.count(l)) names.insert(l.substr(0, l.find('=')));
  for (const std::string& l : b)
    if (a.count(l) != b.count(l)) names.insert(l.substr(0, l.find('=')));
  std::string s;
  for (const std::string& n : names) s += n + " ";
  return s;
}

std::string Base64(const std::string& b) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < b.size(); i += 3) {
    const uint32_t n = uint32_t(uint8_t(b[i])) << 16 | (i + 1 < b.size() ? uint32_t(uint8_t(b[i + 1])) << 8 : 0) |
                       (i + 2 < b.size() ? uint8_t(b[i + 2]) : 0);
    out += digits[n >> 18];
    out += digits[(n >> 12) & 63];
    out += i + 1 < b.size() ? digits[(n >> 6) & 63] : '=';
    out += i + 2 < b.size() ? digits[n & 63] : '=';
  }
  return out;
}

TEST(SaveKeeps, FlacWithPictureCommentsAndSixteenMebibytesOfPadding) {
  ORDANA_REQUIRE_TOOL("flac");
  ORDANA_REQUIRE_TOOL("metaflac");
  ORDANA_REQUIRE_TOOL("ffmpeg");
  ORDANA_REQUIRE_MUTAGEN();
  test::TempDir dir;
  const std::string f = dir.File("a.flac"), raw = dir.File("a.raw");
  std::string pcm;
  for (int i = 0; i < 88200; ++i) pcm += static_cast<char>((i * 31) & 0xFF);
  test::WriteBytes(raw, pcm);
  ASSERT_EQ(test::Run("flac -s --force-raw-format --endian=little --sign=signed --channels=1 --bps=16 "
                      "--sample-rate=44100 -o " + ShellQuote(f) + " " + ShellQuote(raw)), 0);
  ASSERT_EQ(test::Run("metaflac --add-padding=16777215 " + ShellQuote(f)), 0);
  test::WriteBytes(dir.File("cover.jpg"), "\xFF\xD8\xFF\xE0" + std::string(30000, 'j'));
  ASSERT_EQ(test::Run("metaflac --dont-use-padding --set-tag=TITLE=Old --set-tag=ARTIST=Band "
                      "--set-tag=REPLAYGAIN_TRACK_GAIN=-1.5 --set-tag=COMMENT=" + std::string(60000, 'c') +
                      " --import-picture-from=" + ShellQuote("3|image/jpeg|cover|300x300x24|" + dir.File("cover.jpg")) + " " + ShellQuote(f)), 0);
  const auto before = Dump(f);
  const std::string audio = test::DecodedAudioDigest(f);
  const size_t size = test::ReadBytes(f).size();

  // The report's read passes the picture and the other comments over; the
  // shared reader it leaves behind refuses to save (it would drop them).
  TPlaylistEntry e;
  ASSERT_TRUE(ReadTrackInfo(U16(f), e, nullptr, 0));
  EXPECT_EQ(e.title, u"Old");
  EXPECT_EQ(e.artist, u"Band");
  EXPECT_EQ(e.comment, U16(std::string(60000, 'c')));
  const std::string untouched = test::ReadBytes(f);
  TrackReaders().FLACfile.SetTitle(u"New");
  EXPECT_FALSE(TrackReaders().FLACfile.SaveToFile(U16(f)));
  EXPECT_EQ(test::ReadBytes(f), untouched);

  TFLACfile t;
  ASSERT_TRUE(t.ReadFromFile(U16(f)));
  t.SetTitle(u"New");
  t.SetComment(u"short");  // the freed space joins the padding: over 2^24 - 1 bytes
  ASSERT_TRUE(t.SaveToFile(U16(f))) << LastSaveStatus().reason;
  EXPECT_EQ(test::ReadBytes(f).size(), size);  // in place
  EXPECT_EQ(test::Run("flac -t -s " + ShellQuote(f)), 0);
  std::string list;
  ASSERT_EQ(test::Run("metaflac --list --block-type=PADDING " + ShellQuote(f), &list), 0);
  EXPECT_NE(list.find("length: 16777215"), std::string::npos) << list;
  EXPECT_NE(list.find("METADATA block #", list.find("length: 16777215")), std::string::npos)
      << "a second padding block holds the rest:\n" << list;
  EXPECT_EQ(test::DecodedAudioDigest(f), audio);
  EXPECT_EQ(Changed(before, Dump(f)), "COMMENT TITLE ");
  ASSERT_TRUE(ReadTrackInfo(U16(f), e, nullptr, 0));
  EXPECT_EQ(e.title, u"New");
  EXPECT_EQ(e.comment, u"short");
}

TEST(SaveKeeps, OggWithReplayGainFortyCustomCommentsAndAPicture) {
  ORDANA_REQUIRE_TOOL("oggenc");
  ORDANA_REQUIRE_TOOL("vorbiscomment");
  ORDANA_REQUIRE_TOOL("ogginfo");
  ORDANA_REQUIRE_TOOL("sox");
  ORDANA_REQUIRE_TOOL("ffmpeg");
  ORDANA_REQUIRE_MUTAGEN();
  test::TempDir dir;
  const std::string ogg = dir.File("a.ogg"), wav = dir.File("in.wav");
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + ShellQuote(wav) + " synth 3 sine 330"), 0);
  ASSERT_EQ(test::Run("oggenc -Q -o " + ShellQuote(ogg) + " " + ShellQuote(wav)), 0);
  std::string comments = "TITLE=Old\nARTIST=Band\nREPLAYGAIN_TRACK_GAIN=-3.2 dB\nREPLAYGAIN_ALBUM_PEAK=0.98\n"
                         "ALBUMARTIST=Various\nENCODER=oggenc\n";
  for (int i = 0; i < 40; ++i) comments += "CUSTOM_" + std::to_string(i) + "=value " + std::to_string(i) + "\n";
  // A 100 KB front cover as a FLAC picture block, base64-encoded.
  std::string image = "\xFF\xD8\xFF\xE0";
  for (int i = 0; image.size() < 100000; ++i) image += static_cast<char>(i * 13);
  const std::string block = test::BE32(3) + test::BE32(10) + "image/jpeg" + test::BE32(5) + "cover" +
                            test::BE32(300) + test::BE32(300) + test::BE32(24) + test::BE32(0) +
                            test::BE32(uint32_t(image.size())) + image;
  comments += "METADATA_BLOCK_PICTURE=" + Base64(block) + "\n";
  test::WriteBytes(dir.File("c.txt"), comments);
  ASSERT_EQ(test::Run("vorbiscomment -w -c " + ShellQuote(dir.File("c.txt")) + " " + ShellQuote(ogg)), 0);
  const auto before = Dump(ogg);
  ASSERT_GE(before.size(), 47u);
  const std::string audio = test::DecodedAudioDigest(ogg);
  // The report's read, which passes the picture over, comes first.
  TPlaylistEntry e;
  ASSERT_TRUE(ReadTrackInfo(U16(ogg), e, nullptr, 0));
  EXPECT_EQ(e.title, u"Old");
  EXPECT_EQ(e.artist, u"Band");
  EXPECT_EQ(Dump(ogg), before);

  TOggVorbis t;
  ASSERT_TRUE(t.ReadFromFile(U16(ogg)));
  t.SetTitle(U16("Новое название"));
  t.SetTrack(5);
  ASSERT_TRUE(t.SaveTag(U16(ogg))) << LastSaveStatus().reason;
  std::string info;
  EXPECT_EQ(test::Run("ogginfo " + ShellQuote(ogg), &info), 0) << info;
  for (const char* bad : {"WARNING", "ERROR", "Hole", "orrupt"})
    EXPECT_EQ(info.find(bad), std::string::npos) << bad;
  EXPECT_EQ(test::DecodedAudioDigest(ogg), audio);
  const auto after = Dump(ogg);
  EXPECT_EQ(Changed(before, after), "TITLE TRACKNUMBER ");
  std::string listed;
  test::Run("vorbiscomment -l " + ShellQuote(ogg), &listed);
  EXPECT_EQ(listed.find("TITLE="), 0u);  // in its old place
  EXPECT_NE(listed.find("CUSTOM_39=value 39\nMETADATA_BLOCK_PICTURE="), std::string::npos);
  ASSERT_TRUE(ReadTrackInfo(U16(ogg), e, nullptr, 0));
  EXPECT_EQ(e.title, U16("Новое название"));

  ASSERT_TRUE(t.ClearTag(U16(ogg)));
  listed.clear();
  test::Run("vorbiscomment -l " + ShellQuote(ogg), &listed);
  EXPECT_EQ(listed, "");
  EXPECT_EQ(test::DecodedAudioDigest(ogg), audio);
}

}  // namespace
}  // namespace ordana
