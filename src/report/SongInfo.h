#pragma once
// One row of the report: a distinct audio file path of the play logs.
#include <cstdint>
#include <string>

#include "trackinfo/PlaylistEntry.h"

namespace ordana {

struct TSongInfo {
  std::u16string FN;    // the path exactly as the log writes it
  int32_t PlayCount = 0;  // number of play lines with exactly this path (>= 1)
  TPlaylistEntry T;     // the track's tags
  uint32_t Len = 0;     // length in milliseconds; 0 when unknown
};

}  // namespace ordana
