#pragma once
// APE tag (versions 1000 and 2000) at the end of a file.
// (Minimal interface; the reader fills it in.)
#include <string>

#include "platform/TextCodec.h"

namespace ordana {

class TAPETag {
 public:
  TAPETag() { ResetData(); }
  void ResetData();
  bool ReadFromFile(const std::u16string& sFile);
  bool Exists() const { return pExists; }
  // Value of the first item whose name equals Field (ASCII case folded).
  Utf8String SeekField(const Utf8String& Field) const;

 private:
  bool pExists = false;
};

}  // namespace ordana
