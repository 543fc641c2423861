#include "tags/WMAfile.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/FileIO.h"
#include "platform/Strings.h"
#include "tags/WMAfileFormat.h"

namespace ordana {

namespace {

using namespace wma;

// The 15 text slots of a read, in slot order.
constexpr int kSlotCount = 15;
constexpr std::array<std::u16string_view, kSlotCount> kSlotNames = {
    u"WM/TITLE",     u"WM/AUTHOR",   u"WM/ALBUMTITLE",    u"WM/TRACK",     u"WM/YEAR",
    u"WM/GENRE",     u"WM/DESCRIPTION", u"WMFSDKVERSION", u"WM/GENREID",   u"WM/PROMOTIONURL",
    u"WM/COPYRIGHT", u"WM/RATING",   u"WM/ENCODER",       u"WM/STREAMTYPE", u"WM/LYRICS"};
enum Slot {
  kTitle = 0, kArtist = 1, kAlbum = 2, kTrack = 3, kYear = 4, kGenre = 5, kComment = 6,
  kEncoder = 7, kGenreID = 8, kPromoURL = 9, kCopyright = 10, kRating = 11, kEncoderName = 12,
  kStreamName = 13, kLyrics = 14
};

// What one read gathers before it is copied into the reader's fields.
struct TFileData {
  uint32_t FileSize = 0;
  bool IsTag = false;
  uint32_t TagSize = 0;
  int32_t MaxBitRate = 0;
  uint16_t Channels = 0;
  int32_t SampleRate = 0;
  int32_t ByteRate = 0;
  std::array<std::u16string, kSlotCount> Tag;
  long double Duration = 0;
  double DateTime = 0;
};

// Delphi-style date-time: days since 1899-12-30; before that day the whole
// days count backwards and the time of day is still added as a positive part
// (-1.5 is 29 December 1899, noon).
double DateTimeFromUnix(int64_t seconds, int64_t millis) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  double frac = (static_cast<double>(rest) * 1000.0 + static_cast<double>(millis)) / 86400000.0;
  int64_t dayNum = days + 25569;  // 1970-01-01 is day 25569
  return dayNum >= 0 ? static_cast<double>(dayNum) + frac : static_cast<double>(dayNum) - frac;
}

double LastWriteTimeUtc(const std::u16string& fileName) {
  struct stat st {};
  if (::stat(NativePath(fileName).c_str(), &st) != 0) return -1.0;
  return DateTimeFromUnix(static_cast<int64_t>(st.st_mtim.tv_sec),
                          static_cast<int64_t>(st.st_mtim.tv_nsec) / 1000000);
}

void HandleFileProperties(ObjectCursor& c, TFileData& d, int64_t streamSize) {
  c.Skip(20);
  uint64_t v = 0;
  if (c.ReadU64(v)) d.FileSize = static_cast<uint32_t>(v);
  c.Skip(16);
  if (c.ReadU64(v)) d.Duration = static_cast<long double>(v) / 10000000.0L;
  c.Skip(8);
  if (c.ReadU64(v)) d.Duration -= static_cast<long double>(v) / 1000.0L;
  c.Skip(12);
  uint32_t m = 0;
  if (c.ReadU32(m)) d.MaxBitRate = static_cast<int32_t>(m);
  d.FileSize = static_cast<uint32_t>(streamSize);
}

void HandleStreamProperties(ObjectCursor& c, TFileData& d) {
  c.Skip(60);
  uint16_t ch = 0;
  uint32_t v = 0;
  if (c.ReadU16(ch)) d.Channels = ch;
  if (c.ReadU32(v)) d.SampleRate = static_cast<int32_t>(v);
  if (c.ReadU32(v)) d.ByteRate = static_cast<int32_t>(v);
}

void HandleContentDescription(ObjectCursor& c, TFileData& d) {
  c.Skip(4);
  static constexpr int kSlots[5] = {kTitle, kArtist, kCopyright, kComment, kRating};
  uint16_t len[5] = {0, 0, 0, 0, 0};
  for (auto& l : len)
    if (!c.ReadU16(l)) return;
  for (int i = 0; i < 5; ++i) {
    if (len[i] == 0) continue;
    std::u16string text;
    if (c.ReadText(len[i], text)) d.Tag[kSlots[i]] = std::move(text);
  }
}

int SlotOf(std::u16string_view name) {
  const std::u16string key = UpperAscii(Trim(name));
  for (int i = 0; i < kSlotCount; ++i)
    if (key == kSlotNames[i]) return i;
  return -1;
}

void HandleExtendedContentDescription(ObjectCursor& c, TFileData& d) {
  c.Skip(4);
  d.IsTag = true;
  uint16_t count = 0;
  if (!c.ReadU16(count)) return;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t nameLen = 0, type = 0, valueLen = 0;
    std::u16string name, value;
    // A descriptor cut off by the end of the object ends the list.
    if (!c.ReadU16(nameLen) || !c.ReadText(nameLen, name)) return;
    if (!c.ReadU16(type) || !c.ReadU16(valueLen)) return;
    if (type == 0) {
      if (!c.ReadText(valueLen, value)) return;
    } else if (type == 3) {
      uint64_t n = 0;
      if (!c.ReadNumber(valueLen, n)) return;
      value = U16(std::to_string(n));
    } else {
      c.Skip(valueLen);
    }
    int slot = SlotOf(name);
    if (slot >= 0) d.Tag[slot] = std::move(value);
  }
}

void HandleCodecList(ObjectCursor& c, TFileData& d) {
  c.Skip(4 + 20);
  uint16_t texts = 0;
  if (!c.ReadU16(texts)) return;
  for (uint32_t i = 0; i < texts; ++i) {
    uint16_t chars = 0;
    std::u16string text;
    if (!c.ReadU16(chars) || !c.ReadText(2u * chars, text)) return;
    if (i == 0) d.Tag[kEncoderName] = std::move(text);
    else if (i == 1) d.Tag[kStreamName] = std::move(text);
  }
}

// The walk over the Header Object's objects. False only when the file could
// not be opened or a read failed with an input/output error.
bool ReadFileData(const std::u16string& fileName, TFileData& d) {
  InputFile f = InputFile::Open(fileName);
  if (!f) return false;
  d.DateTime = LastWriteTimeUtc(fileName);
  const int64_t size = f.Size();
  if (size < 0) return false;
  d.FileSize = static_cast<uint32_t>(size);

  ObjectCursor head(f, 0, size);
  uint8_t guid[16];
  if (!head.ReadBytes(guid, 16) || !SameGuid(guid, kHeaderObject)) return !head.IoError();
  uint64_t headerSize = 0;
  uint32_t count = 0;
  if (!head.ReadU64(headerSize)) return !head.IoError();
  d.TagSize = static_cast<uint32_t>(headerSize);
  if (!head.ReadU32(count)) return !head.IoError();
  head.Skip(2);

  int64_t pos = head.Position();
  for (uint32_t i = 0; i < count && static_cast<int32_t>(count) > 0; ++i) {
    if (pos + kObjectHeaderSize > size) break;
    ObjectCursor obj(f, pos, size);
    uint64_t objSize64 = 0;
    if (!obj.ReadBytes(guid, 16) || !obj.ReadU64(objSize64)) return !obj.IoError();
    // Only the low 32 bits of an object's size count.
    const int64_t objSize = static_cast<uint32_t>(objSize64);
    // A size smaller than the object's own header would make the walk stand
    // still or go backwards: stop there.
    if (objSize < kObjectHeaderSize) break;
    const int64_t end = pos + objSize;
    // Reads inside an object stay inside it (and inside the file).
    ObjectCursor body(f, pos, std::min(end, size));
    body.Skip(20);
    if (SameGuid(guid, kFilePropertiesObject)) HandleFileProperties(body, d, size);
    else if (SameGuid(guid, kStreamPropertiesObject)) HandleStreamProperties(body, d);
    else if (SameGuid(guid, kContentDescriptionObject)) HandleContentDescription(body, d);
    else if (SameGuid(guid, kExtendedContentDescriptionObject))
      HandleExtendedContentDescription(body, d);
    else if (SameGuid(guid, kCodecListObject)) HandleCodecList(body, d);
    if (body.IoError()) return false;
    pos = end;
  }
  return true;
}

long double CorrectedDuration(const TFileData& d) {
  const std::u16string& version = d.Tag[kEncoder];
  const int32_t m = d.MaxBitRate;
  const uint32_t payload = d.FileSize - d.TagSize;  // unsigned 32-bit, as stored
  if (version.empty()) {
    if (m <= 0) return 0;
    return static_cast<long double>(static_cast<uint32_t>(payload * 8u)) / m;
  }
  if (version[0] == u'9') {
    if (m < 256000 && d.Duration < 100) {
      if (d.ByteRate == 0) return 0;
      const uint32_t bytes = payload - static_cast<uint32_t>(m / 8);
      return static_cast<long double>(bytes) / d.ByteRate - 2;
    }
    return d.Duration;
  }
  if (m > 0 && m < 320000)
    return static_cast<long double>(static_cast<uint32_t>(payload * 8u)) / m;
  return d.Duration;
}

}  // namespace

void TWMA::ResetData() {
  FValid = false;
  FIsValidFile = false;
  FIsTAG = false;
  FIsVBR = false;
  FFileSize = 0;
  FTagSize = 0;
  FChannelModeID = 0;
  FSampleRate = 0;
  FDuration = 0.0;
  FBitRate = 0;
  FDateTime = -1.0;
  for (auto* s : {&FTitle, &FArtist, &FAlbum, &FTrack, &FYear, &FGenre, &FComment, &FEncoder,
                  &FRating, &FGenreID, &FPromoURL, &FCopyright, &FEncoderName, &FStreamName,
                  &FLyrics})
    s->clear();
}

AnsiString TWMA::ChannelMode() const {
  switch (FChannelModeID) {
    case 1: return "Mono";
    case 2: return "Stereo";
    default: return "Unknown";
  }
}

bool TWMA::LoadFromFile(const std::u16string& FileName) {
  ResetData();
  TFileData d;
  if (!ReadFileData(FileName, d)) return false;

  FValid = true;
  FFileSize = static_cast<int32_t>(d.FileSize);
  FDateTime = d.DateTime;
  FIsTAG = d.IsTag;
  FTagSize = static_cast<int32_t>(d.TagSize);
  FChannelModeID = static_cast<uint8_t>(d.Channels & 0xFF);
  FSampleRate = d.SampleRate;
  FIsValidFile = d.MaxBitRate > 0 && (d.Channels == 1 || d.Channels == 2) &&
                 d.SampleRate >= 8000 && d.SampleRate <= 96000 && d.ByteRate > 0 &&
                 d.ByteRate < 400000;

  long double duration = CorrectedDuration(d);
  if (!std::isfinite(duration) || duration < 0) duration = 0;
  FDuration = static_cast<double>(duration);
  FBitRate = static_cast<int32_t>(static_cast<int64_t>(d.ByteRate) * 8 / 1000);

  std::u16string* fields[kSlotCount] = {&FTitle,   &FArtist,    &FAlbum,       &FTrack,
                                        &FYear,    &FGenre,     &FComment,     &FEncoder,
                                        &FGenreID, &FPromoURL,  &FCopyright,   &FRating,
                                        &FEncoderName, &FStreamName, &FLyrics};
  for (int i = 0; i < kSlotCount; ++i) *fields[i] = Trim(d.Tag[i]);
  FIsVBR = FStreamName.find(u"VBR") != std::u16string::npos;
  return FValid;
}

}  // namespace ordana
