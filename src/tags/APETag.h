#pragma once
// APE tag (versions 1000 and 2000) at the end of a file, directly before a
// trailing ID3v1 tag when there is one. The items are kept as name/value
// pairs; values are the raw bytes as stored (UTF-8 text for text items).
#include <cstdint>
#include <string>
#include <vector>

#include "bytes/ByteSource.h"
#include "platform/TextCodec.h"

namespace ordana {

// One tag item.
struct RField {
  Utf8String Name;   // the key, blanks and control characters trimmed
  Utf8String Value;  // the value bytes exactly as stored
  // The item flags as stored (bits 1-2: text, binary, link); 0, a text item,
  // for items added in memory. Kept so that a binary item stays binary when
  // the tag is written back.
  uint32_t Flags = 0;
};
// The items, in file order.
using AField = std::vector<RField>;

// A tag as read; the defaults are those of a file without one.
struct APERecord {
  AField Fields;
  bool Exists = false;
  int32_t Version = 0;
  int32_t Size = 0;  // the footer's tag size (items and footer)
};

// The tag at the end of a file. False when the 32 bytes before a trailing
// ID3v1 tag cannot be read (the record then at its defaults).
bool ParseAPE(const bytes::ByteSource& file, APERecord& tag);
// The tag as written (header, items, footer); empty when the list cannot be
// stored (a name holding a zero byte, a tag over 2 GiB).
ByteString RenderAPE(const AField& fields);

class TAPETag {
 public:
  TAPETag() { ResetData(); }

  void ResetData() { F = APERecord{}; }
  // True when the file could be opened and its last 32 bytes (before a
  // trailing ID3v1 tag) could be read; Exists() tells whether they were an
  // APE tag footer.
  bool ReadFromFile(const std::u16string& sFile);
  // The same over bytes already at hand.
  bool ReadFromSource(const bytes::ByteSource& Source) { return ParseAPE(Source, F); }

  const AField& Fields() const { return F.Fields; }
  bool Exists() const { return F.Exists; }
  int32_t Version() const { return F.Version; }
  int32_t Size() const { return F.Size; }

  // Value of the first item whose name equals Field when the ASCII letters of
  // both are upper-cased (other characters must match exactly); empty when
  // there is none.
  Utf8String SeekField(const Utf8String& Field) const;

  // --- Editing the item list (positions count from 0) ----------------------
  // Inserts at pos when 0 <= pos < item count; otherwise nothing.
  void InsertField(int32_t pos, const Utf8String& name, const Utf8String& value);
  // Removes the item at pos when 0 <= pos < item count; otherwise nothing.
  void RemoveField(int32_t pos);
  // Removes the first item whose name equals name byte for byte.
  void DeleteField(const std::u16string& name);
  // Appends an item, without looking for one of that name.
  void AppendField(const Utf8String& name, const Utf8String& value);
  void AppendField(const std::u16string& name, const std::u16string& value);
  // Sets the value of the first item whose name equals name byte for byte,
  // or appends the item; nothing when name or value is empty. The number
  // form writes the value as decimal text.
  void EditField(const Utf8String& name, const Utf8String& value);
  void EditField(const std::u16string& name, const std::u16string& value);
  void EditField(const std::u16string& name, int32_t value);
  // Exchanges two items when both positions lie in the list; otherwise nothing.
  void SwapFields(int32_t pos1, int32_t pos2);

  // --- Writing to files ------------------------------------------------------
  // Replaces the file's APE tag (or adds one) by the item list, keeping a
  // trailing ID3v1 tag after it. True on success; on any failure false, with
  // the file left as it was.
  bool WriteTagInFile(const std::u16string& sFile) const;
  // Removes the file's APE tag, keeping a trailing ID3v1 tag. False when the
  // file cannot be opened or is too short, or when the footer's tag size does
  // not fit the file (then nothing is changed); true when there is no tag or
  // it was removed. A failure while changing the file throws EWriteError and
  // leaves the file as it was.
  bool RemoveTagFromFile(const std::u16string& sFile) const;
  // The tag as written: header, items, footer (no ID3v1 tag). Empty when the
  // list cannot be stored (a name holding a zero byte, a tag over 2 GiB).
  ByteString BuildTag() const;

  // The footer of a file as found by the first step of a read: the 32 bytes
  // before a trailing ID3v1 tag, with the reading's own values. ReadFooter
  // reads it (false when those bytes cannot be read).
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

  static bool ReadFooter(const bytes::ByteSource& f, Footer& footer);

 private:
  // Where the audio before an existing tag ends (-1 when the footer's tag
  // size does not fit the file).
  static int64_t AudioEnd(const bytes::ByteSource& f, const Footer& footer);

  APERecord F;
};

}  // namespace ordana
