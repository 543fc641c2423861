// The ordana-tags tool, run as a user would run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/TestFiles.h"
#include "platform/TextCodec.h"
#include "tags/Formats.h"
#include "trackinfo/ReadTrackInfo.h"

namespace ordana {
namespace {

using test::ReadBytes;

using test::ShellQuote;
using test::TempDir;
using test::WriteBytes;

const std::string kTool = test::BuiltProgram("apps/ordana-tags");

// Runs the tool; returns what it wrote to standard output and error.
std::string Tool(const std::vector<std::string>& args, int* status) {
  std::string out;
  *status = test::RunProgram(kTool, args, &out);
  return out;
}

void SetReadOnly(const std::string& path, bool readOnly) {
  namespace fs = std::filesystem;
  fs::permissions(test::Utf8Path(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

// A file of fake audio behind an ID3v1 block, for the ID3 paths.
std::string Id3v1File(const std::string& title) {
  std::string block = "TAG" + title;
  block.resize(127, '\0');
  block += char(17);  // Rock
  return std::string(4000, '\x55') + block;
}

TEST(OrdanaTags, UsageHelpAndBadArguments) {
  int st = 0;
  std::string out = Tool({"--help"}, &st);
  EXPECT_EQ(st, 0);
  for (const char* word : {"show", "set", "remove", "--json", "--title", "--id3v1", "--ape", "Keeps",
                           "Cannot write", "32,766", "TDRC", "exit status 3", "read-only"})
    EXPECT_NE(out.find(word), std::string::npos) << word;
  for (const AudioFormat& f : AudioFormats()) {  // the help lists every format the table knows
    const std::string ext = Utf16ToUtf8(std::u16string(f.Extension)).bytes();
    EXPECT_NE(out.find(ext), std::string::npos) << ext;
  }
  Tool({}, &st);
  EXPECT_EQ(st, 2);
  Tool({"frobnicate", "x.mp3"}, &st);
  EXPECT_EQ(st, 2);
  Tool({"set", "x.mp3"}, &st);  // no field
  EXPECT_EQ(st, 2);
  Tool({"set", "--title"}, &st);  // no value
  EXPECT_EQ(st, 2);
  Tool({"remove", "x.mp3"}, &st);  // no kind
  EXPECT_EQ(st, 2);
  Tool({"show"}, &st);
  EXPECT_EQ(st, 2);
}

TEST(OrdanaTags, ShowSetAndRemoveOnAnMp3) {
  TempDir dir;
  const std::string f = dir.File("song.mp3");
  WriteBytes(f, Id3v1File("Old"));
  int st = 0;
  std::string out = Tool({"show", f}, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_NE(out.find("ID3v1"), std::string::npos) << out;
  EXPECT_NE(out.find("Old"), std::string::npos) << out;
  EXPECT_NE(out.find("Rock"), std::string::npos) << out;

  // Set writes an ID3v2 tag and updates the ID3v1 tag (Cyrillic through
  // the Windows-1251 code page).
  out = Tool({"set", "--title", "Группа крови", "--artist", "Кино", f}, &st);
  EXPECT_EQ(st, 0) << out;
  out = Tool({"show", "--json", f}, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_NE(out.find("\"title\": \"Группа крови\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"artist\": \"Кино\""), std::string::npos) << out;
  EXPECT_NE(out.find("ID3v2.4"), std::string::npos) << out;
  const std::string bytes = ReadBytes(f);
  ASSERT_GE(bytes.size(), 128u);
  EXPECT_EQ(bytes.substr(bytes.size() - 128, 3), "TAG");
  EXPECT_EQ(bytes.substr(bytes.size() - 125, 12), "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8");
  EXPECT_NE(bytes.find(std::string(4000, '\x55')), std::string::npos);  // the audio is kept

  out = Tool({"remove", "--id3v2", f}, &st);
  EXPECT_EQ(st, 0) << out;
  out = Tool({"remove", "--id3v1", f}, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_EQ(ReadBytes(f), std::string(4000, '\x55'));
  // Nothing left to remove: a clear message and a failure status.
  out = Tool({"remove", "--id3v1", f}, &st);
  EXPECT_EQ(st, 1);
  EXPECT_NE(out.find("no ID3v1 tag"), std::string::npos) << out;
}

TEST(OrdanaTags, FailuresAreReportedPerFile) {
  TempDir dir;
  const std::string good = dir.File("a.mp3");
  WriteBytes(good, Id3v1File("A"));
  WriteBytes(dir.File("c.wav"), std::string(100, '\0'));
  int st = 0;
  std::string out = Tool({"set", "--title", "T", good, dir.File("missing.mp3")}, &st);
  EXPECT_EQ(st, 1);
  EXPECT_NE(out.find("missing.mp3: no such file"), std::string::npos) << out;
  EXPECT_NE(out.find("a.mp3: saved"), std::string::npos) << out;
  const std::string wav = ReadBytes(dir.File("c.wav"));
  out = Tool({"set", "--title", "T", dir.File("c.wav")}, &st);
  EXPECT_EQ(st, 1);
  EXPECT_NE(out.find("not supported (" + WritableFormatNames() + " are)"), std::string::npos) << out;
  EXPECT_EQ(ReadBytes(dir.File("c.wav")), wav);
}

// An MP3 with only an ID3v1 tag: a new ID3v2 tag (which the report then
// reads instead) starts with the ID3v1 fields, so only the title changes.
TEST(OrdanaTags, SetOnAnId3v1OnlyFileKeepsItsOtherFields) {
  TempDir dir;
  const std::string f = dir.File("song.mp3");
  std::string block = "TAG" + std::string("Old title") + std::string(21, '\0') + "Artist" +
                      std::string(24, '\0') + std::string(30, '\0') + "1975" + std::string(30, '\0');
  block += char(17);  // Rock
  WriteBytes(f, std::string(4000, '\x55') + block);
  int st = 0;
  std::string out = Tool({"set", "--title", "New title", f}, &st);
  ASSERT_EQ(st, 0) << out;
  TPlaylistEntry e;
  ASSERT_TRUE(ReadTrackInfo(U16(f), e, nullptr, 0));
  EXPECT_EQ(e.title, u"New title");
  EXPECT_EQ(e.artist, u"Artist");
  EXPECT_EQ(e.genre, u"Rock");
  out = Tool({"show", "--json", f}, &st);
  EXPECT_NE(out.find("\"year\": \"1975\""), std::string::npos) << out;
  EXPECT_NE(out.find("ID3v2.4"), std::string::npos) << out;
  // The ID3v1 tag got the title in the same save.
  const std::string bytes = ReadBytes(f);
  EXPECT_EQ(bytes.substr(bytes.size() - 125, 10), std::string("New title") + '\0');
}

TEST(OrdanaTags, OptionValuesEndOfOptionsCausesAndWarnings) {
  TempDir dir;
  const std::string f = dir.File("-odd.mp3");
  WriteBytes(f, Id3v1File("A"));
  int st = 0;
  // A value beginning with '-' is a value; "--" lets a file name begin with '-'.
  std::string out = Tool({"set", "--title", "-h", "--artist", "--help", "--", f}, &st);
  ASSERT_EQ(st, 0) << out;
  out = Tool({"show", "--json", "--", f}, &st);
  EXPECT_NE(out.find("\"title\": \"-h\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"artist\": \"--help\""), std::string::npos) << out;

  // A title the ID3v1 tag must cut: saved, with a warning and status 3.
  out = Tool({"set", "--title", std::string(40, 'L'), "--", f}, &st);
  EXPECT_EQ(st, 3) << out;
  EXPECT_NE(out.find("warning: the ID3v1 title holds only 30 bytes"), std::string::npos) << out;
  out = Tool({"show", "--json", "--", f}, &st);
  EXPECT_NE(out.find(std::string(40, 'L')), std::string::npos) << out;

  // Failures name their cause: read-only, and a tag the writer refuses.
  const std::string before = ReadBytes(f);
  SetReadOnly(f, true);
  out = Tool({"set", "--title", "X", "--", f}, &st);
  EXPECT_EQ(st, 1);
  EXPECT_NE(out.find("could not be saved: read-only (file unchanged)"), std::string::npos) << out;
  EXPECT_EQ(ReadBytes(f), before);
  SetReadOnly(f, false);
  const std::string v5 = dir.File("v5.mp3");
  WriteBytes(v5, "ID3\x05" + std::string(5, '\0') + "\x10" + std::string(16, '\0') + std::string(500, 'a'));
  out = Tool({"set", "--title", "X", v5}, &st);
  EXPECT_EQ(st, 1);
  EXPECT_NE(out.find("an ID3v2.5 tag cannot be rewritten"), std::string::npos) << out;
}

TEST(OrdanaTags, FlacRoundTripIsReadByMetaflac) {
  ORDANA_REQUIRE_TOOL("flac");
  ORDANA_REQUIRE_TOOL("metaflac");
  TempDir dir;
  const std::string raw = dir.File("a.raw"), f = dir.File("a.flac");
  WriteBytes(raw, std::string(44100, '\x01'));
  ASSERT_EQ(test::Run("flac -s --force-raw-format --endian=little --sign=signed --channels=1 "
                "--bps=16 --sample-rate=22050 -o " + ShellQuote(f) + " " + ShellQuote(raw)), 0);
  int st = 0;
  std::string out = Tool({"set", "--title", "Летний ветер", "--genre", "Jazz", f}, &st);
  ASSERT_EQ(st, 0) << out;
  std::string tags;
  ASSERT_EQ(test::Run("metaflac --export-tags-to=- " + ShellQuote(f), &tags), 0);
  EXPECT_NE(tags.find("TITLE=Летний ветер"), std::string::npos) << tags;
  EXPECT_NE(tags.find("GENRE=Jazz"), std::string::npos) << tags;
  out = Tool({"show", f}, &st);
  EXPECT_NE(out.find("Летний ветер"), std::string::npos) << out;
  EXPECT_NE(out.find("22050"), std::string::npos) << out;
}

TEST(OrdanaTags, ControlCharactersAreWrittenOutNeverSent) {
  ORDANA_SKIP_ON_WINDOWS("names on Windows hold neither control characters nor bytes that are not text");
  TempDir dir;
  // A title that would clear the screen and retitle the terminal, in a file
  // whose name is not UTF-8 and carries an escape of its own.
  const std::string name = dir.File("song \x1B[31m\xFF.mp3");
  WriteBytes(name, Id3v1File("Evil\x1B[2J\x1B]0;x\x07\x9B"));
  int st = 0;
  std::string out = Tool({"show", name}, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_NE(out.find("song \\x1B[31m\xEF\xBF\xBD.mp3\n"), std::string::npos) << out;
  // The ID3v1 text is Windows-1251: 0x9B is a quotation mark there, no control.
  EXPECT_NE(out.find("Evil\\x1B[2J\\x1B]0;x\\x07\xE2\x80\xBA"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1B'), std::string::npos);
  EXPECT_EQ(out.find('\x07'), std::string::npos);
  // --json escapes the JSON way and stays valid UTF-8.
  out = Tool({"show", "--json", name}, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_NE(out.find("Evil\\u001b[2J"), std::string::npos) << out;
  EXPECT_EQ(out.find('\xFF'), std::string::npos) << out;
  // Messages too: a missing file, and a set on a file that cannot take it.
  out = Tool({"show", dir.File("gone\x1B[H\xFE.mp3")}, &st);
  EXPECT_EQ(st, 1);
  EXPECT_NE(out.find("gone\\x1B[H\xEF\xBF\xBD.mp3: no such file"), std::string::npos) << out;
  WriteBytes(dir.File("x\x1B.wav"), "RIFF");
  out = Tool({"set", "--title", "T", dir.File("x\x1B.wav")}, &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(out.find('\x1B'), std::string::npos) << out;
  // The file with the undecodable name is written through its own name.
  out = Tool({"set", "--title", "New", name}, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_NE(Tool({"show", name}, &st).find("New"), std::string::npos);
}

}  // namespace
}  // namespace ordana
