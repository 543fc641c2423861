#include "tags/WMAfile.h"

namespace ordana {

void TWMA::ResetData() {
  FValid = false;
  FBitRate = 0;
  FSampleRate = 0;
  FTitle.clear(), FArtist.clear(), FAlbum.clear(), FYear.clear(), FGenre.clear(), FComment.clear();
}
bool TWMA::LoadFromFile(const std::u16string&) {
  ResetData();
  return false;
}

}  // namespace ordana
