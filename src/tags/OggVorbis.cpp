#include "tags/OggVorbis.h"

namespace ordana {

void TOggVorbis::ResetData() {
  FSampleRate = 0;
  FTitle.clear(), FArtist.clear(), FAlbum.clear(), FDate.clear(), FGenre.clear(), FComment.clear();
}
bool TOggVorbis::ReadFromFile(const std::u16string&) {
  ResetData();
  return false;
}

}  // namespace ordana
