#include "tags/APETag.h"

#include <cstring>

#include "platform/FileIO.h"
#include "platform/Strings.h"

namespace ordana {

namespace {

constexpr int64_t kFooterSize = 32;
constexpr int64_t kID3v1Size = 128;
// The smallest stored item: value size, flags and the key's zero byte.
constexpr int64_t kMinItemSize = 9;

uint32_t GetLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool TAPETag::Footer::IsAPE() const { return std::memcmp(ID, "APETAGEX", 8) == 0; }

void TAPETag::ResetData() {
  pField.clear();
  pExists = false;
  pVersion = 0;
  pSize = 0;
}

bool TAPETag::ReadFooter(const InputFile& f, Footer& footer) {
  footer = Footer{};
  const int64_t size = f.Size();
  if (size < 0) return false;
  footer.FileSize = size;
  if (size > kID3v1Size) {
    char mark[3];
    if (f.ReadAt(size - kID3v1Size, mark, 3) != 3) return false;
    if (std::memcmp(mark, "TAG", 3) == 0) footer.ID3v1Shift = kID3v1Size;
  }
  const int64_t at = size - footer.ID3v1Shift - kFooterSize;
  if (at <= 0) return false;
  unsigned char raw[kFooterSize];
  if (f.ReadAt(at, raw, sizeof raw) != kFooterSize) return false;
  std::memcpy(footer.ID, raw, 8);
  footer.Version = static_cast<int32_t>(GetLE32(raw + 8));
  footer.Size = static_cast<int32_t>(GetLE32(raw + 12));
  footer.Fields = GetLE32(raw + 16);
  footer.Flags = GetLE32(raw + 20);
  return true;
}

bool TAPETag::ReadFromFile(const std::u16string& sFile) {
  ResetData();
  InputFile f = InputFile::Open(sFile);
  if (!f) return false;
  Footer footer;
  if (!ReadFooter(f, footer)) return false;
  if (!footer.IsAPE()) return true;
  pExists = true;
  pVersion = footer.Version;
  pSize = footer.Size;
  ReadItems(f, footer);
  return true;
}

// The items stand between the start of the tag (tag size bytes before the end
// of the footer) and the footer. The whole area is read at once, bounded by
// the file, and parsed from memory; an item that does not fit ends the list.
void TAPETag::ReadItems(const InputFile& f, const Footer& footer) {
  const int64_t tagEnd = footer.FileSize - footer.ID3v1Shift;
  const int64_t tagSize = footer.Size;  // signed, as stored
  if (tagSize < kFooterSize || tagSize > tagEnd) return;
  const int64_t start = tagEnd - tagSize;
  const int64_t areaSize = tagSize - kFooterSize;
  std::string area(static_cast<size_t>(areaSize), '\0');
  const int64_t got = f.ReadAt(start, area.data(), area.size());
  if (got < 0) return;
  area.resize(static_cast<size_t>(got));

  const auto* data = reinterpret_cast<const unsigned char*>(area.data());
  const size_t end = area.size();
  size_t pos = 0;
  for (uint32_t i = 0; i < footer.Fields; ++i) {
    if (end - pos < kMinItemSize) break;
    const int32_t valueSize = static_cast<int32_t>(GetLE32(data + pos));
    pos += 8;  // value size and item flags
    const void* zero = std::memchr(data + pos, 0, end - pos);
    if (!zero) break;  // the key runs to the end of the tag
    const size_t keyEnd = static_cast<size_t>(static_cast<const unsigned char*>(zero) - data);
    RField item;
    item.Name = Utf16ToUtf8(Trim(AnsiToUtf16(area.substr(pos, keyEnd - pos))));
    pos = keyEnd + 1;
    const bool fits = valueSize >= 0 && static_cast<uint64_t>(valueSize) <= end - pos;
    if (fits) item.Value = area.substr(pos, static_cast<size_t>(valueSize));
    pField.push_back(std::move(item));
    if (!fits) break;  // a negative size, or a value past the end of the tag
    pos += static_cast<size_t>(valueSize);
  }
}

Utf8String TAPETag::SeekField(const Utf8String& Field) const {
  const std::string wanted = UpperAscii(std::string_view(Field));
  for (const RField& item : pField)
    if (UpperAscii(std::string_view(item.Name)) == wanted) return item.Value;
  return {};
}

}  // namespace ordana
