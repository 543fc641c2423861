#pragma once
// Builds small MPEG-4 files byte by byte for the length tests: atoms, and a
// movie of tracks whose media header, sample tables and edit list are chosen.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordana::test {

std::string Box(std::string_view type, const std::string& payload);
std::string FullBox(std::string_view type, int version, const std::string& payload);

struct Mp4Track {
  std::string handler = "soun";
  std::string codec = "mp4a";
  int objectType = 0x40;
  uint32_t timeScale = 44100;
  uint64_t mediaDuration = 0;  // mdhd
  int mdhdVersion = 0;
  std::vector<std::pair<uint32_t, uint32_t>> stts;  // count, delta
  uint32_t sampleSize = 0;                          // stsz: fixed size, or 0 for a table
  uint32_t sampleCount = 0;
  std::vector<std::pair<int64_t, int64_t>> edits;   // duration (movie scale), media time
  bool ctts = false;
};

std::string Trak(const Mp4Track& t);
// mvhd with the movie time scale, the tracks, then `extra` atoms.
std::string Moov(const std::vector<Mp4Track>& tracks, uint32_t movieScale = 1000, const std::string& extra = "");
std::string Ftyp();

// An 8 KB file claiming 89 million samples of 200 bytes: an index built from
// its tables alone would take gigabytes.
std::string IndexBombMp4();

}  // namespace ordana::test
