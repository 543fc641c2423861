// ID3v2 saves keep what they do not manage: frames other tools wrote, their
// flags, several comments, the track text and the place of the year.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "platform/SafeWrite.h"
#include "support/Id3Bytes.h"
#include "support/Mutagen.h"
#include "support/TestFiles.h"
#include "tags/ID3v2.h"

namespace ordana {
namespace {

using namespace std::string_literals;
using test::BE32;
using test::Bytes;
using test::F23;
using test::F24;
using test::ReadBytes;
using test::SyncSafe;
using test::TempDir;
using test::WriteBytes;
using test::Zeros;

std::string Audio() {
  std::string a = "\xFF\xFB\x90\x64";
  for (int i = 0; i < 4000; ++i) a += static_cast<char>((i * 7919) >> 3);
  return a;
}

// Builds an MP3 with mutagen (version 3 or 4) holding frames of many kinds,
// then reshapes its tag as the mode says: "plain", "unsync" (the whole tag
// in 2.3, every frame in 2.4), "ext" (an extended header), "dli" (2.4: a
// frame with a data length indicator), "zlib" (2.3: a compressed frame).
// "dump" prints every frame mutagen reads, one per line, sorted.
const char kScript[] = R"(
import sys, zlib, struct
from mutagen.id3 import ID3, TIT2, TPE1, TRCK, TDRC, COMM, TXXX, POPM, USLT, APIC, TCON
def syncsafe(n): return bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])
def unsync(b):
    out = bytearray()
    for i, c in enumerate(b):
        out.append(c)
        if c == 0xFF and (i + 1 == len(b) or b[i + 1] >= 0xE0 or b[i + 1] == 0): out.append(0)
    return bytes(out)
def frames(body, v):
    pos, out = 0, []
    while pos + 10 <= len(body) and body[pos] != 0:
        size = struct.unpack('>I', body[pos+4:pos+8])[0]
        if v == 4: size = (body[pos+4] << 21) | (body[pos+5] << 14) | (body[pos+6] << 7) | body[pos+7]
        out.append([body[pos:pos+4], body[pos+8:pos+10], body[pos+10:pos+10+size]])
        pos += 10 + size
    return out
def frame(v, fid, flags, data):
    size = syncsafe(len(data)) if v == 4 else struct.pack('>I', len(data))
    return fid + size + flags + data
mode, path = sys.argv[1], sys.argv[2]
if mode == 'dump':
    t = ID3(path)
    for k in sorted(t.keys()): print(k + '\t' + repr(t[k]))
    sys.exit(0)
v = int(sys.argv[3])
t = ID3()
t.add(TIT2(encoding=3, text='Old title'))
t.add(TPE1(encoding=1, text='Группа'))
t.add(TRCK(encoding=0, text='7/12'))
t.add(TDRC(encoding=0, text='1975'))
t.add(TCON(encoding=0, text='(17)Rock'))
t.add(COMM(encoding=1, lang='eng', desc='', text='The user comment'))
t.add(COMM(encoding=1, lang='rus', desc='notes', text='Заметки'))
t.add(COMM(encoding=0, lang='eng', desc='iTunNORM', text=' 000001 000002'))
t.add(TXXX(encoding=3, desc='REPLAYGAIN_TRACK_GAIN', text='-3.20 dB'))
t.add(POPM(email='station@example.org', rating=196, count=12))
t.add(USLT(encoding=1, lang='rus', desc='', text='Слова\nпесни'))
t.add(APIC(encoding=0, mime='image/jpeg', type=3, desc='cover', data=b'\xff\xd8\xff\xe0' + bytes(range(256)) * 40 + b'\xff'))
t.save(path, v2_version=v, padding=lambda info: 600)
raw = open(path, 'rb').read()
size = (raw[6] << 21) | (raw[7] << 14) | (raw[8] << 7) | raw[9]
head, body, audio = bytearray(raw[:10]), raw[10:10+size], raw[10+size:]
fs = frames(body, v)
if mode == 'dli':
    fs.append([b'TXXX', b'\x00\x01', syncsafe(14) + b'\x03DLI\x00indicated'])
if mode == 'zlib':
    data = b'\x00PACKED\x00' + b'squeezed ' * 50
    fs.append([b'TXXX', b'\x00\x80', struct.pack('>I', len(data)) + zlib.compress(data)])
if mode == 'unsync' and v == 4:
    for f in fs:
        f[1] = bytes([f[1][0], f[1][1] | 2])
        f[2] = unsync(f[2])
body = b''.join(frame(v, f[0], f[1], f[2]) for f in fs)
if mode == 'ext':
    body = (struct.pack('>I', 6) + b'\0' * 6 if v == 3 else syncsafe(6) + b'\x01\x00') + body
    head[5] |= 0x40
if mode == 'unsync':
    if v == 3: body = unsync(body)
    head[5] |= 0x80
body += b'\0' * 300
head[6:10] = syncsafe(len(body))
open(path, 'wb').write(bytes(head) + body + audio)
)";

std::set<std::string> Dump(const std::string& path) {
  std::string out;
  EXPECT_EQ(test::RunPython(kScript, "dump " + test::ShellQuote(path), &out), 0) << out;
  std::set<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

// The lines of a that b lacks.
std::set<std::string> Minus(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::set<std::string> d;
  for (const std::string& l : a)
    if (!b.count(l)) d.insert(l);
  return d;
}

std::string Keys(const std::set<std::string>& lines) {
  std::string k;
  for (const std::string& l : lines) k += l.substr(0, l.find('\t')) + " ";
  return k;
}

TEST(ID3v2Keep, FramesOtherToolsWroteSurviveFieldByField) {
  ORDANA_REQUIRE_MUTAGEN();
  TempDir dir;
  const std::string f = dir.File("a.mp3");
  const std::string audio = Audio();
  struct Case {
    int version;
    const char* mode;
  } cases[] = {{3, "plain"}, {4, "plain"}, {3, "unsync"}, {4, "unsync"}, {3, "ext"},
               {4, "ext"},   {4, "dli"},   {3, "zlib"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " " + c.mode);
    WriteBytes(f, audio);
    std::string out;
    ASSERT_EQ(test::RunPython(kScript, std::string(c.mode) + " " + test::ShellQuote(f) + " " +
                                           std::to_string(c.version), &out), 0) << out;
    const std::set<std::string> before = Dump(f);
    ASSERT_GE(before.size(), 12u) << Keys(before);

    // A new title and year, nothing else: only TIT2 and TDRC differ.
    TID3v2 t;
    ASSERT_TRUE(t.ReadFromFile(U16(f)));
    t.SetTitle(u"Новое имя");
    t.SetYear(u"1999");
    ASSERT_TRUE(t.SaveToFile(U16(f))) << LastSaveStatus().reason;
    std::string bytes = ReadBytes(f);
    ASSERT_EQ(bytes[3], 4);
    ASSERT_EQ(bytes[5], 0);  // no unsynchronisation, no extended header
    EXPECT_EQ(bytes.substr(bytes.size() - audio.size()), audio);
    EXPECT_EQ(bytes.find("TYER"), std::string::npos);
    const std::set<std::string> after = Dump(f);
    EXPECT_EQ(Keys(Minus(before, after)), "TDRC TIT2 ");
    EXPECT_EQ(Keys(Minus(after, before)), "TDRC TIT2 ");
    EXPECT_TRUE(after.count("TIT2\tTIT2(encoding=<Encoding.UTF16: 1>, text=['Новое имя'])")) << Keys(after);
    TID3v2 back;
    ASSERT_TRUE(back.ReadFromFile(U16(f)));
    EXPECT_EQ(back.Year(), u"1999");
    EXPECT_EQ(back.TrackString(), "7/12");

    // A new comment replaces the one COMM frame it was read from.
    const std::u16string oldComment = back.Comment();
    back.SetComment(u"Другой комментарий");
    ASSERT_TRUE(back.SaveToFile(U16(f)));
    const std::set<std::string> third = Dump(f);
    const std::set<std::string> gone = Minus(after, third), added = Minus(third, after);
    ASSERT_EQ(gone.size(), 1u) << Keys(gone);
    ASSERT_EQ(added.size(), 1u) << Keys(added);
    EXPECT_EQ(gone.begin()->substr(0, 4), "COMM");
    EXPECT_NE(added.begin()->find("Другой комментарий"), std::string::npos) << *added.begin();
    EXPECT_NE(gone.begin()->find(Utf16ToUtf8(oldComment).bytes()), std::string::npos) << *gone.begin();
  }
}

std::string Tag(int version, const std::string& frames, int flags = 0) {
  return test::Id3Tag(version, frames, flags, 200);
}

// The frame as written: identifier, size, flags and content.
std::string FrameIn(const std::string& file, const std::string& id) {
  const size_t at = file.find(id);
  if (at == std::string::npos) return {};
  const size_t size = size_t(uint8_t(file[at + 4])) << 21 | size_t(uint8_t(file[at + 5])) << 14 |
                      size_t(uint8_t(file[at + 6])) << 7 | uint8_t(file[at + 7]);
  return file.substr(at, 10 + size);
}

TEST(ID3v2Keep, FrameFlagsAreTranslatedIntoTheVersion24Layout) {
  TempDir dir;
  const auto path = dir.File16("a.mp3");
  const std::string audio = Audio();
  // 2.3: status "tag alter preservation" (0x80) and grouping (0x20, a group
  // byte after the header) become 2.4's 0x40 and 0x40.
  WriteBytes(dir.File("a.mp3"),
             Tag(3, F23("TIT2", "\0Old"s) + "TXXX" + BE32(6) + Bytes({0x80, 0x20}) + "\x07\0a\0bc"s) + audio);
  TID3v2 t;
  ASSERT_TRUE(t.ReadFromFile(path));
  t.SetTitle(u"New");
  ASSERT_TRUE(t.SaveToFile(path));
  EXPECT_EQ(FrameIn(ReadBytes(dir.File("a.mp3")), "TXXX"), "TXXX" + SyncSafe(6) + Bytes({0x40, 0x40}) + "\x07\0a\0bc"s);
  // 2.4 frames keep their flags; a data length indicator keeps its bytes.
  const std::string dli = "TXXX" + SyncSafe(9) + Bytes({0x20, 0x01}) + SyncSafe(5) + "\0a\0bc"s;
  WriteBytes(dir.File("a.mp3"), Tag(4, F24("TIT2", "\0Old"s) + dli) + audio);
  ASSERT_TRUE(t.ReadFromFile(path));
  t.SetTitle(u"Newer");
  ASSERT_TRUE(t.SaveToFile(path));
  EXPECT_EQ(FrameIn(ReadBytes(dir.File("a.mp3")), "TXXX"), dli);
  // An unsynchronised 2.4 frame is written resynchronised, without the flag.
  const std::string un = "PRIV" + SyncSafe(6) + Bytes({0, 0x02}) + "o\0\xFF\0\xE0x"s;
  WriteBytes(dir.File("a.mp3"), Tag(4, F24("TIT2", "\0Old"s) + un) + audio);
  ASSERT_TRUE(t.ReadFromFile(path));
  ASSERT_TRUE(t.SaveToFile(path));
  EXPECT_EQ(FrameIn(ReadBytes(dir.File("a.mp3")), "PRIV"), "PRIV" + SyncSafe(5) + Zeros(2) + "o\0\xFF\xE0x"s);
}

TEST(ID3v2Keep, UnchangedFieldsKeepTheirFramesAndWhatCannotBeCarriedIsRefused) {
  TempDir dir;
  const auto path = dir.File16("a.mp3");
  const std::string audio = Audio();
  // A track "7/12", a genre "(17)Rock" and a UTF-8 encoder stay byte for
  // byte while their values are not changed.
  const std::string kept = F24("TRCK", "\0" "7/12"s) + F24("TCON", "\0(17)Rock"s) + F24("TENC", "\x03Кодер"s);
  WriteBytes(dir.File("a.mp3"), Tag(4, F24("TIT2", "\0Old"s) + kept) + audio);
  TID3v2 t;
  ASSERT_TRUE(t.ReadFromFile(path));
  t.SetTitle(u"New");
  ASSERT_TRUE(t.SaveToFile(path));
  const std::string saved = ReadBytes(dir.File("a.mp3"));
  for (const char* id : {"TRCK", "TCON", "TENC"})
    EXPECT_EQ(FrameIn(saved, id), FrameIn(kept, id)) << id;
  // A new number replaces the track text.
  t.SetTrack(8);
  ASSERT_TRUE(t.SaveToFile(path));
  EXPECT_EQ(FrameIn(ReadBytes(dir.File("a.mp3")), "TRCK"), F24("TRCK", "\0" "8"s));

  // Tags a save cannot carry over whole: refused, file unchanged, cause told.
  const std::string refused[] = {
      test::Id3Tag(5, F23("TIT2", "\0x"s), 0, 10) + audio,                   // unknown version
      test::Id3Tag(2, "LNK" + test::BE24(4) + "abcd", 0, 10) + audio,        // no 2.4 form
      test::Id3Tag(2, "TT2" + test::BE24(2) + "\0x"s, 0x40, 10) + audio,    // compressed 2.2 tag
      test::Id3Tag(3, BE32(60) + Zeros(6) + F23("TIT2", "\0x"s), 0x40, 10) + audio};  // bad extended header
  for (const std::string& bytes : refused) {
    WriteBytes(dir.File("a.mp3"), bytes);
    TID3v2 r;
    r.ReadFromFile(path);
    r.SetTitle(u"T");
    EXPECT_FALSE(r.SaveToFile(path));
    EXPECT_EQ(LastSaveStatus().failure, SaveFailure::Refused);
    EXPECT_FALSE(LastSaveStatus().reason.empty());
    EXPECT_EQ(ReadBytes(dir.File("a.mp3")), bytes);
  }
}

// A frame without data reads as an empty text and, being the last of its
// identifier, is the one the reader takes: a changed text replaces it, so
// the new text is what reads back.
TEST(ID3v2Keep, ChangedTextsReplaceFramesWithoutData) {
  TempDir dir;
  const auto path = dir.File16("a.mp3");
  const std::string comm = "\0eng\0Old comment"s;
  const std::string tags[] = {
      Tag(2, test::F22("TT2", "\0Title"s) + test::F22("COM", comm) + test::F22("COM", "")),
      Tag(3, F23("COMM", comm) + F23("COMM", "") + F23("TIT2", "\0T"s) + F23("TIT2", "")),
      Tag(4, F24("COMM", comm) + F24("COMM", "") + F24("TIT2", "\0T"s) + F24("TIT2", ""))};
  for (const std::string& tag : tags) {
    WriteBytes(dir.File("a.mp3"), tag + Audio());
    TID3v2 t;
    ASSERT_TRUE(t.ReadFromFile(path));
    EXPECT_EQ(t.Comment(), u"");
    t.SetComment(u"New \U0001F3B5 comment");
    t.SetTitle(u"New title");
    ASSERT_TRUE(t.SaveToFile(path));
    TID3v2 back;
    ASSERT_TRUE(back.ReadFromFile(path));
    EXPECT_EQ(back.Comment(), u"New \U0001F3B5 comment") << int(tag[3]);
    EXPECT_EQ(back.Title(), u"New title") << int(tag[3]);
  }
}

// ID3v2 and ID3v1 in one save: in place both, or one rewrite; never half.
TEST(ID3v2Keep, TagAndId3v1TagInOneSave) {
  TempDir dir;
  const auto path = dir.File16("a.mp3");
  const std::string audio = Audio();
  const std::string v1(128, 'v');
  std::string block = "TAG" + std::string(125, 'n');
  WriteBytes(dir.File("a.mp3"), Tag(4, F24("TIT2", "\0Old"s)) + audio + "TAG" + v1.substr(3));
  TID3v2 t;
  ASSERT_TRUE(t.ReadFromFile(path));
  t.SetTitle(u"New");
  ASSERT_TRUE(t.SaveToFile(path, block));
  std::string now = ReadBytes(dir.File("a.mp3"));
  EXPECT_EQ(now.substr(now.size() - 128), block);
  EXPECT_EQ(now.substr(now.size() - 128 - audio.size(), audio.size()), audio);
  // A fault in the second of the two in-place parts undoes the first too.
  const std::string before = now;
  t.SetTitle(u"Newer");
  block[5] = 'X';
  {
    int writes = 0;
    SetSaveTestHook([&](SaveStep s) { return s == SaveStep::Write && ++writes == 2 ? EIO : 0; });
    EXPECT_FALSE(t.SaveToFile(path, block));
    SetSaveTestHook({});
  }
  EXPECT_EQ(ReadBytes(dir.File("a.mp3")), before);
  // Without an ID3v1 tag the block is appended in the same rewrite.
  WriteBytes(dir.File("a.mp3"), audio);
  ASSERT_TRUE(t.SaveToFile(path, block));
  now = ReadBytes(dir.File("a.mp3"));
  EXPECT_EQ(now.substr(now.size() - 128 - audio.size()), audio + block);
}

}  // namespace
}  // namespace ordana
