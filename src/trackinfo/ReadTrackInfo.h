#pragma once
// ReadTrackInfo: fills a TPlaylistEntry for one audio file from its tags.
#include <string>

#include "trackinfo/PlaylistEntry.h"

namespace ordana {

// Options of ReadTrackInfo, a bit set.
inline constexpr int roPlayoutItems = 1;      // also read the playout program's APE items
inline constexpr int roPlayoutItemsOnly = 2;  // skip the format's tags; read the playout items
inline constexpr int roKeepEntry = 4;         // do not reset the entry first

// Size of the summary buffer: at most 199 bytes of ANSI text and a zero byte.
inline constexpr int kInfoTextSize = 200;

// Returns true when the format's tags were found and copied into Entry.
// InfoText, when given, points to kInfoTextSize bytes for the stream summary.
bool ReadTrackInfo(const std::u16string& FileName, TPlaylistEntry& Entry, char* InfoText,
                   int Options);

}  // namespace ordana
