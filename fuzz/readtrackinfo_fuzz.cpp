// Fuzzes ReadTrackInfo. The first input byte picks the file's name (its
// extension selects the reader) and the options; the rest is the file.
#include <cstring>

#include "FuzzInput.h"
#include "platform/FileIO.h"
#include "trackinfo/ReadTrackInfo.h"

namespace {

constexpr const char* kNames[16] = {
    "input.mp3", "input.tta", "input.wav", "input.wma", "input.ogg",  "input.flac",
    "input.ape", "input.mpc", "input.mp+", "input.mpp", "input.m4a",  "input.m4b",
    "input.m4p", "input.mp4", "INPUT.MP3", "line.in",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t pick = data[0];
  const std::u16string path = ordana::fuzz::WriteInputFile(data + 1, size - 1, kNames[pick & 15]);
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
