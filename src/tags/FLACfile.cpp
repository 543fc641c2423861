#include "tags/FLACfile.h"

#include <algorithm>
#include <limits>

#include "platform/FileIO.h"
#include "platform/Strings.h"

namespace ordana {

namespace {

constexpr int64_t kFirstBlockHeader = 42;  // marker + STREAMINFO (4 + 4 + 34)
constexpr int kMaxBlockHeaders = 100;
constexpr int kVorbisComment = 4;

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

}  // namespace ordana
