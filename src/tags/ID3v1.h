#pragma once
// ID3v1: the 128-byte tag at the end of a file, and the genre name table.
// (Minimal interface; the reader fills it in.)
#include <cstdint>
#include <string>

#include "platform/TextCodec.h"

namespace ordana {

class TID3v1 {
 public:
  TID3v1() { ResetData(); }
  void ResetData();
  bool ReadFromFile(const std::u16string& FileName);
  bool Exists() const { return FExists; }

 private:
  bool FExists = false;
};

}  // namespace ordana
