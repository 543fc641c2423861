#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/System.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

TEST(FileNames, SystemBytesRoundTripWhateverTheyHold) {
  // Well-formed UTF-8 decodes as UTF-8; every other byte is carried.
  EXPECT_EQ(NameFromSystemBytes("Журнал.csv"), u"Журнал.csv");
  EXPECT_EQ(NameFromSystemBytes("a\xFF" "b"), std::u16string(u"a\xDCFF" u"b"));
  EXPECT_EQ(NameFromSystemBytes("\xC3"), std::u16string(u"\xDCC3"));        // cut sequence
  EXPECT_EQ(NameFromSystemBytes("\xED\xA0\x80"),                            // an encoded surrogate
            std::u16string(u"\xDCED\xDCA0\xDC80"));
  EXPECT_EQ(NameFromSystemBytes("\xC0\xAF"), std::u16string(u"\xDCC0\xDCAF"));  // overlong
  EXPECT_EQ(NameFromSystemBytes("\xF0\x9F\x8E\xB5"), u"🎵");
  // Windows-1251 bytes, as a share mounted without name translation shows them.
  EXPECT_EQ(NameToSystemBytes(NameFromSystemBytes("2026-11-05 \xEA\xEE\xEF\xE8\xFF.csv")),
            "2026-11-05 \xEA\xEE\xEF\xE8\xFF.csv");

  // Every byte value, alone and after each lead byte, and random sequences.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(NameToSystemBytes(NameFromSystemBytes(all)), all);
  for (int lead : {0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4})
    for (int b = 0; b < 256; ++b) {
      const std::string s = {static_cast<char>(lead), static_cast<char>(b), '\x80', '\x80'};
      ASSERT_EQ(NameToSystemBytes(NameFromSystemBytes(s)), s) << lead << " " << b;
    }
  std::mt19937 rng(15);
  for (int round = 0; round < 2000; ++round) {
    std::string s(rng() % 12, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 4 == 0 ? rng() % 128 : 0x80 + rng() % 128);
    ASSERT_EQ(NameToSystemBytes(NameFromSystemBytes(s)), s);
  }
}

TEST(FileNames, TextToSystemBytes) {
  EXPECT_EQ(NameToSystemBytes(u"N:\\Музыка\\🎵.mp3"), Utf16ToUtf8(u"N:\\Музыка\\🎵.mp3").bytes());
  // A pair is one character even when its low half lies in the carried range.
  EXPECT_EQ(NameToSystemBytes(std::u16string(u"\xD83C\xDC80")), "\xF0\x9F\x82\x80");
  // Surrogates that carry no byte cannot stand in a name.
  EXPECT_EQ(NameToSystemBytes(std::u16string(u"a\xD800" u"b\xDC7F")), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(FileNames, PrintableTextWritesOutControlCharacters) {
  EXPECT_EQ(PrintableText(std::string_view("title\x1B[2J\x07")), "title\\x1B[2J\\x07");
  EXPECT_EQ(PrintableText(std::string_view("a\tb\nc\rd\x7F")), "a\\tb\\nc\\rd\\x7F");
  EXPECT_EQ(PrintableText(std::string_view("\xC2\x9B" "31m")), "\\u009B31m");  // C1 CSI
  EXPECT_EQ(PrintableText(std::string_view("N:\\Музыка\\x.mp3")), "N:\\Музыка\\x.mp3");
  EXPECT_EQ(PrintableText(std::string_view("bad\xFF\xC3")), "bad\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(PrintableText(std::string_view("a\0b", 3)), "a\\x00b");
  // Carried bytes and unpaired surrogates show as U+FFFD.
  EXPECT_EQ(PrintableText(NameFromSystemBytes("x\xFFy")), "x\xEF\xBF\xBDy");
  EXPECT_EQ(PrintableText(std::u16string_view(u"\x1B" u"é\xD800")), "\\x1Bé\xEF\xBF\xBD");
  EXPECT_EQ(PrintableText(std::u16string_view(u"🎵\x9B")), "🎵\\u009B");
}

TEST(FileNames, LogFolderEntryWithInvalidUtf8OpensAndShowsReplacement) {
  ORDANA_SKIP_ON_WINDOWS("Windows names are UTF-16: no name holds bytes that are not UTF-8");
  test::TempDir dir;
  const std::string raw = "2026-11-05 \xEA\xEE\xEF\xE8\xFF.csv";  // Windows-1251 "копия"
  test::WriteBytes(dir.path() / raw, "content");
  std::vector<std::u16string> names = ListDirectory(U16(dir.path().string()));
  ASSERT_EQ(names.size(), 1u);
  const std::u16string path = U16(dir.path().string() + "/") + names[0];
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(ReadWholeFile(path), "content");
  EXPECT_EQ(NativePath(path), dir.path().string() + "/" + raw);
  // A message names it with replacement characters, never the raw bytes.
  std::filesystem::remove(dir.path() / raw);
  try {
    ReadWholeFile(path);
    ADD_FAILURE() << "a removed file was read";
  } catch (const EOrdanaError& e) {
    EXPECT_NE(e.Message().find("2026-11-05 \xEF\xBF\xBD\xEF\xBF\xBD"), std::string::npos) << e.Message();
    EXPECT_EQ(e.Message().find('\xFF'), std::string::npos);
  }
}

}  // namespace
}  // namespace ordana
