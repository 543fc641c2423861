#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

#if ORDANA_HAVE_FFMPEG

// Special files are not opened: a pipe would block, a device never end.
TEST(MediaProbe, SpecialFilesAreRefused) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("pipe.mp3").c_str(), 0600), 0);
  for (const std::u16string& p : {dir.File16("pipe.mp3"), std::u16string(u"/dev/zero"), std::u16string(u"/dev/null")}) {
    EXPECT_FALSE(ProbeAudioLength(p)) << Utf16ToUtf8(p);
    EXPECT_FALSE(ProbeContainerDuration(p)) << Utf16ToUtf8(p);
  }
}

#endif

}  // namespace
}  // namespace ordana
