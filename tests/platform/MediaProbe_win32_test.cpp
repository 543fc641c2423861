#include <gtest/gtest.h>

#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

#if ORDANA_HAVE_FFMPEG

// Devices are not opened, whatever folder their name is put in: NUL would
// read as empty, CON would wait for the keyboard.
TEST(MediaProbe, DevicesAreRefused) {
  test::TempDir dir;
  for (const std::u16string& p : {std::u16string(u"NUL"), std::u16string(u"\\\\.\\NUL"), dir.File16("CON"),
                                  dir.File16("nul.mp3"), std::u16string(u"CONIN$")}) {
    EXPECT_FALSE(ProbeAudioLength(p)) << Utf16ToUtf8(p);
    EXPECT_FALSE(ProbeContainerDuration(p)) << Utf16ToUtf8(p);
  }
}

#endif

}  // namespace
}  // namespace ordana
