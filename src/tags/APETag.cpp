#include "tags/APETag.h"

#include <algorithm>
#include <cstring>

#include "bytes/ByteWriter.h"

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/FileSource.h"

namespace ordana {

namespace {

constexpr int64_t kFooterSize = 32;
constexpr int64_t kID3v1Size = 128;
// The smallest stored item: value size, flags and the key's zero byte.
constexpr int64_t kMinItemSize = 9;
// What the items of one tag may hold in memory at most (keys, values and
// their records): far above any real tag, cover art included.
constexpr int64_t kMaxItemsBytes = int64_t{16} << 20;
constexpr size_t kItemsReadAhead = 65536;

}  // namespace

bool TAPETag::Footer::IsAPE() const { return std::memcmp(ID, "APETAGEX", 8) == 0; }

// Only a tag at the end of the file, or right before an ID3v1 tag, is found; one at the
// start of a file is not, as in the playout program.
bool TAPETag::ReadFooter(const bytes::ByteSource& f, Footer& footer) {
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
  uint8_t raw[kFooterSize];
  if (f.ReadAt(at, raw, sizeof raw) != kFooterSize) return false;
  bytes::ByteReader r(raw, sizeof raw);
  r.CopyTo(footer.ID, 8);
  footer.Version = static_cast<int32_t>(r.U32LE());
  footer.Size = static_cast<int32_t>(r.U32LE());
  footer.Fields = r.U32LE();
  footer.Flags = r.U32LE();
  return true;
}

// The items stand between the start of the tag (tag size bytes before the end
// of the footer) and the footer. They are read one by one, so that what is
// held is what the items really contain, never the size a footer claims; an
// item that does not fit the tag ends the list, and so does one that would
// take the items kept past kMaxItemsBytes.
static void ReadItems(const bytes::ByteSource& f, const TAPETag::Footer& footer, AField& items) {
  const int64_t tagEnd = footer.FileSize - footer.ID3v1Shift;
  const int64_t tagSize = footer.Size;  // signed, as stored
  if (tagSize < kFooterSize || tagSize > tagEnd) return;
  const int64_t areaEnd = tagEnd - kFooterSize;
  int64_t pos = tagEnd - tagSize;
  bytes::SourceWindow w(f, kItemsReadAhead);
  w.SetAheadEnd(areaEnd);
  int64_t budget = kMaxItemsBytes;
  for (uint32_t i = 0; i < footer.Fields; ++i) {
    if (areaEnd - pos < kMinItemSize) break;
    bytes::ByteReader head = w.Get(pos, 8);
    if (!head.Ok()) break;
    const int32_t valueSize = static_cast<int32_t>(head.U32LE());
    RField item;
    item.Flags = head.U32LE();
    pos += 8;
    // The key runs to a zero byte, looked for in growing stretches.
    bytes::ByteReader key;
    size_t keyLength = bytes::ByteReader::npos;
    for (int64_t n = 256;; n *= 4) {
      const int64_t want = std::min({n, areaEnd - pos, budget});
      key = w.GetUpTo(pos, static_cast<size_t>(want));
      if (!key.Ok()) break;
      keyLength = key.Find(0);
      if (keyLength != bytes::ByteReader::npos || want < n) break;
    }
    if (keyLength == bytes::ByteReader::npos) break;  // the key runs to the end of the tag
    // Keys are read in the ANSI code page, not as UTF-8, as the playout program reads them.
    item.Name = Utf16ToUtf8(Trim(AnsiToUtf16(AnsiView(key.Chars(keyLength)))));
    pos += static_cast<int64_t>(keyLength) + 1;
    const bool fits = valueSize >= 0 && valueSize <= areaEnd - pos;
    const int64_t cost = static_cast<int64_t>(2 * sizeof(RField) + keyLength) + (fits ? valueSize : 0);
    if (cost > budget) break;
    budget -= cost;
    if (fits) {
      bytes::ByteReader value = w.Get(pos, static_cast<size_t>(valueSize));
      if (!value.Ok()) break;
      item.Value = Utf8String(value.AllChars());
      pos += valueSize;
    }
    items.push_back(std::move(item));
    if (!fits) break;  // a negative size, or a value past the end of the tag
  }
}

bool ParseAPE(const bytes::ByteSource& file, APERecord& tag) {
  tag = APERecord{};
  TAPETag::Footer footer;
  if (!TAPETag::ReadFooter(file, footer)) return false;
  if (!footer.IsAPE()) return true;
  tag.Exists = true;
  tag.Version = footer.Version;
  tag.Size = footer.Size;
  ReadItems(file, footer, tag.Fields);
  return true;
}

bool TAPETag::ReadFromFile(const std::u16string& sFile) {
  ResetData();
  return ParseFile(sFile, [&](const bytes::ByteSource& s) { return ReadFromSource(s); });
}

// Letter case is ignored for a-z only (the playout program's own items are ASCII),
// while EditField and DeleteField compare bytes exactly.
Utf8String TAPETag::SeekField(const Utf8String& Field) const {
  const std::string wanted = UpperAscii(Field.view());
  for (const RField& item : F.Fields)
    if (UpperAscii(item.Name.view()) == wanted) return item.Value;
  return {};
}

// --- Editing ------------------------------------------------------------------

void TAPETag::InsertField(int32_t pos, const Utf8String& name, const Utf8String& value) {
  if (pos < 0 || static_cast<size_t>(pos) >= F.Fields.size()) return;
  F.Fields.insert(F.Fields.begin() + pos, RField{name, value});
}

void TAPETag::RemoveField(int32_t pos) {
  if (pos < 0 || static_cast<size_t>(pos) >= F.Fields.size()) return;
  F.Fields.erase(F.Fields.begin() + pos);
}

void TAPETag::DeleteField(const std::u16string& name) {
  const Utf8String n = Utf16ToUtf8(name);
  for (auto it = F.Fields.begin(); it != F.Fields.end(); ++it)
    if (it->Name == n) {
      F.Fields.erase(it);
      return;
    }
}

void TAPETag::AppendField(const Utf8String& name, const Utf8String& value) {
  F.Fields.push_back(RField{name, value});
}

void TAPETag::AppendField(const std::u16string& name, const std::u16string& value) {
  AppendField(Utf16ToUtf8(name), Utf16ToUtf8(value));
}

void TAPETag::EditField(const Utf8String& name, const Utf8String& value) {
  if (name.empty() || value.empty()) return;
  for (RField& item : F.Fields)
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
  EditField(Utf16ToUtf8(name), Utf8String(std::to_string(value)));
}

void TAPETag::SwapFields(int32_t pos1, int32_t pos2) {
  const auto n = static_cast<int64_t>(F.Fields.size());
  if (pos1 < 0 || pos2 < 0 || pos1 >= n || pos2 >= n) return;
  std::swap(F.Fields[static_cast<size_t>(pos1)], F.Fields[static_cast<size_t>(pos2)]);
}

// --- Writing -------------------------------------------------------------------

ByteString RenderAPE(const AField& fields) {
  // Sizes are stored as signed 32-bit numbers: nothing may reach 2 GiB.
  constexpr uint64_t kMaxSize = 0x7FFFFFFF;
  bytes::ByteWriter items;
  for (const RField& item : fields) {
    // Keys are read in the ANSI code page, so they are written in it too;
    // a zero byte inside one would end the key early and garble the list.
    const AnsiString key = Utf16ToAnsi(Utf8ToUtf16(item.Name));
    if (key.view().find('\0') != std::string_view::npos || item.Value.size() > kMaxSize) return {};
    items.PutU32LE(item.Value.size());
    items.PutU32LE(item.Flags);
    items.PutBytes(key.bytes());
    items.PutZeros(1);
    items.PutBytes(item.Value.bytes());
  }
  if (items.Size() > kMaxSize - kFooterSize) return {};
  auto frame = [&](bytes::ByteWriter& w, uint32_t flags) {
    w.PutBytes("APETAGEX");
    w.PutU32LE(2000);
    w.PutU32LE(items.Size() + kFooterSize);
    w.PutU32LE(fields.size());
    w.PutU32LE(flags);
    w.PutZeros(8);
  };
  bytes::ByteWriter tag;
  frame(tag, 0xA0000000);  // the header
  tag.PutBytes(items.Bytes());
  frame(tag, 0x80000000);  // the footer
  return tag.Ok() ? tag.Take() : ByteString();
}

ByteString TAPETag::BuildTag() const { return RenderAPE(F.Fields); }

int64_t TAPETag::AudioEnd(const bytes::ByteSource& f, const Footer& footer) {
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
  const FileSource source(f);
  Footer footer;
  const bool read = ReadFooter(source, footer);
  const int64_t size = s.Size();
  // A trailing ID3v1 tag is known (and kept) also when the file is too
  // short to hold a footer before it.
  const int64_t shift = footer.ID3v1Shift;
  const int64_t audioEnd = read && footer.IsAPE() ? AudioEnd(source, footer) : size - shift;
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
    if (!f || !ReadFooter(FileSource(f), footer)) return false;
    if (!footer.IsAPE()) return true;
    throw EWriteError();
  }
  const FileSource source(s.Source());
  if (!ReadFooter(source, footer)) return false;
  if (!footer.IsAPE()) {
    ClearLastSaveStatus();
    return true;
  }
  const int64_t audioEnd = AudioEnd(source, footer);
  if (audioEnd < 0) return s.Refuse("the APE tag's size does not fit the file");
  const int64_t shift = footer.ID3v1Shift;
  if (!s.Rewrite([&](OutputFile& out) {
        return out.CopyOriginal(0, audioEnd) && out.CopyOriginal(footer.FileSize - shift, shift);
      }))
    throw EWriteError();
  return true;
}

}  // namespace ordana
