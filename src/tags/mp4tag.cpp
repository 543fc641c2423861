#include "tags/mp4tag.h"

namespace ordana {

bool TMp4Tag::ReadFromFile(const std::u16string&) {
  FExists = false;
  FTitle.clear(), FArtist.clear(), FAlbum.clear(), FYear.clear(), FGenre.clear(), FComment.clear();
  FTrack = 0;
  return false;
}

}  // namespace ordana
