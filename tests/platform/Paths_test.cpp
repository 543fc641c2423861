#include "platform/Paths.h"

#include <gtest/gtest.h>

namespace ordana {

TEST(Paths, FileNameTakesEveryDelimiter) {
  EXPECT_EQ(ExtractFileName(u"N:\\Music\\a.mp3"), u"a.mp3");
  EXPECT_EQ(ExtractFileName(u"/srv/music/b.flac"), u"b.flac");
  EXPECT_EQ(ExtractFileName(u"N:\\Music/mixed\\c.ogg"), u"c.ogg");
  EXPECT_EQ(ExtractFileName(u"C:x.wav"), u"x.wav");
  EXPECT_EQ(ExtractFileName(u"plain.mp3"), u"plain.mp3");
  EXPECT_EQ(ExtractFileName(u"N:\\Music\\"), u"");
  EXPECT_EQ(ExtractFileName(u""), u"");
}

TEST(Paths, DirKeepsTrailingDelimiter) {
  EXPECT_EQ(ExtractFileDir(u"N:\\Music\\a.mp3"), u"N:\\Music\\");
  EXPECT_EQ(ExtractFileDir(u"/srv/a.mp3"), u"/srv/");
  EXPECT_EQ(ExtractFileDir(u"C:a.mp3"), u"C:");
  EXPECT_EQ(ExtractFileDir(u"a.mp3"), u"");
}

TEST(Paths, ExtensionFromLastDotOfNameOnly) {
  EXPECT_EQ(ExtractFileExt(u"N:\\Music\\a.tar.GZ"), u".GZ");
  EXPECT_EQ(ExtractFileExt(u"N:\\Mu.sic\\noext"), u"");
  EXPECT_EQ(ExtractFileExt(u"/srv/v1.0/track"), u"");
  EXPECT_EQ(ExtractFileExt(u"N:\\Music\\line.in"), u".in");
  EXPECT_EQ(ExtractFileExt(u"dot."), u".");
  EXPECT_EQ(ExtractFileExt(u".hidden"), u".hidden");
}

TEST(Paths, TrailingDelimiter) {
  EXPECT_EQ(IncludeTrailingDelimiter(u"/srv/logs"), u"/srv/logs/");
  EXPECT_EQ(IncludeTrailingDelimiter(u"/srv/logs/"), u"/srv/logs/");
  EXPECT_EQ(IncludeTrailingDelimiter(u"N:\\Logs\\"), u"N:\\Logs\\");
  EXPECT_EQ(IncludeTrailingDelimiter(u""), u"");
}

}  // namespace ordana
