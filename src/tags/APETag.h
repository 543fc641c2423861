#pragma once
// APE tag (versions 1000 and 2000) at the end of a file, directly before a
// trailing ID3v1 tag when there is one. The items are kept as name/value
// pairs; values are the raw bytes as stored (UTF-8 text for text items).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/TextCodec.h"

namespace ordana {

class InputFile;

// One tag item.
struct RField {
  Utf8String Name;   // the key, blanks and control characters trimmed
  Utf8String Value;  // the value bytes exactly as stored
};
// The items, in file order.
using AField = std::vector<RField>;

class TAPETag {
 public:
  TAPETag() { ResetData(); }

  void ResetData();
  // True when the file could be opened and its last 32 bytes (before a
  // trailing ID3v1 tag) could be read; Exists() tells whether they were an
  // APE tag footer.
  bool ReadFromFile(const std::u16string& sFile);

  const AField& Fields() const { return pField; }
  bool Exists() const { return pExists; }
  int32_t Version() const { return pVersion; }
  int32_t Size() const { return pSize; }

  // Value of the first item whose name equals Field when the ASCII letters of
  // both are upper-cased (other characters must match exactly); empty when
  // there is none.
  Utf8String SeekField(const Utf8String& Field) const;

  // The footer of a file as found by the first step of a read: the 32 bytes
  // before a trailing ID3v1 tag, with the reading's own values.
  struct Footer {
    char ID[8] = {};
    int32_t Version = 0;
    int32_t Size = 0;
    uint32_t Fields = 0;
    uint32_t Flags = 0;
    int64_t ID3v1Shift = 0;  // 0, or 128 when an ID3v1 tag ends the file
    int64_t FileSize = 0;
    bool IsAPE() const;
  };

 private:
  static bool ReadFooter(const InputFile& f, Footer& footer);
  void ReadItems(const InputFile& f, const Footer& footer);

  AField pField;
  bool pExists = false;
  int32_t pVersion = 0;
  int32_t pSize = 0;
};

}  // namespace ordana
