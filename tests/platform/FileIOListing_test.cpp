#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

TEST(ListDirectory, EveryEntryButDots) {
  test::TempDir dir;
  test::WriteBytes(dir.File("a.csv"), "x");
  test::WriteBytes(dir.File(".hidden.csv"), "");
  test::WriteBytes(dir.File("Журнал.csv"), "");
  std::filesystem::create_directory(dir.path() / "sub.csv");
  std::vector<std::u16string> names = ListDirectory(U16(dir.path().string()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u".hidden.csv", u"a.csv", u"sub.csv", u"Журнал.csv"}));
  // Only the folder itself, not its sub-folders.
  test::WriteBytes(dir.path() / "sub.csv" / "inner.csv", "");
  EXPECT_EQ(ListDirectory(U16(dir.path().string() + "/")).size(), 4u);
}

TEST(ListDirectory, MissingFolderIsEmpty) {
  test::TempDir dir;
  EXPECT_TRUE(ListDirectory(U16(dir.File("nope"))).empty());
  EXPECT_TRUE(ListDirectory(u"").empty());
  test::WriteBytes(dir.File("file"), "x");
  EXPECT_TRUE(ListDirectory(U16(dir.File("file"))).empty());  // a file is no folder
  EXPECT_TRUE(ListDirectory(U16(dir.path().string())).size() == 1u);
}

TEST(ListDirectory, FolderGoesThroughPathMapping) {
  test::TempDir dir;
  test::WriteBytes(dir.File("2026-11-01.csv"), "");
  SetPathMappings({ParsePathMapping(u"L:\\Logs\\=" + U16(dir.path().string()) + u"/")});
  std::vector<std::u16string> names = ListDirectory(u"l:\\logs\\");
  SetPathMappings({});
  EXPECT_EQ(names, (std::vector<std::u16string>{u"2026-11-01.csv"}));
}

}  // namespace
}  // namespace ordana
