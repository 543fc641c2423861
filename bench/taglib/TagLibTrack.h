#pragma once
// What a TagLib-based tool reads for one report row: the descriptive tags and
// the playing time, through TagLib's FileRef. Benchmarks only: the programs
// never link TagLib.
#include <cstdint>
#include <string>

#include "trackinfo/PlaylistEntry.h"

namespace ordana::bench {

// Fills title, artist, album, year, comment and genre of entry (reset first,
// filename set) and returns the length in milliseconds (0 when TagLib finds
// none). The path goes through the path mappings like every open. False when
// TagLib cannot open the file or finds no tag.
bool ReadWithTagLib(const std::u16string& path, TPlaylistEntry& entry, uint32_t& lengthMs);

}  // namespace ordana::bench
