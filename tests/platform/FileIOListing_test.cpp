#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"
#include "tags/FileSource.h"

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

TEST(InputFile, SizeAtOpenStaysWhileTheFileGrows) {
  // One read of a file through several parsers sees one size: the one its
  // open found, also in a second handle; Size() asks again.
  test::TempDir dir;
  const std::string path = dir.File("growing.mp3");
  test::WriteBytes(path, std::string(100, 'a'));
  InputFile file = InputFile::Open(U16(path), nullptr, ReadShare::Full);
  ASSERT_TRUE(file);
  EXPECT_EQ(file.SizeAtOpen(), 100);
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << std::string(50, 'b');
  }
  EXPECT_EQ(file.Size(), 150);
  EXPECT_EQ(file.SizeAtOpen(), 100);
  EXPECT_EQ(FileSource(file).Size(), 100);
  const InputFile copy = file.Duplicate();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy.SizeAtOpen(), 100);
  const InputFile moved = std::move(file);
  EXPECT_EQ(moved.SizeAtOpen(), 100);
  EXPECT_EQ(file.SizeAtOpen(), -1);  // NOLINT(bugprone-use-after-move): a moved-from file is closed
  EXPECT_EQ(InputFile::Open(U16(dir.File("missing.mp3"))).SizeAtOpen(), -1);
  // A later open finds the new size.
  EXPECT_EQ(InputFile::Open(U16(path)).SizeAtOpen(), 150);
}

}  // namespace
}  // namespace ordana
