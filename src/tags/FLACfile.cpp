#include "tags/FLACfile.h"

#include <algorithm>
#include <limits>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"

namespace ordana {

namespace {

constexpr int64_t kFirstBlockHeader = 42;  // marker + STREAMINFO (4 + 4 + 34)
constexpr int kMaxBlockHeaders = 100;
constexpr int kPadding = 1;
constexpr int kVorbisComment = 4;
constexpr int kInvalidBlock = 127;  // what a frame sync looks like as a header
constexpr int64_t kRewritePadding = 2048;
constexpr uint32_t kMaxBlockLength = 0xFFFFFF;

void PutLE32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

std::string BlockHeader(int type, uint32_t length) {
  return {static_cast<char>(type), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
          static_cast<char>(length)};
}

uint32_t GetLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool IsFlacMarker(const unsigned char* b) { return b[0] + b[1] + b[2] + b[3] == 342; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  return UpperAscii(a) == UpperAscii(b);
}

// The comments as one text with a line break after each, split into lines
// again: a line ends at CR, LF or CR LF; no empty line follows the last break.
std::vector<std::u16string> SplitLines(const std::vector<std::u16string>& comments) {
  std::u16string text;
  for (const std::u16string& c : comments) text += c + u"\r\n";
  std::vector<std::u16string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t from = i;
    while (i < text.size() && text[i] != u'\r' && text[i] != u'\n') ++i;
    lines.emplace_back(text, from, i - from);
    if (i < text.size() && text[i] == u'\r') ++i;
    if (i < text.size() && text[i] == u'\n') ++i;
  }
  return lines;
}

}  // namespace

void TFLACfile::ResetData() {
  FChannels = 0;
  FSampleRate = 0;
  FBitsPerSample = 0;
  FFileLength = 0;
  FSamples = 0;
  FComments.clear();
  FCommentLines.clear();
  FlacBlocks.clear();
  TotalBlocksSize = 0;
  FVendor.clear(), FTitle.clear(), FArtist.clear(), FAlbum.clear();
  FYear.clear(), FGenre.clear(), FComment.clear();
}

bool TFLACfile::Valid() const {
  return FChannels > 0 && FSampleRate > 0 && FBitsPerSample > 0 && FSamples > 0;
}

double TFLACfile::Duration() const {
  return Valid() ? static_cast<double>(FSamples) / FSampleRate : 0.0;
}

double TFLACfile::Ratio() const {
  if (!Valid()) return 0.0;
  const double raw = static_cast<double>(FChannels) * FSamples * FBitsPerSample / 8.0;
  return static_cast<double>(FFileLength) / raw * 100.0;
}

bool TFLACfile::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  InputFile f = InputFile::Open(FileName);
  if (!f) return false;
  unsigned char b[26] = {};
  const int64_t size = f.Size();
  if (size < 0 || f.ReadAt(0, b, sizeof b) < 0) return false;
  FFileLength = static_cast<int32_t>(std::min<int64_t>(size, std::numeric_limits<int32_t>::max()));
  if (!IsFlacMarker(b)) return true;

  FChannels = static_cast<uint8_t>(((b[20] >> 1) & 7) + 1);
  FSampleRate = b[18] * 4096 + b[19] * 16 + (b[20] >> 4);
  FBitsPerSample = static_cast<uint8_t>(((b[20] & 1) * 16 + (b[21] >> 4)) + 1);
  FSamples = static_cast<int32_t>(static_cast<uint32_t>(b[22]) << 24 |
                                  static_cast<uint32_t>(b[23]) << 16 |
                                  static_cast<uint32_t>(b[24]) << 8 | b[25]);

  int64_t pos = kFirstBlockHeader;
  for (int n = 0; n < kMaxBlockHeaders; ++n) {
    unsigned char h[4];
    const int64_t got = f.ReadAt(pos, h, sizeof h);
    if (got < 0) return false;
    if (got < 4) break;  // the file ends among the block headers
    const bool last = (h[0] & 0x80) != 0;
    const int type = h[0] & 0x7F;
    const int64_t length = static_cast<int64_t>(h[1]) << 16 | h[2] << 8 | h[3];
    pos += 4;
    if (type == kVorbisComment) {
      // A body that claims more than the file holds is taken as far as it goes.
      const int64_t avail = std::clamp<int64_t>(size - pos, 0, length);
      std::string body(static_cast<size_t>(avail), '\0');
      const int64_t read = f.ReadAt(pos, body.data(), body.size());
      if (read < 0) return false;
      body.resize(static_cast<size_t>(read));
      ParseVorbisComment(body);
      break;
    }
    pos += length;
    if (last) break;
  }
  return true;
}

void TFLACfile::ParseVorbisComment(std::string_view body) {
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  size_t left = body.size();
  if (left < 4) return;
  const size_t n = std::min<size_t>(GetLE32(p), left - 4);
  FVendor = Utf8ToUtf16(body.substr(4, n));
  p += 4 + n, left -= 4 + n;
  if (left < 4) return;

  const uint32_t count = GetLE32(p);
  p += 4, left -= 4;
  std::vector<std::u16string> comments;
  for (uint32_t i = 0; i < count; ++i) {
    if (left < 4) break;
    const uint32_t m = GetLE32(p);
    p += 4, left -= 4;
    if (left < m) break;
    comments.push_back(Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(p), m)));
    p += m, left -= m;
  }

  auto find = [&](std::u16string_view name) -> std::u16string {
    for (const std::u16string& c : comments) {
      size_t eq = c.find(u'=');
      if (eq != std::u16string::npos && SameName(std::u16string_view(c).substr(0, eq), name))
        return c.substr(eq + 1);
    }
    return {};
  };
  FArtist = find(u"ARTIST");
  FTitle = find(u"TITLE");
  FAlbum = find(u"ALBUM");
  FGenre = find(u"GENRE");
  FYear = find(u"DATE");
  FComment = find(u"COMMENT");
  SetComments(std::move(comments));
}

void TFLACfile::SetComments(std::vector<std::u16string> comments) {
  FComments = std::move(comments);
  FCommentLines = SplitLines(FComments);
}

// --- Saving ------------------------------------------------------------------

// Reads the marker and STREAMINFO (42 bytes, into head) and every metadata
// block after it: PADDING and VORBIS_COMMENT blocks are dropped, the others
// kept with their headers. Refuses (false) whatever would make the audio's
// start uncertain: no marker, a first block that is not a 34-byte STREAMINFO,
// a block running past the end of the file, a frame sync met as a header, or
// no last-block flag within 100 headers.
bool TFLACfile::CollectBlocks(const InputFile& f, std::string& head) {
  FlacBlocks.clear();
  TotalBlocksSize = 0;
  PaddingSize = 0;
  const int64_t size = f.Size();
  head.assign(static_cast<size_t>(kFirstBlockHeader), '\0');
  if (size < kFirstBlockHeader || f.ReadAt(0, head.data(), head.size()) != kFirstBlockHeader)
    return false;
  const auto* b = reinterpret_cast<const unsigned char*>(head.data());
  if (!IsFlacMarker(b) || (b[4] & 0x7F) != 0 || (b[5] << 16 | b[6] << 8 | b[7]) != 34) return false;

  bool last = (b[4] & 0x80) != 0;  // STREAMINFO alone: no further blocks
  int64_t pos = kFirstBlockHeader;
  for (int n = 0; n < kMaxBlockHeaders && !last; ++n) {
    unsigned char h[4];
    if (f.ReadAt(pos, h, sizeof h) != 4) return false;
    last = (h[0] & 0x80) != 0;
    const int type = h[0] & 0x7F;
    const int64_t length = static_cast<int64_t>(h[1]) << 16 | h[2] << 8 | h[3];
    if (type == kInvalidBlock || pos + 4 + length > size) return false;
    if (type == kPadding) {
      PaddingSize = static_cast<int32_t>(length);
    } else if (type != kVorbisComment) {
      std::string block(static_cast<size_t>(4 + length), '\0');
      if (f.ReadAt(pos, block.data(), block.size()) != 4 + length) return false;
      FlacBlocks.push_back(std::move(block));
    }
    TotalBlocksSize += static_cast<int32_t>(length + 4);
    pos += 4 + length;
  }
  return last;
}

// The six named fields replace (or join, or leave) the comments: the first
// comment of each name, compared without regard to case.
void TFLACfile::MergeNamedFields() {
  std::vector<std::u16string> comments = FComments;
  const std::pair<const char16_t*, const std::u16string*> fields[] = {
      {u"ARTIST", &FArtist}, {u"TITLE", &FTitle}, {u"ALBUM", &FAlbum},
      {u"GENRE", &FGenre},   {u"DATE", &FYear},   {u"COMMENT", &FComment}};
  for (const auto& field : fields) {
    const char16_t* name = field.first;
    const std::u16string* value = field.second;
    auto it = std::find_if(comments.begin(), comments.end(), [&](const std::u16string& c) {
      size_t eq = c.find(u'=');
      return eq != std::u16string::npos && SameName(std::u16string_view(c).substr(0, eq), name);
    });
    if (value->empty()) {
      if (it != comments.end()) comments.erase(it);
    } else if (it != comments.end()) {
      *it = std::u16string(name) + u"=" + *value;
    } else {
      comments.push_back(std::u16string(name) + u"=" + *value);
    }
  }
  SetComments(std::move(comments));
}

bool TFLACfile::SaveToFile(const std::u16string& FileName) {
  if (!Valid()) return RefuseSave("no FLAC file was read");
  SaveSession session(FileName);
  if (!session) return false;
  std::string head;
  if (!CollectBlocks(session.Source(), head))
    return session.Refuse("the FLAC metadata blocks cannot be walked safely");
  MergeNamedFields();

  std::string body;
  const Utf8String vendor = Utf16ToUtf8(FVendor);
  PutLE32(body, static_cast<uint32_t>(vendor.size()));
  body += vendor;
  PutLE32(body, static_cast<uint32_t>(FComments.size()));
  for (const std::u16string& c : FComments) {
    const Utf8String text = Utf16ToUtf8(c);
    PutLE32(body, static_cast<uint32_t>(text.size()));
    body += text;
  }
  if (body.size() > kMaxBlockLength) return session.Refuse("the comments do not fit one FLAC block");

  Blocks.clear();
  Blocks.push_back(BlockHeader(kVorbisComment, static_cast<uint32_t>(body.size())) + body);
  int64_t s = static_cast<int64_t>(Blocks[0].size());
  for (const ByteString& block : FlacBlocks) {
    Blocks.push_back(block);
    s += static_cast<int64_t>(block.size());
  }
  // The padding fills the old space exactly; a gap of 1 to 3 bytes cannot
  // hold a block header, so it is treated like too little space. A gap
  // larger than one block's 24-bit length takes several padding blocks.
  int64_t room = TotalBlocksSize - s;
  const bool inPlace = room == 0 || room >= 4;
  if (!inPlace) room = 4 + kRewritePadding;
  while (room > 0) {
    int64_t length = std::min<int64_t>(room - 4, kMaxBlockLength);
    const int64_t rest = room - 4 - length;
    if (rest > 0 && rest < 4) length -= 4 - rest;  // leave room for one more header
    Blocks.push_back(BlockHeader(kPadding, static_cast<uint32_t>(length)) +
                     std::string(static_cast<size_t>(length), '\0'));
    room -= 4 + length;
  }
  // Readers walk at most kMaxBlockHeaders headers after STREAMINFO: a
  // layout with more would hide its last block (and refuse later saves).
  if (Blocks.size() > static_cast<size_t>(kMaxBlockHeaders))
    return session.Refuse("the new layout has more metadata blocks than a reader walks");
  // Exactly the final block carries the last-block flag.
  for (ByteString& block : Blocks) block[0] = static_cast<char>(block[0] & 0x7F);
  Blocks.back()[0] = static_cast<char>(Blocks.back()[0] | 0x80);

  std::string all;
  for (const ByteString& block : Blocks) all += block;
  if (inPlace) return session.Patch({{kFirstBlockHeader, std::move(all)}});

  head[4] = static_cast<char>(head[4] & 0x7F);  // STREAMINFO is no longer the last block
  const int64_t audio = kFirstBlockHeader + TotalBlocksSize;
  return session.Rewrite([&](OutputFile& out) {
    return out.Write(head) && out.Write(all) && out.CopyOriginal(audio);
  });
}

}  // namespace ordana
