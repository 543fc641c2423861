// The format table: the one list of audio extensions.
#include "tags/Formats.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

namespace ordana {
namespace {

TEST(Formats, LookUpIgnoresLetterCaseAndKnowsNoPartialOrVideoExtension) {
  ASSERT_NE(FindAudioFormat(u".mp3"), nullptr);
  EXPECT_EQ(FindAudioFormat(u".MP3"), FindAudioFormat(u".mp3"));
  EXPECT_EQ(FindAudioFormat(u".Mp+")->Reader, TagReaderKind::APE);
  EXPECT_EQ(FindAudioFormat(u".M4B")->Writer, TagWriterKind::None);
  for (const char16_t* ext : {u"", u".", u".mp", u".mp33", u"mp3", u".avi", u".wmv"})
    EXPECT_EQ(FindAudioFormat(ext), nullptr) << std::u16string(ext).size();
}

TEST(Formats, EveryExtensionOnceAndWritersWriteFields) {
  std::set<std::u16string_view> seen;
  for (const AudioFormat& f : AudioFormats()) {
    EXPECT_TRUE(seen.insert(f.Extension).second) << f.Name;
    EXPECT_EQ(f.Extension[0], u'.') << f.Name;
    // A writer that writes nothing, or fields without a writer, is a table error.
    EXPECT_EQ(f.Writer == TagWriterKind::None, f.WritableFields == 0) << f.Name;
    EXPECT_EQ(FindAudioFormat(f.Extension), &f);
  }
  const std::string names = WritableFormatNames();
  EXPECT_NE(names.find("WMA"), std::string::npos) << names;
  EXPECT_EQ(names.find("WAV"), std::string::npos) << names;
  EXPECT_EQ(names.find("MPC, MPC"), std::string::npos) << names;
}

TEST(Formats, TheReadmeShowsTheTable) {
  std::ifstream in(std::string(ORDANA_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(in);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find(AudioFormatsMarkdown()), std::string::npos)
      << "README.md must hold this table:\n" << AudioFormatsMarkdown();
}

}  // namespace
}  // namespace ordana
