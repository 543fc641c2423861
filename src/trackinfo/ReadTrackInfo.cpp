#include "trackinfo/ReadTrackInfo.h"

namespace ordana {

// Seam until the tag readers are wired in: the entry is reset and named, and
// no tag is found.
bool ReadTrackInfo(const std::u16string& FileName, TPlaylistEntry& Entry, char* InfoText,
                   int Options) {
  if (!(Options & roKeepEntry)) Entry = EmptyPlaylistEntry;
  Entry.filename = FileName;
  if (InfoText) InfoText[0] = '\0';
  return false;
}

}  // namespace ordana
