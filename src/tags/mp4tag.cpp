#include "tags/mp4tag.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "tags/FileSource.h"

namespace ordana {

namespace {

// The walk stops at the first atom with more than 1 MiB of payload: an item
// list stands in a small "moov" atom, and the stop keeps a damaged or
// unusual file from sending the walk through its media data. A file whose
// media data comes before "moov" therefore shows no items (as it does in
// the playout program).
constexpr int64_t kMaxPayload = 1048576;

// The containers entered in turn; the walk's level selects the next one.
constexpr const char* kContainers[4] = {"moov", "udta", "meta", "ilst"};
constexpr const char* kPassThrough[4] = {"trak", "mdia", "minf", "stbl"};

bool IsType(std::string_view type, const char* name) { return type == std::string_view(name, 4); }

// The text field an item of the list fills; nullptr for items not kept.
// Names are compared as raw bytes.
std::u16string* TextField(TaggerRecord& tag, std::string_view item) {
  if (IsType(item, "\xA9" "alb")) return &tag.Album;
  if (IsType(item, "\xA9" "art") || IsType(item, "\xA9" "ART")) return &tag.Artist;
  if (IsType(item, "\xA9" "cmt")) return &tag.Comment;
  if (IsType(item, "\xA9" "day")) return &tag.Year;
  if (IsType(item, "\xA9" "nam")) return &tag.Title;
  if (IsType(item, "\xA9" "gen")) return &tag.Genre;
  return nullptr;
}

}  // namespace

bool ParseMP4(const bytes::ByteSource& file, TaggerRecord& tag) {
  tag = TaggerRecord{};
  bytes::SourceWindow w(file);
  const int64_t fileSize = w.Size();

  int64_t pos = 0;
  int level = 0;
  while (pos < fileSize) {
    bytes::ByteReader head = w.Get(pos, 8);
    if (!head.Ok()) break;
    const int64_t payload = static_cast<int64_t>(head.U32BE()) - 8;
    // A size of 0 (to the end of the file) or 1 (a 64-bit size follows) stops the walk too:
    // neither is used by an item list, and the playout program stops there as well.
    if (payload < 0 || payload > kMaxPayload) break;
    const std::string type(head.Chars(4));
    if (type.find('\0') != std::string::npos) break;  // not an atom: the walk has lost its way
    const int64_t itemStart = pos;
    pos += 8;  // the payload's start
    // An empty atom (ffmpeg writes an 8-byte "free" after "ftyp") holds
    // nothing to enter or read: the walk goes on after it.
    if (payload == 0) continue;

    // The walk is flat (no stack of open containers): it only needs to reach the item list.
    if (level <= 3 && IsType(type, kContainers[level])) {
      if (level == 2) pos += 4;  // "meta" carries version and flags first
      ++level;
      continue;
    }
    if (level <= 3) {
      bool pass = std::any_of(std::begin(kPassThrough), std::end(kPassThrough),
                              [&](const char* n) { return IsType(type, n); });
      if (!pass) pos += payload;
      continue;
    }

    // Inside the item list: the atom's type names the item, its first child
    // carries the value. The walk goes on after the item by its own size,
    // whatever the child is (a free-form "----" item starts with "mean"),
    // and a value is only taken from a "data" child that lies inside it.
    const int64_t itemEnd = itemStart + 8 + payload;
    pos = itemEnd;
    bytes::ByteReader child = w.Get(itemStart + 8, 8);
    if (!child.Ok()) continue;  // the item's end is past the file: the loop ends
    const int64_t q = static_cast<int64_t>(child.U32BE()) - 8;
    if (!child.Match("data") || q <= 8 || q > payload - 8) continue;
    const int64_t valueStart = itemStart + 16 + 8;  // past type indicator and locale
    const int64_t valueLen = q - 8;
    // A value the file does not hold in full is not taken; a track number
    // needs its four bytes inside the value.
    if (valueLen > fileSize - valueStart) continue;
    std::u16string* field = TextField(tag, type);
    if (IsType(type, "trkn")) {
      if (valueLen >= 4) {
        bytes::ByteReader number = w.Get(valueStart, 4);
        if (number.Ok()) tag.Track = static_cast<uint16_t>(number.U32BE());
      }
    } else if (field) {
      bytes::ByteReader value = w.Get(valueStart, static_cast<size_t>(valueLen));
      if (value.Ok()) *field = Utf8ToUtf16(Utf8View(value.AllChars()));
    }
  }

  tag.Exists = true;
  return true;
}

bool TMp4Tag::ReadFromFile(const std::u16string& FileName) {
  F = TaggerRecord{};
  return ParseFile(FileName, [&](const bytes::ByteSource& s) { return ReadFromSource(s); });
}

}  // namespace ordana
