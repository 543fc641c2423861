#include "tags/WMAfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/SafeWrite.h"
#include "platform/TextCodec.h"
#include "support/AsfBuilder.h"
#include "support/FaultInjection.h"
#include "support/TagText.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

using test::LE16;
using test::LE32;
using test::LE64;
using test::Zeros;
using namespace test::asf;

struct Loaded {
  test::TempDir dir;
  TWMA wma;
  bool ok = false;
};
void Load(Loaded& l, const std::string& bytes) {
  test::WriteBytes(l.dir.File("a.wma"), bytes);
  l.ok = l.wma.LoadFromFile(l.dir.File16("a.wma"));
}

// --- Tests -------------------------------------------------------------------

TEST(WMAfile, StreamFactsAndPlausibility) {
  struct Case {
    uint16_t channels;
    uint32_t rate, byteRate, maxBitRate;
    bool plausible;
  } cases[] = {
      {2, 44100, 16000, 128000, true}, {1, 22050, 4000, 32000, true}, {2, 7000, 4000, 32000, false},
      {2, 96000, 40000, 320000, true}, {6, 48000, 40000, 320000, false},
      {2, 44100, 16000, 0, false},     {2, 44100, 0, 128000, false},  {2, 44100, 400000, 128000, false},
  };
  for (const auto& c : cases) {
    Loaded l;
    Load(l, Header({FileProps(0, 0, c.maxBitRate), StreamProps(c.channels, c.rate, c.byteRate)}) +
                DataObj(100));
    ASSERT_TRUE(l.ok);
    SCOPED_TRACE(c.rate);
    EXPECT_TRUE(l.wma.Valid());
    EXPECT_EQ(l.wma.IsValidSize(), c.plausible);
    EXPECT_EQ(l.wma.SampleRate(), static_cast<int32_t>(c.rate));
    EXPECT_EQ(l.wma.ChannelModeID(), c.channels);
    EXPECT_EQ(l.wma.BitRate(), static_cast<int32_t>(c.byteRate * 8 / 1000));
    EXPECT_EQ(l.wma.ChannelMode(), c.channels == 1 ? "Mono" : c.channels == 2 ? "Stereo" : "Unknown");
  }
}

TEST(WMAfile, LaterStreamPropertiesWinAndSizesAreKept) {
  Loaded l;
  std::string header = Header({StreamProps(1, 8000, 1000), FileProps(0, 0, 64000),
                               StreamProps(2, 48000, 24000)});
  std::string file = header + DataObj(500);
  Load(l, file);
  EXPECT_EQ(l.wma.SampleRate(), 48000);
  EXPECT_EQ(l.wma.ChannelMode(), "Stereo");
  EXPECT_EQ(l.wma.BitRate(), 192);
  EXPECT_EQ(l.wma.FileSize(), static_cast<int32_t>(file.size()));
  EXPECT_EQ(l.wma.TagSize(), static_cast<int32_t>(header.size()));
  EXPECT_FALSE(l.wma.IsTAG());
}

TEST(WMAfile, DurationCorrectionByEncoderVersion) {
  auto ext = [](std::string_view version) {
    return ExtContent({TextDesc("WMFSDKVERSION", version)});
  };
  // Version 9: a plausible header duration (200 s - 3 s preroll) is kept.
  {
    Loaded l;
    Load(l, Header({FileProps(2000000000, 3000, 128000), StreamProps(2, 44100, 16000),
                    ext("9.00.00.2980")}) +
                DataObj(1000));
    EXPECT_DOUBLE_EQ(l.wma.Duration(), 197.0);
    EXPECT_EQ(l.wma.Encoder(), u"9.00.00.2980");
  }
  // Version 9 with a header duration under 100 s: from the sizes and byte rate.
  {
    Loaded l;
    std::string header = Header({FileProps(500000000, 0, 128000), StreamProps(2, 44100, 16000),
                                 ext("9.00.00.2980")});
    std::string file = header + DataObj(400000);
    Load(l, file);
    double expected = static_cast<double>(file.size() - header.size() - 128000 / 8) / 16000 - 2;
    EXPECT_DOUBLE_EQ(l.wma.Duration(), expected);
  }
  // Any other version: from the sizes and the maximal bit rate, whatever the
  // header says. 3,200,000 bytes with a 5,000-byte header give 199.6875 s.
  {
    Loaded l;
    std::vector<std::string> objs = {FileProps(2000000000, 3000, 128000),
                                     StreamProps(2, 44100, 16000), ext("12.0.7601")};
    objs.push_back(PadTo(5000, objs));
    std::string header = Header(objs);
    ASSERT_EQ(header.size(), 5000u);
    std::string data = DataObj(3200000 - 5000 - 50);
    Load(l, header + data);
    ASSERT_EQ(l.wma.FileSize(), 3200000);
    EXPECT_DOUBLE_EQ(l.wma.Duration(), 199.6875);
  }
  // No version: likewise; without a maximal bit rate the duration is 0.
  {
    Loaded l;
    std::string header = Header({FileProps(2000000000, 0, 64000), StreamProps(2, 44100, 8000)});
    std::string file = header + DataObj(80000);
    Load(l, file);
    EXPECT_DOUBLE_EQ(l.wma.Duration(), (file.size() - header.size()) * 8.0 / 64000);
    Load(l, Header({FileProps(2000000000, 0, 0), StreamProps(2, 44100, 8000)}) + DataObj(80000));
    EXPECT_EQ(l.wma.Duration(), 0.0);
  }
  // Version 9 with a zero byte rate gives 0; a preroll longer than the play
  // duration never gives a negative length.
  {
    Loaded l;
    Load(l, Header({FileProps(100000000, 0, 128000), StreamProps(2, 44100, 0), ext("9.0")}) +
                DataObj(10));
    EXPECT_EQ(l.wma.Duration(), 0.0);
    Load(l, Header({FileProps(10000000, 5000, 300000), StreamProps(2, 44100, 16000), ext("9.0")}) +
                DataObj(10));
    EXPECT_EQ(l.wma.Duration(), 0.0);
  }
}

TEST(WMAfile, TextsFromBothDescriptionObjectsLaterWins) {
  {
    Loaded l;
    Load(l, Header({ContentDesc("CD title", "CD author", "(c) 2001", "CD comment", "5"),
                    ExtContent({TextDesc("wm/title", "Ext title"), TextDesc("WM/AlbumTitle", "Альбом"),
                                TextDesc("WM/Genre", "Rock"), TextDesc("WM/Year", "1999"),
                                TextDesc("WM/Lyrics", "la la"), TextDesc("Unknown/Thing", "x"),
                                TextDesc("WM/Genre", "Pop")})}) +
                DataObj(10));
    EXPECT_TRUE(l.wma.IsTAG());
    EXPECT_EQ(l.wma.Title(), u"Ext title");  // the extended object came later
    EXPECT_EQ(l.wma.Artist(), u"CD author");
    EXPECT_EQ(l.wma.Copyright(), u"(c) 2001");
    EXPECT_EQ(l.wma.Comment(), u"CD comment");
    EXPECT_EQ(l.wma.Rating(), u"5");
    EXPECT_EQ(l.wma.Album(), U16("Альбом"));
    EXPECT_EQ(l.wma.Genre(), u"Pop");  // a later descriptor replaces an earlier one
    EXPECT_EQ(l.wma.Year(), u"1999");
    EXPECT_EQ(l.wma.Lyrics(), u"la la");
  }
  {
    Loaded l;
    Load(l, Header({ExtContent({TextDesc("WM/TITLE", "Ext title"), TextDesc("WM/AUTHOR", "Ext")}),
                    ContentDesc("CD title", "", "", "", "")}) +
                DataObj(10));
    EXPECT_EQ(l.wma.Title(), u"CD title");
    EXPECT_EQ(l.wma.Artist(), u"Ext");  // a zero length leaves the slot alone
  }
}

TEST(WMAfile, NumericDescriptorsAndTrackTypes) {
  Loaded l;
  Load(l, Header({ExtContent({RawDesc("WM/TRACK", 3, LE32(7)), RawDesc("WM/GENREID", 3, LE64(12)),
                              RawDesc("WM/RATING", 3, test::Bytes({1, 2, 3})),
                              RawDesc("WM/YEAR", 1, "\x01\x02"), TextDesc("WM/Genre", "Jazz")})}) +
              DataObj(10));
  EXPECT_EQ(l.wma.Track(), u"7");
  EXPECT_EQ(l.wma.GenreID(), u"12");
  EXPECT_EQ(l.wma.Rating(), u"0");  // a 3-byte number is 0 and read past
  EXPECT_EQ(l.wma.Year(), u"");     // byte arrays give no text
  EXPECT_EQ(l.wma.Genre(), u"Jazz");

  Load(l, Header({ExtContent({RawDesc("WM/TRACK", 5, LE16(7))})}) + DataObj(10));
  EXPECT_EQ(l.wma.Track(), u"");
}

TEST(WMAfile, CodecListFirstEntry) {
  Loaded l;
  Load(l, Header({CodecList(2, {"Windows Media Audio 9.2", "128 kbps, 44 kHz, stereo VBR"})}) +
              DataObj(10));
  EXPECT_EQ(l.wma.EncoderName(), u"Windows Media Audio 9.2");
  EXPECT_EQ(l.wma.StreamName(), u"128 kbps, 44 kHz, stereo VBR");
  EXPECT_TRUE(l.wma.IsVBR());

  Load(l, Header({CodecList(1, {"Video codec", "not read"})}) + DataObj(10));
  EXPECT_EQ(l.wma.EncoderName(), u"Video codec");
  EXPECT_EQ(l.wma.StreamName(), u"");
  EXPECT_FALSE(l.wma.IsVBR());
}

TEST(WMAfile, LongTextIsCutAndTheWalkGoesOn) {
  std::string longTitle(5000, 'x');
  Loaded l;
  Load(l, Header({ContentDesc(longTitle, "After", "", "", ""),
                  ExtContent({TextDesc("WM/Lyrics", std::string(6000, 'y')),
                              TextDesc("WM/Genre", "Folk")}),
                  StreamProps(2, 32000, 8000)}) +
              DataObj(10));
  EXPECT_EQ(l.wma.Title(), std::u16string(4096, u'x'));
  EXPECT_EQ(l.wma.Artist(), u"After");
  EXPECT_EQ(l.wma.Lyrics(), std::u16string(4096, u'y'));
  EXPECT_EQ(l.wma.Genre(), u"Folk");
  EXPECT_EQ(l.wma.SampleRate(), 32000);
}

TEST(WMAfile, NotAsfAndMissingFiles) {
  Loaded l;
  Load(l, std::string(1000, 'R'));
  EXPECT_TRUE(l.ok);
  EXPECT_TRUE(l.wma.Valid());
  EXPECT_EQ(l.wma.FileSize(), 1000);
  EXPECT_GT(l.wma.DateTime(), 40000.0);
  EXPECT_EQ(l.wma.TagSize(), 0);
  EXPECT_FALSE(l.wma.IsValidSize());
  EXPECT_EQ(l.wma.SampleRate(), 0);

  // A reader that has read a tagged file forgets it on the next read.
  Load(l, Header({ContentDesc("T", "A", "", "", "")}) + DataObj(10));
  EXPECT_EQ(l.wma.Title(), u"T");
  EXPECT_FALSE(l.wma.LoadFromFile(l.dir.File16("missing.wma")));
  EXPECT_FALSE(l.wma.Valid());
  EXPECT_EQ(l.wma.Title(), u"");
  EXPECT_EQ(l.wma.FileSize(), 0);
  EXPECT_EQ(l.wma.DateTime(), -1.0);
}

TEST(WMAfile, LastWriteTimeInUtcDays) {
  Loaded l;
  Load(l, Header({}) + DataObj(1));
  // 2024-03-01 12:00:00.500 UTC: day 45352 since 1899-12-30, half a day, 500 ms.
  // (The C runtime of Windows sets whole seconds only.)
  const std::chrono::milliseconds ms(ordana::kHostIsWindows ? 0 : 500);
  const std::chrono::sys_time<std::chrono::milliseconds> when{std::chrono::seconds(1709294400) + ms};
  std::error_code ec;
  std::filesystem::last_write_time(l.dir.path() / "a.wma", std::chrono::file_clock::from_sys(when), ec);
  ASSERT_FALSE(ec) << ec.message();
  ASSERT_TRUE(l.wma.LoadFromFile(l.dir.File16("a.wma")));
  EXPECT_NEAR(l.wma.DateTime(), 45352.5 + ms.count() / 1000.0 / 86400, 1e-9);
}

// Damaged headers: sizes of zero, below the object header, past the end of
// the file or huge, and an object count far above the objects present. The
// walk must stop without looping, keep what it read before, and never fail
// a file it could open.
TEST(WMAfile, DamagedObjectSizesStopTheWalk) {
  const std::string cd = ContentDesc("Before", "", "", "", "");
  const std::string sp = StreamProps(2, 44100, 16000);
  auto withSize = [](std::string obj, uint64_t size) { return obj.replace(16, 8, LE64(size)); };
  for (uint64_t bad : {uint64_t{0}, uint64_t{1}, uint64_t{23}, uint64_t{0xFFFFFFF0},
                       uint64_t{0xFFFFFFFFFFFFFFFF}, uint64_t{1} << 40}) {
    SCOPED_TRACE(bad);
    Loaded l;
    // A bad size on an unknown object: what came before it stays, nothing
    // after it is read (a size of exactly 2^40 has zero low bits).
    Load(l, Header({cd, withSize(Obj(kPaddingGuid, Zeros(40)), bad), sp}) + DataObj(10));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.wma.Title(), u"Before");
    EXPECT_EQ(l.wma.SampleRate(), 0);
  }
  // A Content Description whose text lengths point past its own size and the
  // file's end: the texts that do not fit are left empty.
  {
    Loaded l;
    std::string broken = Obj(kContentDescGuid, LE16(60000) + LE16(4) + LE16(0) + LE16(0) + LE16(0) +
                                                   W("A"));
    Load(l, Header({broken}, 1000000));
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(l.wma.Title(), u"");
  }
  // An object count of 2^31 - 1 with only two objects present.
  {
    Loaded l;
    Load(l, Header({cd, sp}, 0x7FFFFFFF));
    EXPECT_EQ(l.wma.SampleRate(), 44100);
    EXPECT_EQ(l.wma.Title(), u"Before");
  }
}

// Every prefix of a well-formed file reads without failing and never shows
// a value the prefix does not hold in full.
TEST(WMAfile, EveryTruncationReadsSafely) {
  const std::string file =
      Header({FileProps(2000000000, 3000, 128000), StreamProps(2, 44100, 16000),
              ContentDesc("Title", "Artist", "", "", ""),
              ExtContent({TextDesc("WM/AlbumTitle", "Album"), RawDesc("WM/TRACK", 3, LE32(4))}),
              CodecList(2, {"Codec", "Desc"})}) +
      DataObj(64);
  Loaded l;
  for (size_t n = 0; n <= file.size(); ++n) {
    Load(l, file.substr(0, n));
    ASSERT_TRUE(l.ok) << n;
    const auto& t = l.wma.Title();
    ASSERT_TRUE(t.empty() || t == u"Title") << n;
    const auto& a = l.wma.Album();
    ASSERT_TRUE(a.empty() || a == u"Album") << n;
    ASSERT_TRUE(l.wma.SampleRate() == 0 || l.wma.SampleRate() == 44100) << n;
  }
  EXPECT_EQ(l.wma.Album(), u"Album");
  EXPECT_EQ(l.wma.Track(), u"4");
  EXPECT_EQ(l.wma.StreamName(), u"Desc");
}

// --- Files made by ffmpeg's WMA encoder ----------------------------------------

// ffmpeg maps title and artist into the Content Description object and album
// and genre to "WM/AlbumTitle" and "WM/Genre". Its plain "date" and "comment"
// keys become descriptors named "date" and "Description", which are none of
// the names this reader takes, so the year and comment are given under their
// WM/ names.
TEST(WMAfile, ReadsWhatFfmpegWrites) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  test::TempDir dir;
  const std::string path = dir.File("enc.wma");
  const std::string cmd =
      "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -ac 2 "
      "-c:a wmav2 -b:a 128k -metadata title=" + test::ShellQuote("Песня о ветре") +
      " -metadata artist=" + test::ShellQuote("Ансамбль") + " -metadata album=" +
      test::ShellQuote("Album One") + " -metadata genre=Folk -metadata WM/Year=2003" +
      " -metadata WM/Description=" + test::ShellQuote("Запись с эфира") + " " +
      test::ShellQuote(path);
  ASSERT_EQ(test::Run(cmd), 0) << cmd;

  TWMA wma;
  ASSERT_TRUE(wma.LoadFromFile(dir.File16("enc.wma")));
  EXPECT_TRUE(wma.Valid());
  EXPECT_TRUE(test::HasText(wma, {.title = U16("Песня о ветре"), .artist = U16("Ансамбль"), .album = u"Album One",
                                  .year = u"2003", .genre = u"Folk", .comment = U16("Запись с эфира")}));
  EXPECT_EQ(wma.SampleRate(), 44100);
  EXPECT_EQ(wma.ChannelMode(), "Stereo");
  EXPECT_EQ(wma.BitRate(), 128);
  EXPECT_TRUE(wma.IsValidSize());

  // The duration comes from the sizes and the maximal bit rate (ffmpeg writes
  // no encoder version); it must stay near what ffprobe measures.
  std::string out;
  ASSERT_EQ(test::Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                          test::ShellQuote(path),
                      &out),
            0);
  double probed = std::stod(out);
  EXPECT_NEAR(wma.Duration(), probed, 0.5) << "ffprobe " << probed;
}

// --- Writing ---------------------------------------------------------------------

uint64_t GetLE(std::string_view b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
  return v;
}
struct ParsedObject {
  std::string guid;
  size_t pos;
  std::string bytes;
};
// The header objects of a file, checked against the header's own fields.
std::vector<ParsedObject> HeaderObjects(const std::string& file) {
  std::vector<ParsedObject> objs;
  const size_t headerSize = GetLE(file, 16, 8);
  const uint32_t count = static_cast<uint32_t>(GetLE(file, 24, 4));
  size_t pos = 30;
  for (uint32_t i = 0; i < count; ++i) {
    size_t size = GetLE(file, pos + 16, 8);
    EXPECT_GE(size, 24u);
    EXPECT_LE(pos + size, headerSize);
    if (size < 24 || pos + size > headerSize) break;
    objs.push_back({file.substr(pos, 16), pos, file.substr(pos, size)});
    pos += size;
  }
  EXPECT_EQ(pos, headerSize) << "objects do not fill the header";
  return objs;
}
const ParsedObject* FindObject(const std::vector<ParsedObject>& objs, const std::string& guid) {
  for (const auto& o : objs)
    if (o.guid == guid) return &o;
  return nullptr;
}
struct ParsedDescriptor {
  std::u16string name;
  uint16_t type;
  std::string value;
  std::string raw;
};
std::vector<ParsedDescriptor> Descriptors(const std::string& ecd) {
  std::vector<ParsedDescriptor> out;
  const size_t count = GetLE(ecd, 24, 2);
  size_t p = 26;
  for (size_t i = 0; i < count; ++i) {
    size_t nl = GetLE(ecd, p, 2);
    uint16_t type = static_cast<uint16_t>(GetLE(ecd, p + 2 + nl, 2));
    size_t vl = GetLE(ecd, p + 4 + nl, 2);
    out.push_back({Utf16LEToUtf16(ecd.substr(p + 2, nl)), type, ecd.substr(p + 6 + nl, vl),
                   ecd.substr(p, 6 + nl + vl)});
    p += 6 + nl + vl;
  }
  EXPECT_EQ(p, ecd.size()) << "descriptors do not fill the object";
  return out;
}
const ParsedDescriptor* FindDescriptor(const std::vector<ParsedDescriptor>& ds, std::string_view name) {
  for (const auto& d : ds)
    if (d.name == U16(name) + u'\0') return &d;
  return nullptr;
}
std::string DataFrom(const std::string& file) { return file.substr(file.find(kDataGuid)); }

TEST(WMAfileSave, RewritesBothObjectsInTheirPlaces) {
  test::TempDir dir;
  const std::string picture = RawDesc("WM/Picture", 1, std::string(300, '\x89'));
  const std::string custom = TextDesc("Custom/Station", "Radio");
  const std::string fp = FileProps(2000000000, 3000, 128000);
  const std::string sp = StreamProps(2, 44100, 16000);
  const std::string cl = CodecList(2, {"WMA", "128 kbps"});
  const std::string data = DataObj(5000);
  const std::string file =
      Header({fp, ContentDesc("Old title", "Old artist", "", "", ""), sp,
              ExtContent({picture, TextDesc("wm/year", "1990"), custom,
                          RawDesc("WM/TrackNumber", 3, LE32(4))}),
              cl}) +
      data;
  test::WriteBytes(dir.File("a.wma"), file);
  TWMA wma;
  ASSERT_TRUE(wma.LoadFromFile(dir.File16("a.wma")));
  wma.SetTitle(U16("Новое название"));
  wma.SetYear(u"2024");
  wma.SetGenreID(u"17");
  ASSERT_TRUE(wma.SaveToFile(dir.File16("a.wma")));

  const std::string saved = test::ReadBytes(dir.File("a.wma"));
  auto objs = HeaderObjects(saved);
  ASSERT_EQ(objs.size(), 5u);
  EXPECT_EQ(GetLE(saved, 24, 4), 5u);
  // File Properties, the new extended object where the description stood,
  // the objects between, the new description, the objects after.
  EXPECT_EQ(objs[0].bytes.substr(0, 40), fp.substr(0, 40));
  EXPECT_EQ(objs[1].guid, kExtContentGuid);
  EXPECT_EQ(objs[1].pos, 30 + fp.size());
  EXPECT_EQ(objs[2].bytes, sp);
  EXPECT_EQ(objs[3].guid, kContentDescGuid);
  EXPECT_EQ(objs[4].bytes, cl);
  EXPECT_EQ(DataFrom(saved), data);
  EXPECT_EQ(saved.substr(GetLE(saved, 16, 8)), data);
  EXPECT_EQ(GetLE(objs[0].bytes, 40, 8), saved.size());

  // Unmanaged descriptors first and unchanged, then the eight managed ones.
  auto ds = Descriptors(objs[1].bytes);
  ASSERT_EQ(ds.size(), 10u);
  EXPECT_EQ(ds[0].raw, picture);
  EXPECT_EQ(ds[1].raw, custom);
  const char* managed[] = {"WM/AlbumTitle", "WM/Year",  "WM/PromotionURL", "WM/GenreID",
                           "WM/Genre",      "WM/Track", "WM/TrackNumber",  "WM/Lyrics"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ds[2 + i].name, U16(managed[i]) + u'\0');
  EXPECT_EQ(FindDescriptor(ds, "WM/Year")->value, W("2024"));
  EXPECT_EQ(FindDescriptor(ds, "WM/GenreID")->value, W("(17)"));
  // The file's numeric track survives a save that has no track text.
  EXPECT_EQ(FindDescriptor(ds, "WM/TrackNumber")->value, LE32(4));
  EXPECT_EQ(objs[3].bytes, Obj(kContentDescGuid, LE16(30) + LE16(22) + LE16(2) + LE16(2) + LE16(2) +
                                                     W("Новое название") + W("Old artist") + W("") +
                                                     W("") + W("")));

  TWMA back;
  ASSERT_TRUE(back.LoadFromFile(dir.File16("a.wma")));
  EXPECT_TRUE(test::HasText(back, {.title = U16("Новое название"), .artist = u"Old artist", .year = u"2024"}));
  EXPECT_EQ(back.GenreID(), u"(17)");
  EXPECT_EQ(back.SampleRate(), 44100);
  EXPECT_EQ(back.EncoderName(), u"WMA");

  // Reading back and saving again changes nothing (the bracketed genre
  // number is not bracketed twice); nor does saving the same object twice.
  ASSERT_TRUE(back.SaveToFile(dir.File16("a.wma")));
  EXPECT_EQ(test::ReadBytes(dir.File("a.wma")), saved);
  ASSERT_TRUE(wma.SaveToFile(dir.File16("a.wma")));
  EXPECT_EQ(test::ReadBytes(dir.File("a.wma")), saved);
}

TEST(WMAfileSave, MissingObjectsAreAdded) {
  const std::string fp = FileProps(0, 0, 64000);
  const std::string sp = StreamProps(1, 22050, 4000);
  const std::string data = DataObj(700);
  struct Case {
    std::vector<std::string> objects;
    uint32_t count;
  } cases[] = {
      {{fp, sp}, 4},                                                  // neither
      {{fp, ContentDesc("T", "", "", "", ""), sp}, 4},                // no extended object
      {{ExtContent({TextDesc("Custom/A", "a")}), fp, sp}, 4},        // no description, extended first
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    test::WriteBytes(dir.File("a.wma"), Header(c.objects) + data);
    TWMA wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.File16("a.wma")));
    wma.SetArtist(u"Added");
    wma.SetTrack(u"7");
    ASSERT_TRUE(wma.SaveToFile(dir.File16("a.wma")));
    const std::string saved = test::ReadBytes(dir.File("a.wma"));
    auto objs = HeaderObjects(saved);
    EXPECT_EQ(objs.size(), c.count);
    ASSERT_FALSE(objs.empty());
    EXPECT_EQ(objs[0].guid, kExtContentGuid);  // the new extended object stands at 30
    EXPECT_NE(FindObject(objs, kContentDescGuid), nullptr);
    ASSERT_NE(FindObject(objs, kFilePropsGuid), nullptr);
    EXPECT_EQ(GetLE(FindObject(objs, kFilePropsGuid)->bytes, 40, 8), saved.size());
    EXPECT_EQ(DataFrom(saved), data);
    auto ds = Descriptors(objs[0].bytes);
    EXPECT_EQ(FindDescriptor(ds, "WM/TrackNumber")->value, LE32(7));
    TWMA back;
    ASSERT_TRUE(back.LoadFromFile(dir.File16("a.wma")));
    EXPECT_EQ(back.Artist(), u"Added");
    EXPECT_EQ(back.Track(), u"7");
    EXPECT_EQ(back.SampleRate(), 22050);
  }
}

TEST(WMAfileSave, RemoveTagLeavesEmptyDescriptions) {
  test::TempDir dir;
  const std::string data = DataObj(100);
  test::WriteBytes(dir.File("a.wma"),
                   Header({FileProps(0, 0, 64000), ContentDesc("T", "A", "C", "D", "R"),
                           ExtContent({TextDesc("WM/Genre", "Rock"), RawDesc("WM/TrackNumber", 3, LE32(9)),
                                       TextDesc("WM/Year", "2000"), TextDesc("Other", "kept"),
                                       RawDesc("Empty/Value", 0, ""), TextDesc("After", "kept too")})}) +
                       data);
  TWMA wma;
  ASSERT_TRUE(wma.LoadFromFile(dir.File16("a.wma")));
  ASSERT_TRUE(wma.RemoveTag(dir.File16("a.wma")));
  EXPECT_EQ(wma.Title(), u"");
  const std::string saved = test::ReadBytes(dir.File("a.wma"));
  auto objs = HeaderObjects(saved);
  const ParsedObject* cd = FindObject(objs, kContentDescGuid);
  ASSERT_NE(cd, nullptr);
  EXPECT_EQ(cd->bytes.size(), 44u);
  auto ds = Descriptors(FindObject(objs, kExtContentGuid)->bytes);
  // Every descriptor not managed here is kept, the one with an empty value
  // too, in its order.
  ASSERT_EQ(ds.size(), 11u);
  EXPECT_EQ(ds[0].name, U16("Other") + u'\0');
  EXPECT_EQ(ds[1].name, U16("Empty/Value") + u'\0');
  EXPECT_EQ(ds[2].name, U16("After") + u'\0');
  for (size_t i = 3; i < ds.size(); ++i) {
    if (ds[i].type == 3) EXPECT_EQ(ds[i].value, LE32(0));
    else if (ds[i].name == U16("WM/GenreID") + u'\0') EXPECT_EQ(ds[i].value, W("()"));
    else EXPECT_EQ(ds[i].value, W("")) << i;
  }
  EXPECT_EQ(DataFrom(saved), data);
  TWMA back;
  ASSERT_TRUE(back.LoadFromFile(dir.File16("a.wma")));
  EXPECT_EQ(back.Genre(), u"");
  EXPECT_EQ(back.Year(), u"");
  EXPECT_EQ(back.Title(), u"");
}

TEST(WMAfileSave, RefusalsLeaveTheFileAlone) {
  test::TempDir dir;
  TWMA wma;
  wma.SetTitle(u"x");
  // Not an ASF file: nothing to do, reported as done.
  test::WriteBytes(dir.File("a.wma"), std::string(200, 'M'));
  EXPECT_TRUE(wma.SaveToFile(dir.File16("a.wma")));
  EXPECT_EQ(test::ReadBytes(dir.File("a.wma")), std::string(200, 'M'));
  // No Data Object anywhere: refused.
  const std::string noData = Header({FileProps(0, 0, 1000), ContentDesc("T", "", "", "", "")}) +
                             std::string(500, 'z');
  test::WriteBytes(dir.File("b.wma"), noData);
  EXPECT_FALSE(wma.SaveToFile(dir.File16("b.wma")));
  EXPECT_EQ(test::ReadBytes(dir.File("b.wma")), noData);
  // A header object whose size runs past the Data Object: refused.
  std::string broken = Header({FileProps(0, 0, 1000), ContentDesc("T", "", "", "", "")}) + DataObj(50);
  broken.replace(30 + 16, 8, LE64(100000));
  test::WriteBytes(dir.File("c.wma"), broken);
  EXPECT_FALSE(wma.SaveToFile(dir.File16("c.wma")));
  EXPECT_EQ(test::ReadBytes(dir.File("c.wma")), broken);
  // A missing file.
  EXPECT_FALSE(wma.SaveToFile(dir.File16("none.wma")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.wma")));
  // The Data Object found by its GUID when the header size is wrong.
  std::string offSize = Header({FileProps(0, 0, 1000)}) + Obj(kPaddingGuid, Zeros(10)) + DataObj(50);
  test::WriteBytes(dir.File("d.wma"), offSize);
  EXPECT_TRUE(wma.SaveToFile(dir.File16("d.wma")));
  const std::string d = test::ReadBytes(dir.File("d.wma"));
  EXPECT_EQ(DataFrom(d), DataObj(50));
  EXPECT_NE(d.find(Obj(kPaddingGuid, Zeros(10))), std::string::npos);  // nothing between is lost
}

// Every write, sync and rename of a save fails once in turn: each time the
// save reports false and the original is byte-identical.
TEST(WMAfileSave, EveryInjectedFaultLeavesOriginalIntact) {
  test::TempDir dir;
  const std::string original =
      Header({FileProps(0, 0, 128000), ContentDesc("T", "A", "", "", ""), StreamProps(2, 44100, 16000),
              ExtContent({TextDesc("WM/Genre", "Rock")})}) +
      DataObj(300000);
  test::WriteBytes(dir.File("a.wma"), original);
  TWMA wma;
  ASSERT_TRUE(wma.LoadFromFile(dir.File16("a.wma")));
  wma.SetTitle(u"Changed");
  std::string expected;
  {
    test::TempDir clean;
    test::WriteBytes(clean.File("a.wma"), original);
    ASSERT_TRUE(wma.SaveToFile(clean.File16("a.wma")));
    expected = test::ReadBytes(clean.File("a.wma"));
  }
  int survived = 0;
  for (int n = 1;; ++n) {
    test::FailingSteps ops(n);
    const bool ok = wma.SaveToFile(dir.File16("a.wma"));
    ops.Remove();
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << n;
    if (!ops.Fired()) {
      ASSERT_TRUE(ok);
      break;
    }
    if (ok) {
      // Only the folder sync after the rename may fail without failing the
      // save: the new content is then already in place.
      ASSERT_EQ(test::ReadBytes(dir.File("a.wma")), expected) << n;
      test::WriteBytes(dir.File("a.wma"), original);
      continue;
    }
    ASSERT_EQ(test::Digest(test::ReadBytes(dir.File("a.wma"))), test::Digest(original)) << n;
    ++survived;
  }
  EXPECT_GE(survived, 4);  // several data writes, the sync and the rename
  EXPECT_EQ(test::ReadBytes(dir.File("a.wma")), expected);
  std::printf("[ WMA save ] %d injected faults survived with the original intact\n", survived);
  TWMA back;
  ASSERT_TRUE(back.LoadFromFile(dir.File16("a.wma")));
  EXPECT_EQ(back.Title(), u"Changed");
  EXPECT_EQ(back.Genre(), u"Rock");
}

TEST(WMAfileSave, RoundTripOfAnFfmpegFile) {
  ORDANA_REQUIRE_TOOL("ffmpeg");
  ORDANA_REQUIRE_TOOL("ffprobe");
  test::TempDir dir;
  const std::string path = dir.File("enc.wma");
  ASSERT_EQ(test::Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2 -c:a wmav2 "
                      "-b:a 64k -metadata title=Old -metadata artist=Someone -metadata album=First "
                      "-metadata genre=Pop " + test::ShellQuote(path)),
            0);
  const std::string before = test::ReadBytes(path);
  TWMA wma;
  ASSERT_TRUE(wma.LoadFromFile(dir.File16("enc.wma")));
  wma.SetTitle(U16("Вечерние новости"));
  wma.SetAlbum(u"Second");
  wma.SetGenre(u"News");
  wma.SetComment(u"Edited");
  ASSERT_TRUE(wma.SaveToFile(dir.File16("enc.wma")));
  const std::string after = test::ReadBytes(path);
  EXPECT_EQ(test::Digest(DataFrom(after)), test::Digest(DataFrom(before)));

  TWMA back;
  ASSERT_TRUE(back.LoadFromFile(dir.File16("enc.wma")));
  EXPECT_TRUE(test::HasText(back, {.title = U16("Вечерние новости"), .artist = u"Someone", .album = u"Second",
                                   .genre = u"News", .comment = u"Edited"}));

  std::string out;
  ASSERT_EQ(test::Run("ffprobe -v error -show_format " + test::ShellQuote(path), &out), 0) << out;
  EXPECT_NE(out.find("TAG:title=Вечерние новости"), std::string::npos) << out;
  EXPECT_NE(out.find("TAG:artist=Someone"), std::string::npos) << out;
  EXPECT_NE(out.find("TAG:album=Second"), std::string::npos) << out;
  EXPECT_NE(out.find("TAG:genre=News"), std::string::npos) << out;
  EXPECT_NE(out.find("TAG:comment=Edited"), std::string::npos) << out;
  // ffmpeg decodes the whole stream without errors.
  std::string err;
  EXPECT_EQ(test::Run("ffmpeg -v error -i " + test::ShellQuote(path) + " -f null - 2>&1", &err), 0);
  EXPECT_EQ(err, "");

  ASSERT_TRUE(back.SaveToFile(dir.File16("enc.wma")));
  EXPECT_EQ(test::ReadBytes(path), after);
}

// Random damage to the header bytes: reading never fails or crashes, and a
// save either refuses (file unchanged) or keeps the data bytes and yields a
// file whose new title reads back.
TEST(WMAfileSave, RandomHeaderDamage) {
  const std::string data = DataObj(2000);
  const std::string good =
      Header({FileProps(0, 0, 128000), ContentDesc("T", "A", "", "", ""), StreamProps(2, 44100, 16000),
              ExtContent({TextDesc("WM/Genre", "Rock"), RawDesc("WM/TRACK", 3, LE32(2))}),
              CodecList(2, {"c", "d"})});
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFFFF; };
  test::TempDir dir;
  int saved = 0;
  for (int round = 0; round < 300; ++round) {
    std::string file = good;
    for (int k = 0, n = 1 + next() % 4; k < n; ++k) file[16 + next() % (file.size() - 16)] = char(next());
    file += data;
    test::WriteBytes(dir.File("a.wma"), file);
    TWMA wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.File16("a.wma"))) << round;
    wma.SetTitle(u"Fuzzed");
    if (!wma.SaveToFile(dir.File16("a.wma"))) {
      ASSERT_EQ(test::ReadBytes(dir.File("a.wma")), file) << round;
      continue;
    }
    ++saved;
    const std::string out = test::ReadBytes(dir.File("a.wma"));
    ASSERT_EQ(out.substr(out.size() - data.size()), data) << round;
    TWMA back;
    ASSERT_TRUE(back.LoadFromFile(dir.File16("a.wma")));
    // A header whose object count reads as negative lists no objects to the
    // reader; the save keeps that count.
    if (static_cast<int32_t>(GetLE(out, 24, 4)) > 0) {
      EXPECT_EQ(back.Title(), u"Fuzzed") << round;
    }
  }
  EXPECT_GT(saved, 0);
}

}  // namespace
}  // namespace ordana
