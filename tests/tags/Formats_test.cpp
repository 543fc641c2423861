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
  EXPECT_NE(text.str().find(SaveBehaviourMarkdown()), std::string::npos)
      << "README.md must hold this table:\n" << SaveBehaviourMarkdown();
}

// Formats whose saves behave alike share a row of the save table and of the
// help; every extension is in exactly one group.
TEST(Formats, SaveGroupsCoverEveryExtensionOnce) {
  std::string all;
  for (const SaveGroup& g : SaveGroups()) all += " " + g.Extensions + " ";
  for (const AudioFormat& f : AudioFormats()) {
    std::string ext(" ");
    for (char16_t c : f.Extension) ext += static_cast<char>(c);
    ext += ' ';
    const size_t at = all.find(ext);
    ASSERT_NE(at, std::string::npos) << ext;
    EXPECT_EQ(all.find(ext, at + 1), std::string::npos) << ext;
  }
  const std::vector<SaveGroup> groups = SaveGroups();
  ASSERT_FALSE(groups.empty());
  EXPECT_EQ(groups[0].Names, "MP3, TTA");
  const std::string table = SaveBehaviourMarkdown();
  EXPECT_NE(table.find("| APE, MPC |"), std::string::npos) << table;
  EXPECT_EQ(table.find("MPC, MPC"), std::string::npos) << table;
  EXPECT_NE(table.find("32,766"), std::string::npos) << table;
}

}  // namespace
}  // namespace ordana
