// Fuzzes ReadTrackInfo. The first input byte picks the file's name (an
// extension of the format table, one in capitals, or the line input) and the
// options; the rest is the file, written out since the reader takes a name.
#include <cstring>

#include "FuzzInput.h"
#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "tags/Formats.h"
#include "trackinfo/ReadTrackInfo.h"

namespace {

std::string PickName(uint8_t pick) {
  const auto formats = ordana::AudioFormats();
  const size_t n = pick % (formats.size() + 2);
  if (n == formats.size()) return "INPUT.MP3";
  if (n == formats.size() + 1) return "line.in";
  return "input" + ordana::Utf16ToUtf8(std::u16string(formats[n].Extension)).bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t pick = data[0];
  const std::u16string path = ordana::fuzz::WriteInputFile(data + 1, size - 1, PickName(pick & 15));
  const int options = (pick >> 4) & 7;
  ordana::TPlaylistEntry entry;
  char info[ordana::kInfoTextSize];
  // Bytes the reader may not leave unterminated: a summary is at most 199
  // bytes and a zero; without one the buffer keeps its leading zero.
  std::memset(info, 0x7F, sizeof info);
  info[0] = '\0';
  try {
    ordana::ReadTrackInfo(path, entry, (pick & 0x80) ? nullptr : info, options);
  } catch (const ordana::EOrdanaError&) {
    // Readers may let their file errors pass; the report catches them per row.
  }
  if (!(pick & 0x80))
    ordana::fuzz::Check(std::memchr(info, 0, sizeof info) != nullptr, "summary not terminated");
  return 0;
}
