#pragma once
// MP4 item list (moov/udta/meta/ilst).
// (Minimal interface; the reader fills it in.)
#include <string>

#include "tags/Tagger.h"

namespace ordana {

class TMp4Tag : public TTagger {
 public:
  bool ReadFromFile(const std::u16string& FileName);
};

}  // namespace ordana
