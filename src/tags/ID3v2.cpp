#include "tags/ID3v2.h"

#include <algorithm>
#include <cstring>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/FileSource.h"

namespace ordana {

const char* const kID3v2SlotIDs[kID3v2SlotCount + 1] = {
    "",     "TIT2", "TPE1", "TALB", "TRCK", "TYER", "TCON", "COMM", "TCOM",
    "TENC", "TCOP", "TLAN", "WXXX", "TDRC", "TOPE", "TIT1", "TOAL"};
const char* const kID3v2SlotIDsV22[kID3v2SlotCount + 1] = {
    "",    "TT2", "TP1", "TAL", "TRK", "TYE", "TCO", "COM", "TCM",
    "TEN", "TCR", "TLA", "WXX", "TOR", "TOA", "TT1", "TOT"};

int32_t ID3v2TotalTagSize(const uint8_t h[10], int64_t fileSize) {
  bytes::ByteReader r(h, 10);
  if (!r.Match("ID3")) return 0;
  const uint8_t flags = r.At(5).U8();
  // The size bytes are taken as they stand, top bits included, as the
  // playout program computes it: a tag whose size bytes are not
  // well-formed is skipped by the same length there and here.
  int64_t size = int64_t{r.At(6).SyncSafe32()} + 10;
  if (flags & 0x10) size += 10;
  if (size > fileSize) return 0;
  return static_cast<int32_t>(size);
}

// --- Text of frames --------------------------------------------------------

namespace {

uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

bool IsByteOrderMark(uint8_t first, uint8_t second) {
  return (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
}

}  // namespace

std::u16string DecodeFrameText(std::string_view Data) {
  if (!Data.empty() && (At(Data, 0) == 1 || At(Data, 0) == 2)) {
    // UTF-16. Encoding 1: little-endian unless the data starts with FE.
    // Encoding 2: big-endian without a mark (a writer's stray FF FE mark
    // makes it little-endian).
    size_t start = 1;
    bool bigEndian = At(Data, 0) == 2;
    if (Data.size() >= 2) {
      const uint8_t b1 = At(Data, 1);
      const uint8_t b2 = Data.size() > 2 ? At(Data, 2) : 0;
      if (bigEndian ? (b1 == 0xFF && b2 == 0xFE) : b1 == 0xFE) bigEndian = !bigEndian;
      if (IsByteOrderMark(b1, b2)) start = 2;
    }
    // Units i = start..n occupy bytes 2i-1 and 2i. A zero unit ends the text.
    // Byte-order marks met inside the text (strings joined with their own
    // marks) are left out; every other unit is kept.
    const size_t n = (Data.size() - 1) / 2;
    ByteString units;
    units.reserve(Data.size());
    for (size_t i = start; i <= n; ++i) {
      const uint8_t a = At(Data, 2 * i - 1), b = At(Data, 2 * i);
      if (a == 0 && b == 0) break;
      if (IsByteOrderMark(a, b)) continue;
      units.push_back(static_cast<char>(a));
      units.push_back(static_cast<char>(b));
    }
    return Trim(bigEndian ? Utf16BEToUtf16(units) : Utf16LEToUtf16(units));
  }
  if (!Data.empty() && At(Data, 0) == 3) {
    // UTF-8, untrimmed. A zero byte ends the text, as a zero unit does in
    // UTF-16: version 2.4 writers terminate their strings (and separate
    // several values) with one, and it is no part of the text.
    std::string_view s = Data.substr(1);
    return Utf8ToUtf16(s.substr(0, s.find('\0')));
  }
  // Encoding 0, or anything else: the whole data in the ANSI code page;
  // trimming removes the encoding byte and the zero padding.
  return Trim(AnsiToUtf16(Data));
}

std::u16string TextAfterDescription(std::string_view Data, bool WithLanguage) {
  if (Data.empty()) return {};
  const char enc = Data[0];
  const bool wide = enc == 1 || enc == 2;
  std::string_view rest = Data.substr(std::min<size_t>(Data.size(), WithLanguage ? 4 : 1));
  if (wide) {
    // The description is UTF-16: its terminator is a zero unit, looked for
    // on unit boundaries (a letter's zero high byte followed by the
    // terminator must not be taken for it).
    size_t p = 0;
    while (p + 1 < rest.size() && !(rest[p] == 0 && rest[p + 1] == 0)) p += 2;
    rest = p + 1 < rest.size() ? rest.substr(p + 2) : rest.substr(std::min<size_t>(1, rest.size()));
  } else {
    const size_t p = rest.find('\0');
    if (p != std::string_view::npos) rest = rest.substr(p + 1);
  }
  ByteString data(1, enc);
  data.append(rest);
  return DecodeFrameText(data);
}

uint16_t ParseTrackNumber(std::string_view Data) {
  AnsiString t = Utf16ToAnsi(DecodeFrameText(Data));
  const size_t slash = t.find('/');
  if (slash != AnsiString::npos) t.resize(slash);
  return static_cast<uint16_t>(static_cast<uint32_t>(TryStrToInt(std::string_view(t)).value_or(0)));
}

std::u16string StripGenreReference(std::string_view Data) {
  std::u16string g = DecodeFrameText(Data);
  const size_t p = g.rfind(u')');
  if (p != std::u16string::npos) g.erase(0, p + 1);
  return g;
}

// --- Reading the tag ---------------------------------------------------------

namespace {

void PrepareSlots(TagInfo& info) {
  info.FrameIDs.assign(kID3v2SlotCount + 1, ByteString());
  info.Frame.assign(kID3v2SlotCount + 1, ByteString());
  for (int i = 1; i <= kID3v2SlotCount; ++i) info.FrameIDs[i] = kID3v2SlotIDs[i];
}

int SlotOf(std::string_view id, uint8_t version) {
  const char* const* ids = version < 3 ? kID3v2SlotIDsV22 : kID3v2SlotIDs;
  for (int i = 1; i <= kID3v2SlotCount; ++i)
    if (id == ids[i]) return i;
  return 0;
}

// Puts a frame into its slot (the last frame of an identifier wins), or, when
// keepOthers, appends a frame that has no slot.
void StoreFrame(TagInfo& info, std::string_view id, ByteString data, bool keepOthers) {
  const int slot = SlotOf(id, info.Version);
  if (slot && !data.empty()) {
    info.Frame[slot] = std::move(data);
    info.FrameIDs[slot] = ByteString(id);
    return;
  }
  if (!keepOthers) return;
  info.FrameIDs.emplace_back(id);
  info.Frame.push_back(std::move(data));
}

bool IsIdStart(uint8_t c) { return c >= 'A' && c <= 'Z'; }

// Frames of versions 2.3 and 2.4, from offset 10 while below the tag's end.
// Reading keeps the slot frames only, each cut to kID3v2FrameLimit bytes;
// keepAll keeps every frame whole (for rewriting the tag). A frame that the
// file cannot hold, a negative size or a bad identifier ends the walk.
void WalkFramesV23(bytes::SourceWindow& w, TagInfo& info, int64_t tagSize, bool keepAll) {
  int64_t pos = 10;
  while (pos < tagSize && pos < w.Size()) {
    bytes::ByteReader h = w.Get(pos, 10);
    if (!h.Ok() || !IsIdStart(h.At(0).U8())) return;
    const std::string id(h.Chars(4));
    const bytes::ByteReader sizeField = h.Sub(4);
    const bool skip = (h.At(9).U8() & 0x80) != 0;
    const int64_t plain = sizeField.At(0).U32BE();
    int64_t size;
    if (info.Version == 4) {
      // Version 2.4 sizes are sync-safe; one with a top bit set cannot be,
      // and is read as a plain number (what version 2.3 writers put there).
      const bytes::Span b = sizeField.All();
      size = ((b[0] | b[1] | b[2]) & 0x80) ? plain : sizeField.At(0).SyncSafe32();
    } else {
      size = plain;
      // Some writers stored version 2.3 sizes in the wrong byte order: a size
      // larger than the whole tag is read the other way round.
      if (size <= 0x7FFFFFFF && size > tagSize) size = sizeField.At(0).U32LE();
    }
    if (size > 0x7FFFFFFF) return;  // negative as a signed 32-bit size
    const int64_t dataPos = pos + 10;
    const bool wanted = !skip && (keepAll || SlotOf(id, info.Version) != 0);
    const int64_t len = keepAll ? size : std::min<int64_t>(size, kID3v2FrameLimit);
    if (size == 0) {
      if (!skip) StoreFrame(info, id, ByteString(1, '\0'), keepAll);
    } else if (wanted) {
      bytes::ByteReader d = w.Get(dataPos, static_cast<size_t>(len));
      if (!d.Ok()) return;
      StoreFrame(info, id, ByteString(d.AllChars()), keepAll);
    } else if (len > w.Size() - dataPos) {
      return;  // the frame reaches past the end of the file
    }
    pos = dataPos + size;
  }
}

// Frames of version 2.2 (6-byte headers). When reading, a frame's data is
// held as exactly 500 bytes: cut, or padded with zero bytes.
void WalkFramesV22(bytes::SourceWindow& w, TagInfo& info, int64_t tagSize, bool keepAll) {
  int64_t pos = 10;
  while (pos < tagSize && pos < w.Size()) {
    bytes::ByteReader h = w.Get(pos, 6);
    if (!h.Ok() || !IsIdStart(h.At(0).U8())) return;
    const std::string id(h.Chars(3));
    const int64_t size = h.U24BE();
    const int64_t dataPos = pos + 6;
    const int64_t len = keepAll ? size : std::min<int64_t>(size, kID3v2FrameLimitV22);
    // Frames without a slot are not kept for rewriting: their 2.2 layout
    // (three-letter identifiers, PIC) has no place in a 2.4 tag.
    if (SlotOf(id, info.Version) != 0) {
      ByteString data;
      if (len) {
        bytes::ByteReader d = w.Get(dataPos, static_cast<size_t>(len));
        if (!d.Ok()) return;
        data.assign(d.AllChars());
      }
      if (!keepAll) data.resize(kID3v2FrameLimitV22, '\0');
      StoreFrame(info, id, std::move(data), keepAll);
    } else if (len > w.Size() - dataPos) {
      return;
    }
    pos = dataPos + size;
  }
}

// Reads the tag header at the start of a file into info; the frames too when
// the header is one this reader walks. The total size (0 when there is no
// usable tag) goes to *totalSize. False when the file is shorter than 10
// bytes or cannot be read.
bool ReadTagInfo(bytes::SourceWindow& w, TagInfo& info, int32_t* totalSize, bool keepAll) {
  if (w.Size() < 10) return false;
  bytes::ByteReader h = w.Get(0, 10);
  if (!h.Ok()) return false;
  uint8_t header[10];
  h.CopyTo(header, 10);
  std::memcpy(info.ID, header, 3);
  info.Version = header[3];
  info.Revision = header[4];
  info.Flags = header[5];
  std::memcpy(info.Size, header + 6, 4);
  info.FileSize = w.Size();
  *totalSize = ID3v2TotalTagSize(header, w.Size());
  if (std::memcmp(info.ID, "ID3", 3) != 0 || info.Version < 2 || info.Version > 4 ||
      *totalSize == 0)
    return true;
  w.SetAheadEnd(*totalSize);
  if (info.Version == 2)
    WalkFramesV22(w, info, *totalSize, keepAll);
  else
    WalkFramesV23(w, info, *totalSize, keepAll);
  return true;
}

}  // namespace

bool ParseID3v2(const bytes::ByteSource& file, ID3v2Record& tag) {
  tag = ID3v2Record{};
  TagInfo info;
  PrepareSlots(info);
  bytes::SourceWindow w(file);
  int32_t total = 0;
  if (!ReadTagInfo(w, info, &total, false)) return false;
  if (std::memcmp(info.ID, "ID3", 3) != 0) return true;

  tag.Exists = true;
  tag.VersionID = info.Version;
  tag.Size = total;
  tag.OldTagSize = total;
  if (info.Version < 2 || info.Version > 4 || total == 0) return true;

  auto text = [&](int slot) { return DecodeFrameText(info.Frame[slot]); };
  auto textOr = [&](int slot, int fallback) {
    std::u16string t = text(slot);
    return t.empty() ? text(fallback) : t;
  };
  // The original title, artist and album stand in for missing ones.
  tag.Title = textOr(1, 15);
  tag.Artist = textOr(2, 14);
  tag.Album = textOr(3, 16);
  tag.Track = ParseTrackNumber(info.Frame[4]);
  tag.TrackString = Utf16ToAnsi(text(4));
  tag.Year = text(5);
  if (tag.Year.empty()) tag.Year = Trim(text(13));
  tag.Genre = StripGenreReference(info.Frame[6]);
  tag.Comment = TextAfterDescription(info.Frame[7], true);
  tag.Composer = text(8);
  tag.Encoder = Utf16ToAnsi(text(9));
  tag.Copyright = Utf16ToAnsi(text(10));
  tag.Language = Utf16ToAnsi(text(11));
  tag.Link = Utf16ToAnsi(TextAfterDescription(info.Frame[12], false));
  return true;
}

bool TID3v2::ReadFromFile(const std::u16string& FileName) {
  F = ID3v2Record{};
  return ParseFile(FileName, [&](const bytes::ByteSource& s) { return ReadFromSource(s); });
}

// --- Writing the tag -------------------------------------------------------

void TID3v2::SetTitle(const std::u16string& v) { F.Title = Trim(v); }
void TID3v2::SetArtist(const std::u16string& v) { F.Artist = Trim(v); }
void TID3v2::SetAlbum(const std::u16string& v) { F.Album = Trim(v); }
void TID3v2::SetYear(const std::u16string& v) { F.Year = Trim(v); }
void TID3v2::SetGenre(const std::u16string& v) { F.Genre = Trim(v); }
void TID3v2::SetComment(const std::u16string& v) { F.Comment = Trim(v); }
void TID3v2::SetComposer(const std::u16string& v) { F.Composer = Trim(v); }
void TID3v2::SetEncoder(const std::u16string& v) { F.Encoder = Utf16ToAnsi(Trim(v)); }
void TID3v2::SetCopyright(const std::u16string& v) { F.Copyright = Utf16ToAnsi(Trim(v)); }
void TID3v2::SetLanguage(const std::u16string& v) { F.Language = Utf16ToAnsi(Trim(v)); }
void TID3v2::SetLink(const std::u16string& v) { F.Link = Utf16ToAnsi(Trim(v)); }

namespace {

constexpr int64_t kRewritePadding = 2048;
constexpr int64_t kMaxInPlaceTag = 20971520;  // 20 MiB

// 01, FF FE, the text little-endian, 00 00; an empty text is one zero unit.
ByteString Utf16FrameData(const std::u16string& text) {
  ByteString d = "\x01\xFF\xFE";
  d += Utf16ToUtf16LE(text.empty() ? std::u16string(1, u'\0') : text);
  d.append(2, '\0');
  return d;
}

ByteString CommentFrameData(const std::u16string& text) {
  ByteString d("\x01\0\0\0\xFF\xFE\0\0\xFF\xFE", 10);
  d += Utf16ToUtf16LE(text);
  d.append(2, '\0');
  return d;
}

std::string SyncSafe(int64_t v) {
  return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}

struct FileTag {
  bool headerRead = false;
  bool exists = false;
  int64_t fileSize = 0;
  int64_t totalSize = 0;  // with the footer, as other readers skip it
  bool footer = false;
};

// The file's current tag header, and (when walk) its frames into info.
FileTag InspectTag(const std::u16string& FileName, TagInfo* info, bool walk) {
  FileTag t;
  InputFile f = InputFile::Open(FileName);
  if (!f) return t;
  const FileSource source(f);
  bytes::SourceWindow w(source);
  t.fileSize = w.Size();
  if (t.fileSize < 10) return t;
  uint8_t h[10];
  if (!w.Get(0, 10).CopyTo(h, 10)) return t;
  t.headerRead = true;
  t.exists = h[0] == 'I' && h[1] == 'D' && h[2] == '3';
  if (!t.exists) return t;
  t.totalSize = ID3v2TotalTagSize(h, t.fileSize);
  t.footer = (h[5] & 0x10) != 0;
  if (info && walk && h[3] >= 2 && h[3] <= 4 && t.totalSize > 0) {
    info->Version = h[3];
    w.SetAheadEnd(t.totalSize);
    if (h[3] == 2)
      WalkFramesV22(w, *info, t.totalSize, true);
    else
      WalkFramesV23(w, *info, t.totalSize, true);
  }
  return t;
}

// Rewrites the file as newTag followed by its content after the old tag.
bool Rebuild(const std::u16string& FileName, const ByteString& newTag, int64_t skip) {
  InputFile src = InputFile::Open(FileName);
  if (!src) return false;
  return RewriteFile(FileName, [&](OutputFile& out) {
    return out.Write(newTag) && out.CopyFrom(src, skip);
  });
}

}  // namespace

bool TID3v2::SaveToFile(const std::u16string& FileName) {
  try {
    TagInfo info;
    PrepareSlots(info);
    const bool walk = F.VersionID >= 2 && F.VersionID <= 4 && F.Size > 0;
    const FileTag file = InspectTag(FileName, &info, walk);
    if (!file.headerRead && file.fileSize == 0 && !FileExists(FileName)) return false;
    // Slot frames go under their 2.3/2.4 identifiers (also those read from
    // a 2.2 tag).
    for (int i = 1; i <= kID3v2SlotCount; ++i) info.FrameIDs[i] = kID3v2SlotIDs[i];

    if (F.Comment.empty()) F.Comment.assign(1, u' ');
    info.Frame[1] = Utf16FrameData(F.Title);
    info.Frame[2] = Utf16FrameData(F.Artist);
    info.Frame[3] = Utf16FrameData(F.Album);
    // The 8-bit texts are written with encoding byte 0 (digits) or as
    // UTF-16, so that every reader finds a well-formed text frame.
    if (F.Track != 0) info.Frame[4] = ByteString(1, '\0') + std::to_string(F.Track);
    info.Frame[5] = Utf16FrameData(F.Year);
    info.Frame[6] = Utf16FrameData(F.Genre);
    info.Frame[7] = CommentFrameData(F.Comment);
    info.Frame[8] = Utf16FrameData(F.Composer);
    const AnsiString* ansi[] = {&F.Encoder, &F.Copyright, &F.Language};
    for (int i = 0; i < 3; ++i)
      info.Frame[9 + i] = ansi[i]->empty() ? ByteString() : Utf16FrameData(AnsiToUtf16(*ansi[i]));
    // Encoding 0, an empty description and its terminator, then the link.
    if (!F.Link.empty()) info.Frame[12] = ByteString(2, '\0') + F.Link;
    info.OldTagSize = F.OldTagSize;

    ByteString tag = "ID3" + std::string("\x04\0\0", 3) + std::string(4, '\0');
    for (size_t i = 1; i < info.FrameIDs.size(); ++i) {
      const ByteString& data = info.Frame[i];
      if (data.empty() || info.FrameIDs[i].size() != 4) continue;
      tag += info.FrameIDs[i] + SyncSafe(static_cast<int64_t>(data.size())) + std::string(2, '\0') + data;
    }
    const int64_t built = static_cast<int64_t>(tag.size());
    // In place only over the tag this object read, when the new one fits
    // and the old one has no footer (which would be left behind).
    const bool inPlace = file.exists && file.totalSize > 0 && !file.footer &&
                         file.totalSize == info.OldTagSize && built <= info.OldTagSize &&
                         info.OldTagSize <= kMaxInPlaceTag;
    const int64_t total = inPlace ? file.totalSize : built + kRewritePadding;
    if (total - 10 > 0x0FFFFFFF) return false;  // beyond what the size field holds
    tag.resize(static_cast<size_t>(total), '\0');
    const std::string size = SyncSafe(total - 10);
    tag.replace(6, 4, size);
    if (inPlace) return OverwriteInPlace(FileName, 0, tag);
    return Rebuild(FileName, tag, file.exists ? file.totalSize : 0);
  } catch (const std::exception&) {
    return false;
  }
}

bool TID3v2::RemoveFromFile(const std::u16string& FileName) const {
  try {
    const FileTag file = InspectTag(FileName, nullptr, false);
    if (!file.exists || file.totalSize == 0) return false;
    return Rebuild(FileName, ByteString(), file.totalSize);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace ordana
