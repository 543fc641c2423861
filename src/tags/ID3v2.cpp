#include "tags/ID3v2.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "bytes/ByteWriter.h"
#include "tags/FileSource.h"
#include "tags/ID3v1.h"
#include "tags/Padding.h"

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
    return Utf8ToUtf16(Utf8View(s.substr(0, s.find('\0'))));
  }
  // Encoding 0, or anything else: the whole data in the ANSI code page;
  // trimming removes the encoding byte and the zero padding. Not Latin-1:
  // stations' files were tagged on Windows in their own code page.
  return Trim(AnsiToUtf16(AnsiView(Data)));
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
  const AnsiString text = Utf16ToAnsi(DecodeFrameText(Data));
  const std::string_view t = text.view().substr(0, text.view().find('/'));
  return static_cast<uint16_t>(static_cast<uint32_t>(TryStrToInt(t).value_or(0)));
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
  // From offset 10 also when an extended header stands there: its size bytes
  // end the walk with no fields read, and unsynchronised data is read as it
  // stands: as in the playout program.
  int64_t pos = 10;
  while (pos < tagSize && pos < w.Size()) {
    bytes::ByteReader h = w.Get(pos, 10);
    if (!h.Ok() || !IsIdStart(h.At(0).U8())) return;
    const std::string id(h.Chars(4));
    const bytes::ByteReader sizeField = h.Sub(4);
    // A frame flagged compressed (2.3) is passed over, never decompressed.
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

// The fields the reader takes from a tag's slots.
void FillFields(const TagInfo& info, ID3v2Record& tag) {
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
  FillFields(info, tag);
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
namespace {
// An 8-bit field as a read gives it back: the text in the code page, then
// trimmed as a read trims it. Trimming first is not enough: a character the
// code page drops (a variation selector, say) can leave a blank or control
// character at an end.
AnsiString AnsiField(const std::u16string& v) { return Utf16ToAnsi(Trim(AnsiToUtf16(Utf16ToAnsi(v)))); }
}  // namespace

void TID3v2::SetEncoder(const std::u16string& v) { F.Encoder = AnsiField(v); }
void TID3v2::SetCopyright(const std::u16string& v) { F.Copyright = AnsiField(v); }
void TID3v2::SetLanguage(const std::u16string& v) { F.Language = AnsiField(v); }
void TID3v2::SetLink(const std::u16string& v) { F.Link = AnsiField(v); }

namespace {

constexpr int64_t kMaxFrameSize = 0x0FFFFFFF;  // what a 2.4 size field holds

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

uint32_t BigEndian32(std::string_view b, size_t at) { return bytes::ByteReader(b).At(at).U32BE(); }
// The four bytes at `at` as a sync-safe number, seven bits of each (top
// bits left out).
uint32_t SyncSafe32(std::string_view b, size_t at) {
  const uint32_t v = BigEndian32(b, at) & 0x7F7F7F7F;
  return (v >> 24) << 21 | ((v >> 16) & 0x7F) << 14 | ((v >> 8) & 0x7F) << 7 | (v & 0x7F);
}
// A number as four sync-safe bytes (v below 2^28).
std::string SyncSafe(int64_t v) {
  bytes::ByteWriter w;
  w.PutSyncSafe32(uint64_t(v));
  return w.Take();
}

// Undoes unsynchronisation: every FF 00 becomes FF.
std::string Resynchronise(std::string_view b) {
  std::string out;
  out.reserve(b.size());
  for (size_t i = 0; i < b.size(); ++i) {
    out += b[i];
    if (uint8_t(b[i]) == 0xFF && i + 1 < b.size() && b[i + 1] == 0) ++i;
  }
  return out;
}

// A frame as it goes into the version 2.4 layout.
struct SaveFrame {
  std::string id;     // four characters
  uint8_t status = 0;  // 2.4 status flags
  uint8_t format = 0;  // 2.4 format flags (never unsynchronisation)
  std::string extra;   // group byte, encryption method, data length indicator
  std::string data;
  bool dropped = false;
};

// Frames of version 2.2 and the version 2.4 frames they become. PIC is
// converted on its own; 2.2 frames without a counterpart of the same layout
// (EQU, LNK, RVA, CRM) make the save refuse.
constexpr std::pair<const char*, const char*> kV22Frames[] = {
    {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"},
    {"GEO", "GEOB"}, {"IPL", "TIPL"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"POP", "POPM"},
    {"REV", "RVRB"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"},
    {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"},
    {"TEN", "TENC"}, {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"},
    {"TLE", "TLEN"}, {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"},
    {"TOR", "TDOR"}, {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"},
    {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"},
    {"TRK", "TRCK"}, {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"}, {"TT2", "TIT2"},
    {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"},
    {"ULT", "USLT"}, {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"},
    {"WCP", "WCOP"}, {"WPB", "WPUB"}, {"WXX", "WXXX"}};

bool IsIdChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The frames of a tag body (after the header and any extended header) of
// version 2.3 or 2.4, translated into the 2.4 layout. sizeLimit is what the
// reader's size rule compares with (the total tag size).
bool FramesV23(std::string_view body, uint8_t version, bool allUnsynchronised, int64_t sizeLimit,
               std::vector<SaveFrame>& frames, std::string& reason) {
  size_t pos = 0;
  while (pos + 10 <= body.size()) {
    const std::string_view h = body.substr(pos, 10);
    if (h[0] == 0) break;  // padding
    if (!(h[0] >= 'A' && h[0] <= 'Z')) break;  // damage: nothing after it can be read
    SaveFrame f;
    f.id.assign(h.substr(0, 4));
    if (!std::all_of(f.id.begin(), f.id.end(), IsIdChar)) break;
    // The size as the reader takes it.
    const uint8_t b0 = h[4], b1 = h[5], b2 = h[6];
    const int64_t plain = BigEndian32(h, 4);
    int64_t size;
    if (version == 4) {
      size = ((b0 | b1 | b2) & 0x80) ? plain : SyncSafe32(h, 4);
    } else {
      size = plain;
      if (size <= 0x7FFFFFFF && size > sizeLimit)
        size = int64_t(uint8_t(h[7])) << 24 | int64_t(b2) << 16 | int64_t(b1) << 8 | b0;
    }
    if (size > int64_t(body.size() - pos - 10)) break;  // runs past the tag
    std::string_view content = body.substr(pos + 10, size_t(size));
    const uint8_t s = h[8], fl = h[9];
    auto damaged = [&] {
      reason = "the frame " + f.id + " is damaged";
      return false;
    };
    if (version == 3) {
      // 2.3: status a b c = 0x80 0x40 0x20; format compression 0x80 (four
      // bytes of decompressed size follow the header), encryption 0x40 (a
      // method byte), grouping 0x20 (a group byte), in that order.
      f.status = uint8_t((s & 0x80 ? 0x40 : 0) | (s & 0x40 ? 0x20 : 0) | (s & 0x20 ? 0x10 : 0));
      const bool compressed = fl & 0x80, encrypted = fl & 0x40, grouped = fl & 0x20;
      const size_t extras = (compressed ? 4 : 0) + (encrypted ? 1 : 0) + (grouped ? 1 : 0);
      if (content.size() < extras) return damaged();
      size_t at = 0;
      uint32_t decompressed = 0;
      if (compressed) decompressed = BigEndian32(content, 0), at += 4;
      const std::string method = encrypted ? std::string(content.substr(at++, 1)) : std::string();
      const std::string group = grouped ? std::string(content.substr(at++, 1)) : std::string();
      if (decompressed > kMaxFrameSize) {
        reason = "the compressed frame " + f.id + " is too large for the version 2.4 layout";
        return false;
      }
      // 2.4: grouping 0x40, compression 0x08, encryption 0x04, data length
      // indicator 0x01 (group byte, method byte, then the indicator).
      f.format = uint8_t((grouped ? 0x40 : 0) | (compressed ? 0x09 : 0) | (encrypted ? 0x04 : 0));
      f.extra = group + method + (compressed ? SyncSafe(decompressed) : std::string());
      f.data.assign(content.substr(at));
    } else {
      f.status = s & 0x70;
      f.format = fl & 0x4D;  // unsynchronisation (0x02) is undone below
      const size_t extras = (fl & 0x40 ? 1 : 0) + (fl & 0x04 ? 1 : 0) + (fl & 0x01 ? 4 : 0);
      if (content.size() < extras) return damaged();
      f.extra.assign(content.substr(0, extras));
      content.remove_prefix(extras);
      f.data = (fl & 0x02) || allUnsynchronised ? Resynchronise(content) : std::string(content);
    }
    frames.push_back(std::move(f));
    pos += 10 + size_t(size);
  }
  return true;
}

bool FramesV22(std::string_view body, std::vector<SaveFrame>& frames, std::string& reason) {
  size_t pos = 0;
  while (pos + 6 <= body.size()) {
    const std::string_view h = body.substr(pos, 6);
    if (!(h[0] >= 'A' && h[0] <= 'Z')) break;
    const std::string id(h.substr(0, 3));
    if (!std::all_of(id.begin(), id.end(), IsIdChar)) break;
    const size_t size = size_t(uint8_t(h[3])) << 16 | size_t(uint8_t(h[4])) << 8 | uint8_t(h[5]);
    if (size > body.size() - pos - 6) break;
    const std::string_view data = body.substr(pos + 6, size);
    SaveFrame f;
    const int slot = SlotOf(id, 2);
    if (slot) {
      f.id = kID3v2SlotIDs[slot];  // the slot frames keep their slots' identifiers
    } else {
      for (const auto& [from, to] : kV22Frames)
        if (id == from) f.id = to;
    }
    if (id == "PIC") {
      // Encoding, a three-letter image format, the picture type, ...: the
      // format becomes a MIME type.
      if (data.size() < 5) {
        reason = "the frame PIC is damaged";
        return false;
      }
      std::string format(data.substr(1, 3));
      for (char& c : format) c = char(std::tolower(static_cast<unsigned char>(c)));
      const std::string mime = format == "jpg" ? "image/jpeg" : "image/" + format;
      f.id = "APIC";
      f.data = std::string(data.substr(0, 1)) + mime + '\0' + std::string(data.substr(4));
    } else if (f.id.empty()) {
      reason = "the version 2.2 frame " + id + " has no version 2.4 form";
      return false;
    } else {
      f.data.assign(data);
    }
    frames.push_back(std::move(f));
    pos += 6 + size;
  }
  return true;
}

// The file's tag as a save sees it: header facts and every frame decoded
// (unsynchronisation undone, an extended header skipped).
struct FileTag {
  bool exists = false;
  int64_t fileSize = 0;
  int64_t totalSize = 0;  // with the footer, as other readers skip it
  bool footer = false;
  std::vector<SaveFrame> frames;
};

bool ReadFileTag(const bytes::ByteSource& s, FileTag& t, std::string& reason) {
  t.fileSize = s.Size();
  uint8_t h[10];
  if (t.fileSize < 10 || s.ReadAt(0, h, 10) != 10) return true;  // no tag
  t.exists = h[0] == 'I' && h[1] == 'D' && h[2] == '3';
  if (!t.exists) return true;
  t.totalSize = ID3v2TotalTagSize(h, t.fileSize);
  t.footer = (h[5] & 0x10) != 0;
  const uint8_t version = h[3], flags = h[5];
  if (t.totalSize == 0) {
    reason = "the ID3v2 tag claims more bytes than the file holds";
    return false;
  }
  if (version < 2 || version > 4) {
    reason = "an ID3v2." + std::to_string(version) + " tag cannot be rewritten";
    return false;
  }
  std::string tag(size_t(t.totalSize), '\0');
  if (s.ReadAt(0, tag.data(), tag.size()) != t.totalSize) {
    reason = "the tag cannot be read";
    return false;
  }
  std::string body = tag.substr(10, tag.size() - 10 - (version == 4 && t.footer ? 10 : 0));
  // Versions 2.2 and 2.3 unsynchronise the whole tag, 2.4 each frame.
  if (version < 4 && (flags & 0x80)) body = Resynchronise(body);
  if (version == 2 && (flags & 0x40)) {
    reason = "a compressed version 2.2 tag cannot be rewritten";
    return false;
  }
  if (version > 2 && (flags & 0x40)) {
    if (body.size() < 6) {
      reason = "the extended header is damaged";
      return false;
    }
    const uint64_t ext = version == 3 ? uint64_t(BigEndian32(body, 0)) + 4 : SyncSafe32(body, 0);
    if (ext < 6 || ext > body.size()) {
      reason = "the extended header is damaged";
      return false;
    }
    body.erase(0, size_t(ext));
  }
  return version == 2 ? FramesV22(body, t.frames, reason)
                      : FramesV23(body, version, version == 4 && (flags & 0x80), t.totalSize, t.frames,
                                  reason);
}

// Puts the object's fields into the decoded frames. A field whose value is
// what the reader gets from the file now keeps its frame byte for byte; a
// changed field replaces the frame its value came from (the last frame of
// that identifier, as the reader takes it) or, without one, is added.
class FrameEditor {
 public:
  explicit FrameEditor(std::vector<SaveFrame>& frames) : frames_(frames) {}

  // The frame the reader takes a slot from (the last of the identifier; one
  // without data reads as an empty text), or -1.
  int SlotFrame(const char* id) const {
    for (size_t i = frames_.size(); i-- > 0;)
      if (!frames_[i].dropped && frames_[i].id == id) return int(i);
    return -1;
  }
  bool Has(const char* id) const { return SlotFrame(id) >= 0; }
  // Replaces the slot frame (other frames of a text identifier, which may
  // occur once only, go; those of COMM and WXXX stay), or adds one.
  void Put(const char* id, ByteString data) {
    const int at = SlotFrame(id);
    const bool single = id[0] == 'T';
    for (size_t i = 0; i < frames_.size(); ++i)
      if (single && int(i) != at && frames_[i].id == id) frames_[i].dropped = true;
    if (at >= 0) {
      frames_[size_t(at)] = SaveFrame{id, 0, 0, {}, std::move(data), false};
    } else {
      added_.push_back(SaveFrame{id, 0, 0, {}, std::move(data), false});
    }
  }
  void Remove(const char* id) {
    for (SaveFrame& f : frames_)
      if (f.id == id) f.dropped = true;
  }
  // New frames first, in slot order, then the file's frames in file order.
  std::vector<SaveFrame> Result() {
    std::vector<SaveFrame> out = std::move(added_);
    for (SaveFrame& f : frames_)
      if (!f.dropped) out.push_back(std::move(f));
    return out;
  }

 private:
  std::vector<SaveFrame>& frames_;
  std::vector<SaveFrame> added_;
};

// The whole new tag (header, frames, padding to total bytes), or empty when
// a frame does not fit the layout.
ByteString BuildTag(const std::vector<SaveFrame>& frames, int64_t* builtSize) {
  ByteString tag = "ID3" + std::string("\x04\0\0", 3) + std::string(4, '\0');
  for (const SaveFrame& f : frames) {
    const int64_t size = int64_t(f.extra.size() + f.data.size());
    if (size > kMaxFrameSize) return {};
    tag += f.id + SyncSafe(size) + char(f.status) + char(f.format) + f.extra + f.data;
  }
  *builtSize = int64_t(tag.size());
  return tag;
}

bool HasID3v1(const SaveSession& s, int64_t after) {
  char mark[3];
  return s.Size() - kID3v1Size >= after && s.ReadAt(s.Size() - kID3v1Size, mark, 3) == 3 &&
         std::memcmp(mark, "TAG", 3) == 0;
}

}  // namespace

bool TID3v2::SaveToFile(const std::u16string& FileName) { return SaveToFile(FileName, {}); }

bool TID3v2::SaveToFile(const std::u16string& FileName, std::string_view id3v1Block) {
  try {
    if (!id3v1Block.empty() && id3v1Block.size() != size_t(kID3v1Size))
      return RefuseSave("an ID3v1 tag has 128 bytes");
    SaveSession s(FileName);
    if (!s) return false;

    const FileSource source(s.Source());
    FileTag file;
    std::string reason;
    if (!ReadFileTag(source, file, reason)) return s.Refuse(reason);
    // What the reader gets from the file now: fields equal to it are kept
    // as the file has them.
    ID3v2Record was;
    ParseID3v2(source, was);

    FrameEditor e(file.frames);
    // Unchanged: the value the reader gets now, or empty where the tag has
    // no such frame (no empty frame is added for it).
    auto unchanged = [&](bool has, auto& value, auto& old) {
      return value == old && (has || value.empty());
    };
    auto text = [&](const char* id, const std::u16string& value, const std::u16string& old) {
      if (!unchanged(e.Has(id), value, old)) e.Put(id, Utf16FrameData(value));
    };
    text("TIT2", F.Title, was.Title);
    text("TPE1", F.Artist, was.Artist);
    text("TALB", F.Album, was.Album);
    // The track: "7/12" stays while the number is 7.
    if (F.Track != 0 && !(e.Has("TRCK") && F.Track == was.Track))
      e.Put("TRCK", ByteString(1, '\0') + std::to_string(F.Track));
    // The year goes into TDRC, the frame of the 2.4 layout; TYER goes.
    if (!unchanged(e.Has("TYER") || e.Has("TDRC"), F.Year, was.Year)) {
      e.Remove("TYER");
      e.Put("TDRC", Utf16FrameData(F.Year));
    }
    text("TCON", F.Genre, was.Genre);
    // An empty comment is written as one blank, unless a comment frame the
    // reader does not take it from is there.
    if (!(e.Has("COMM") && F.Comment == was.Comment)) {
      if (F.Comment.empty()) F.Comment.assign(1, u' ');
      e.Put("COMM", CommentFrameData(F.Comment));
    }
    text("TCOM", F.Composer, was.Composer);
    const std::pair<const char*, std::pair<const AnsiString*, const AnsiString*>> ansi[] = {
        {"TENC", {&F.Encoder, &was.Encoder}},
        {"TCOP", {&F.Copyright, &was.Copyright}},
        {"TLAN", {&F.Language, &was.Language}}};
    for (const auto& [id, values] : ansi) {
      if (unchanged(e.Has(id), *values.first, *values.second)) continue;
      if (values.first->empty()) e.Remove(id);
      else e.Put(id, Utf16FrameData(AnsiToUtf16(*values.first)));
    }
    // Encoding 0, an empty description and its terminator, then the link.
    if (!F.Link.empty() && !(e.Has("WXXX") && F.Link == was.Link)) e.Put("WXXX", ByteString(2, '\0') + F.Link.bytes());

    int64_t built = 0;
    ByteString tag = BuildTag(e.Result(), &built);
    if (tag.empty()) return s.Refuse("a frame is too large for the version 2.4 layout");
    // In place when the new tag fits the old one's space (and no footer
    // would be left behind); otherwise rewritten with padding.
    const PaddingPlan plan =
        PlanPadding(built, file.exists && !file.footer ? file.totalSize : 0, kID3v2Padding);
    const bool inPlace = plan.inPlace;
    const int64_t total = built + plan.padding;
    if (total - 10 > 0x0FFFFFFF) return s.Refuse("the tag is larger than an ID3v2 tag can be");
    tag.resize(size_t(total), '\0');
    tag.replace(6, 4, SyncSafe(total - 10));

    const int64_t audio = file.exists ? file.totalSize : 0;
    const bool v1 = !id3v1Block.empty() && HasID3v1(s, audio);
    const int64_t audioEnd = v1 ? s.Size() - kID3v1Size : s.Size();
    if (inPlace && (v1 || id3v1Block.empty())) {
      std::vector<FilePatch> patches = {{0, std::move(tag)}};
      if (v1) patches.push_back({audioEnd, std::string(id3v1Block)});
      return s.Patch(patches);
    }
    return s.Rewrite([&](OutputFile& out) {
      return out.Write(tag) && out.CopyOriginal(audio, audioEnd - audio) &&
             (id3v1Block.empty() ? out.CopyOriginal(audioEnd) : out.Write(id3v1Block));
    });
  } catch (const std::exception&) {
    return RefuseSave("out of memory");
  }
}

bool TID3v2::RemoveFromFile(const std::u16string& FileName) const {
  try {
    SaveSession s(FileName);
    if (!s) return false;
    uint8_t h[10];
    const int32_t total = s.Size() >= 10 && s.ReadAt(0, h, 10) == 10 ? ID3v2TotalTagSize(h, s.Size()) : 0;
    if (total == 0) return s.Refuse("no ID3v2 tag");
    return s.Rewrite([&](OutputFile& out) { return out.CopyOriginal(total); });
  } catch (const std::exception&) {
    return RefuseSave("out of memory");
  }
}

}  // namespace ordana
