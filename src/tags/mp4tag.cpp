#include "tags/mp4tag.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/FileIO.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"

namespace ordana {

namespace {

constexpr int64_t kMaxPayload = 1048576;  // atoms above 1 MiB of payload end the walk

// The containers entered in turn; the walk's level selects the next one.
constexpr const char* kContainers[4] = {"moov", "udta", "meta", "ilst"};
constexpr const char* kPassThrough[4] = {"trak", "mdia", "minf", "stbl"};

bool IsType(const char* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

uint32_t BE32(const unsigned char* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

}  // namespace

bool TMp4Tag::ReadFromFile(const std::u16string& FileName) {
  FTitle.clear(), FArtist.clear(), FAlbum.clear(), FYear.clear(), FGenre.clear(),
      FComment.clear(), FComposer.clear();
  FTrack = 0;
  FExists = false;

  InputFile f = InputFile::Open(FileName);
  if (!f) return false;
  const int64_t fileSize = f.Size();

  // The item table; names compared as raw bytes.
  auto store = [this](const char* item, std::u16string value) {
    if (IsType(item, "\xA9" "alb")) FAlbum = std::move(value);
    else if (IsType(item, "\xA9" "art") || IsType(item, "\xA9" "ART")) FArtist = std::move(value);
    else if (IsType(item, "\xA9" "cmt")) FComment = std::move(value);
    else if (IsType(item, "\xA9" "day")) FYear = std::move(value);
    else if (IsType(item, "\xA9" "nam")) FTitle = std::move(value);
    else if (IsType(item, "\xA9" "gen")) FGenre = std::move(value);
  };

  int64_t pos = 0;
  int level = 0;
  unsigned char head[8];
  while (pos < fileSize) {
    if (f.ReadAt(pos, head, 8) != 8) break;
    const int64_t payload = static_cast<int64_t>(BE32(head)) - 8;
    if (payload < 1 || payload > kMaxPayload) break;
    const char* type = reinterpret_cast<const char*>(head + 4);
    if (std::find(type, type + 4, '\0') != type + 4) break;
    const int64_t start = pos + 8;  // payload start
    pos = start;

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
    // carries the value.
    char item[4];
    std::memcpy(item, type, 4);
    unsigned char child[8];
    if (f.ReadAt(pos, child, 8) != 8) break;
    pos += 8;
    const int64_t q = static_cast<int64_t>(BE32(child)) - 8;
    if (IsType(reinterpret_cast<const char*>(child + 4), "data") && q > 8) {
      const int64_t valueStart = pos + 8;  // past type indicator and locale
      const int64_t valueLen = q - 8;
      // A value the file does not hold in full is not taken (and never
      // allocated); a track number needs its four bytes inside the value.
      const bool whole = valueLen <= fileSize - valueStart;
      if (IsType(item, "trkn")) {
        unsigned char num[4];
        if (whole && valueLen >= 4 && f.ReadAt(valueStart, num, 4) == 4)
          FTrack = static_cast<uint16_t>(BE32(num));
      } else if (whole) {
        std::string bytes(static_cast<size_t>(valueLen), '\0');
        if (f.ReadAt(valueStart, bytes.data(), bytes.size()) == valueLen)
          store(item, Utf8ToUtf16(bytes));
      }
      pos = valueStart + valueLen;  // on right after the data atom
    } else if (q > 0) {
      pos += q;
    }
  }

  FExists = true;
  return true;
}

}  // namespace ordana
