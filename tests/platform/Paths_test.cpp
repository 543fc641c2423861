#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "platform/TextCodec.h"

namespace ordana {
namespace {

// Each path, given to the function, gives the text beside it.
using PathCases = std::initializer_list<std::pair<std::u16string_view, std::u16string_view>>;
template <class Fn>
void ExpectEach(Fn fn, PathCases cases) {
  for (const auto& [path, expected] : cases)
    EXPECT_EQ(fn(path), expected) << "for \"" << Utf16ToUtf8(path).bytes() << "\"";
}

TEST(Paths, FileNameTakesEveryDelimiter) {
  ExpectEach(ExtractFileName, {{u"N:\\Music\\a.mp3", u"a.mp3"}, {u"/srv/music/b.flac", u"b.flac"},
                               {u"N:\\Music/mixed\\c.ogg", u"c.ogg"}, {u"C:x.wav", u"x.wav"},
                               {u"plain.mp3", u"plain.mp3"}, {u"N:\\Music\\", u""}, {u"", u""}});
}

TEST(Paths, DirKeepsTrailingDelimiter) {
  ExpectEach(ExtractFileDir, {{u"N:\\Music\\a.mp3", u"N:\\Music\\"}, {u"/srv/a.mp3", u"/srv/"},
                              {u"C:a.mp3", u"C:"}, {u"a.mp3", u""}});
}

TEST(Paths, ExtensionFromLastDotOfNameOnly) {
  ExpectEach(ExtractFileExt, {{u"N:\\Music\\a.tar.GZ", u".GZ"}, {u"N:\\Mu.sic\\noext", u""},
                              {u"/srv/v1.0/track", u""}, {u"N:\\Music\\line.in", u".in"},
                              {u"dot.", u"."}, {u".hidden", u".hidden"}});
}

TEST(Paths, TrailingDelimiter) {
  ExpectEach(IncludeTrailingDelimiter,
             {{u"/srv/logs", u"/srv/logs/"}, {u"/srv/logs/", u"/srv/logs/"}, {u"N:\\Logs\\", u"N:\\Logs\\"},
              {u"N:\\Logs", u"N:\\Logs\\"}, {u"N:", u"N:\\"}, {u"logs", u"logs/"},
              {u"/srv/logs:2026", u"/srv/logs:2026/"}, {u"/srv/a\\b/logs", u"/srv/a\\b/logs/"}, {u"", u""}});
}

}  // namespace
}  // namespace ordana
