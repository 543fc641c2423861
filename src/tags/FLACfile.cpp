#include "tags/FLACfile.h"

namespace ordana {

void TFLACfile::ResetData() {
  FChannels = 0;
  FSampleRate = 0;
  FTitle.clear(), FArtist.clear(), FAlbum.clear(), FYear.clear(), FGenre.clear(), FComment.clear();
}
bool TFLACfile::ReadFromFile(const std::u16string&) {
  ResetData();
  return true;
}

}  // namespace ordana
