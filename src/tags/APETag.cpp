#include "tags/APETag.h"

#include <cstring>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"

namespace ordana {

namespace {

constexpr int64_t kFooterSize = 32;
constexpr int64_t kID3v1Size = 128;
// The smallest stored item: value size, flags and the key's zero byte.
constexpr int64_t kMinItemSize = 9;

void PutLE32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

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
    const uint32_t flags = GetLE32(data + pos + 4);
    pos += 8;
    const void* zero = std::memchr(data + pos, 0, end - pos);
    if (!zero) break;  // the key runs to the end of the tag
    const size_t keyEnd = static_cast<size_t>(static_cast<const unsigned char*>(zero) - data);
    RField item;
    item.Flags = flags;
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

// --- Editing ------------------------------------------------------------------

void TAPETag::InsertField(int32_t pos, const Utf8String& name, const Utf8String& value) {
  if (pos < 0 || static_cast<size_t>(pos) >= pField.size()) return;
  pField.insert(pField.begin() + pos, RField{name, value});
}

void TAPETag::RemoveField(int32_t pos) {
  if (pos < 0 || static_cast<size_t>(pos) >= pField.size()) return;
  pField.erase(pField.begin() + pos);
}

void TAPETag::DeleteField(const std::u16string& name) {
  const Utf8String n = Utf16ToUtf8(name);
  for (auto it = pField.begin(); it != pField.end(); ++it)
    if (it->Name == n) {
      pField.erase(it);
      return;
    }
}

void TAPETag::AppendField(const Utf8String& name, const Utf8String& value) {
  pField.push_back(RField{name, value});
}

void TAPETag::AppendField(const std::u16string& name, const std::u16string& value) {
  AppendField(Utf16ToUtf8(name), Utf16ToUtf8(value));
}

void TAPETag::EditField(const Utf8String& name, const Utf8String& value) {
  if (name.empty() || value.empty()) return;
  for (RField& item : pField)
    if (item.Name == name) {
      item.Value = value;
      return;
    }
  AppendField(name, value);
}

void TAPETag::EditField(const std::u16string& name, const std::u16string& value) {
  EditField(Utf16ToUtf8(name), Utf16ToUtf8(value));
}

void TAPETag::EditField(const std::u16string& name, int32_t value) {
  EditField(Utf16ToUtf8(name), std::to_string(value));
}

void TAPETag::SwapFields(int32_t pos1, int32_t pos2) {
  const auto n = static_cast<int64_t>(pField.size());
  if (pos1 < 0 || pos2 < 0 || pos1 >= n || pos2 >= n) return;
  std::swap(pField[static_cast<size_t>(pos1)], pField[static_cast<size_t>(pos2)]);
}

// --- Writing -------------------------------------------------------------------

ByteString TAPETag::BuildTag() const {
  std::string items;
  for (const RField& item : pField) {
    // Keys are read in the ANSI code page, so they are written in it too;
    // a zero byte inside one would end the key early and garble the list.
    const ByteString key = Utf16ToAnsi(Utf8ToUtf16(item.Name));
    if (key.find('\0') != std::string::npos) return {};
    if (item.Value.size() > 0x7FFFFFFF) return {};
    PutLE32(items, static_cast<uint32_t>(item.Value.size()));
    PutLE32(items, item.Flags);
    items += key;
    items += '\0';
    items += item.Value;
  }
  if (items.size() > 0x7FFFFFFF - kFooterSize) return {};
  const auto size = static_cast<uint32_t>(items.size() + kFooterSize);
  const auto count = static_cast<uint32_t>(pField.size());
  auto frame = [&](uint32_t flags) {
    std::string b = "APETAGEX";
    PutLE32(b, 2000);
    PutLE32(b, size);
    PutLE32(b, count);
    PutLE32(b, flags);
    b.append(8, '\0');
    return b;
  };
  return frame(0xA0000000) + items + frame(0x80000000);
}

int64_t TAPETag::AudioEnd(const InputFile& f, const Footer& footer) {
  const int64_t tagEnd = footer.FileSize - footer.ID3v1Shift;
  int64_t extent = footer.Size;
  if (extent < kFooterSize || extent > tagEnd) return -1;
  // With the header flag set, the 32 header bytes before the items go too,
  // when they really are a header.
  if ((footer.Flags & 0x80000000u) && tagEnd - extent >= kFooterSize) {
    char id[8];
    if (f.ReadAt(tagEnd - extent - kFooterSize, id, 8) == 8 && std::memcmp(id, "APETAGEX", 8) == 0)
      extent += kFooterSize;
  }
  return tagEnd - extent;
}

bool TAPETag::WriteTagInFile(const std::u16string& sFile) const {
  SaveSession s(sFile);
  if (!s) return false;
  const InputFile& f = s.Source();
  Footer footer;
  const bool read = ReadFooter(f, footer);
  const int64_t size = s.Size();
  // A trailing ID3v1 tag is known (and kept) also when the file is too
  // short to hold a footer before it.
  const int64_t shift = footer.ID3v1Shift;
  const int64_t audioEnd = read && footer.IsAPE() ? AudioEnd(f, footer) : size - shift;
  if (audioEnd < 0) return s.Refuse("the APE tag's size does not fit the file");
  const ByteString tag = BuildTag();
  if (tag.empty()) return s.Refuse("an item cannot be stored in an APE tag");
  return s.Rewrite([&](OutputFile& out) {
    return out.CopyOriginal(0, audioEnd) && out.Write(tag) && out.CopyOriginal(size - shift, shift);
  });
}

bool TAPETag::RemoveTagFromFile(const std::u16string& sFile) const {
  SaveSession s(sFile);
  Footer footer;
  if (!s) {
    // Whether there is a tag to remove decides between false, true and
    // the error of a file that cannot be changed.
    InputFile f = InputFile::Open(sFile);
    if (!f || !ReadFooter(f, footer)) return false;
    if (!footer.IsAPE()) return true;
    throw EWriteError();
  }
  const InputFile& f = s.Source();
  if (!ReadFooter(f, footer)) return false;
  if (!footer.IsAPE()) {
    ClearLastSaveStatus();
    return true;
  }
  const int64_t audioEnd = AudioEnd(f, footer);
  if (audioEnd < 0) return s.Refuse("the APE tag's size does not fit the file");
  const int64_t shift = footer.ID3v1Shift;
  if (!s.Rewrite([&](OutputFile& out) {
        return out.CopyOriginal(0, audioEnd) && out.CopyOriginal(footer.FileSize - shift, shift);
      }))
    throw EWriteError();
  return true;
}

}  // namespace ordana
