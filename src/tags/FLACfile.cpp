#include "tags/FLACfile.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string_view>

#include "bytes/ByteWriter.h"
#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/FileSource.h"
#include "tags/ID3v2.h"
#include "tags/Padding.h"

namespace ordana {

namespace {

constexpr int64_t kFirstBlockHeader = 42;  // marker + STREAMINFO (4 + 4 + 34)
constexpr int kMaxBlockHeaders = 100;
constexpr int kPadding = 1;
constexpr int kVorbisComment = 4;
constexpr int kInvalidBlock = 127;  // what a frame sync looks like as a header
constexpr uint32_t kMaxBlockLength = bytes::ByteWriter::kMaxU24;

// The stream marker is recognised by the sum of its four bytes, as the
// playout program recognises it: "fLaC" passes, and so does any other four
// bytes of the same sum (files that the program plays must read here too).
bool IsFlacMarker(bytes::ByteReader b) {
  int sum = 0;
  for (int i = 0; i < 4; ++i) sum += b.U8();
  return b.Ok() && sum == 342;
}

// Where the stream marker stands: after an ID3v2 tag that some taggers put
// in front of a FLAC stream (sized by the rule every reader skips it by),
// else at the start.
int64_t StreamStart(bytes::SourceWindow& w) {
  uint8_t id3[10];
  w.CopyPadded(0, id3, sizeof id3);
  return ID3v2TotalTagSize(id3, w.Size());
}

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

bool TFLACfile::Valid() const {
  return F.Channels > 0 && F.SampleRate > 0 && F.BitsPerSample > 0 && F.Samples > 0;
}

double TFLACfile::Duration() const {
  return Valid() ? static_cast<double>(F.Samples) / F.SampleRate : 0.0;
}

double TFLACfile::Ratio() const {
  if (!Valid()) return 0.0;
  const double raw = static_cast<double>(F.Channels) * F.Samples * F.BitsPerSample / 8.0;
  return static_cast<double>(F.FileLength) / raw * 100.0;
}

namespace {

// The comments as whole texts, and split into lines.
void SetComments(FLACRecord& flac, std::vector<std::u16string> comments) {
  flac.Comments = std::move(comments);
  flac.CommentLines = SplitLines(flac.Comments);
}

// The six named fields, in the order a save merges them.
struct NamedField {
  std::string_view name;
  std::u16string FLACRecord::*field;
};
constexpr NamedField kNamedFields[] = {
    {"ARTIST", &FLACRecord::Artist}, {"TITLE", &FLACRecord::Title}, {"ALBUM", &FLACRecord::Album},
    {"GENRE", &FLACRecord::Genre},   {"DATE", &FLACRecord::Year},   {"COMMENT", &FLACRecord::Comment}};

// The named fields from the comments as stored, each from the first comment
// of its name; the others are passed over without being converted. The name
// is compared on the bytes: UTF-8 gives every ASCII byte its own character
// (a malformed sequence becomes U+FFFD, never an ASCII one), so the first
// "=" and an ASCII name are where the converted text has them.
void ParseNamedFields(bytes::ByteReader& body, uint32_t count, FLACRecord& flac) {
  bool found[std::size(kNamedFields)] = {};
  for (uint32_t i = 0; i < count; ++i) {
    if (!body.Has(4)) break;
    const uint32_t m = body.U32LE();
    if (!body.Has(m)) break;
    const std::string_view c = body.Chars(m);
    const size_t eq = c.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string name = UpperAscii(c.substr(0, eq));
    for (size_t k = 0; k < std::size(kNamedFields); ++k) {
      if (found[k] || name != kNamedFields[k].name) continue;
      found[k] = true;
      flac.*kNamedFields[k].field = Utf8ToUtf16(Utf8View(c.substr(eq + 1)));
    }
  }
}

// The body of a VORBIS_COMMENT block: vendor, count, comments, each text
// behind its 32-bit length. What does not fit the body ends it.
void ParseVorbisComment(bytes::ByteReader body, FLACRecord& flac, FLACComments keep) {
  if (!body.Has(4)) return;
  const uint32_t vendorLength = body.U32LE();
  const size_t n = std::min<size_t>(vendorLength, body.Remaining());
  flac.Vendor = Utf8ToUtf16(Utf8View(body.Chars(n)));
  if (!body.Has(4)) return;

  const uint32_t count = body.U32LE();
  if (keep == FLACComments::NamedFields) return ParseNamedFields(body, count, flac);
  std::vector<std::u16string> comments;
  for (uint32_t i = 0; i < count; ++i) {
    if (!body.Has(4)) break;
    const uint32_t m = body.U32LE();
    if (!body.Has(m)) break;
    comments.push_back(Utf8ToUtf16(Utf8View(body.Chars(m))));
  }

  // The first comment of a name wins (in Ogg files the last): each as the playout program reads it.
  auto find = [&](std::u16string_view name) -> std::u16string {
    for (const std::u16string& c : comments) {
      size_t eq = c.find(u'=');
      if (eq != std::u16string::npos && SameName(std::u16string_view(c).substr(0, eq), name))
        return c.substr(eq + 1);
    }
    return {};
  };
  flac.Artist = find(u"ARTIST");
  flac.Title = find(u"TITLE");
  flac.Album = find(u"ALBUM");
  flac.Genre = find(u"GENRE");
  flac.Year = find(u"DATE");
  flac.Comment = find(u"COMMENT");
  SetComments(flac, std::move(comments));
}

}  // namespace

bool ParseFLAC(const bytes::ByteSource& file, FLACRecord& flac, FLACComments keep) {
  flac = FLACRecord{};
  bytes::SourceWindow w(file);
  const int64_t size = w.Size();
  uint8_t head[26];
  if (size < 0 || !w.GetUpTo(0, sizeof head).Ok()) return false;
  const int64_t start = StreamStart(w);
  w.CopyPadded(start, head, sizeof head);  // a short file reads as zeros
  flac.FileLength = static_cast<int32_t>(std::min<int64_t>(size, std::numeric_limits<int32_t>::max()));
  const bytes::ByteReader b(head, sizeof head);
  if (!IsFlacMarker(b)) return true;

  // STREAMINFO: 20 bits of sample rate, 3 of channels less one, 5 of bits
  // per sample less one, then the 36-bit sample count (its low 32 bits kept).
  const uint32_t packed = b.At(18).U32BE();
  flac.SampleRate = static_cast<int32_t>(packed >> 12);
  flac.Channels = static_cast<uint8_t>(((packed >> 9) & 7) + 1);
  flac.BitsPerSample = static_cast<uint8_t>(((packed >> 4) & 31) + 1);
  // The count's top four bits are dropped, as the playout program does (no track is that long).
  flac.Samples = static_cast<int32_t>(b.At(22).U32BE());

  int64_t pos = start + kFirstBlockHeader;
  for (int n = 0; n < kMaxBlockHeaders; ++n) {
    bytes::ByteReader h = w.GetUpTo(pos, 4);
    if (!h.Ok()) return false;
    if (h.Size() < 4) break;  // the file ends among the block headers
    const uint8_t typeByte = h.U8();
    const bool last = (typeByte & 0x80) != 0;
    const int type = typeByte & 0x7F;
    const int64_t length = h.U24BE();
    pos += 4;
    // Only the first VORBIS_COMMENT block is read; a second one (never written by a
    // well-behaved tagger) is ignored, here and in the playout program.
    if (type == kVorbisComment) {
      // A body that claims more than the file holds is taken as far as it goes.
      const bytes::ByteReader body = w.GetUpTo(pos, static_cast<size_t>(length));
      if (!body.Ok()) return false;
      ParseVorbisComment(body, flac, keep);
      break;
    }
    pos += length;
    if (last) break;
  }
  return true;
}

bool TFLACfile::ReadFromFile(const std::u16string& FileName, FLACComments Keep) {
  ResetData();
  return ParseFile(FileName, [&](const bytes::ByteSource& s) { return ReadFromSource(s, Keep); });
}

bool TFLACfile::ReadFromSource(const bytes::ByteSource& Source, FLACComments Keep) {
  ResetData();
  const bool ok = ParseFLAC(Source, F, Keep);
  AllCommentsRead = ok && Keep == FLACComments::All;
  return ok;
}

// --- Saving ------------------------------------------------------------------

// Reads the marker and STREAMINFO (42 bytes at start, after any ID3v2 tag
// in front, into head) and every metadata
// block after it: PADDING and VORBIS_COMMENT blocks are dropped, the others
// kept with their headers. Refuses (false) whatever would make the audio's
// start uncertain: no marker, a first block that is not a 34-byte STREAMINFO,
// a block running past the end of the file, a frame sync met as a header, or
// no last-block flag within 100 headers.
bool TFLACfile::CollectBlocks(const InputFile& f, int64_t& start, std::string& head) {
  FlacBlocks.clear();
  TotalBlocksSize = 0;
  PaddingSize = 0;
  const int64_t size = f.Size();
  {
    const FileSource source(f);
    bytes::SourceWindow w(source, 0);
    start = StreamStart(w);
  }
  head.assign(static_cast<size_t>(kFirstBlockHeader), '\0');
  if (size - start < kFirstBlockHeader ||
      f.ReadAt(start, head.data(), head.size()) != kFirstBlockHeader)
    return false;
  const bytes::ByteReader b(head);
  const uint8_t first = b.At(4).U8();
  if (!IsFlacMarker(b) || (first & 0x7F) != 0 || b.At(5).U24BE() != 34) return false;

  bool last = (first & 0x80) != 0;  // STREAMINFO alone: no further blocks
  int64_t pos = start + kFirstBlockHeader;
  for (int n = 0; n < kMaxBlockHeaders && !last; ++n) {
    uint8_t raw[4];
    if (f.ReadAt(pos, raw, sizeof raw) != 4) return false;
    bytes::ByteReader h(raw, sizeof raw);
    const uint8_t typeByte = h.U8();
    last = (typeByte & 0x80) != 0;
    const int type = typeByte & 0x7F;
    const int64_t length = h.U24BE();
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
  std::vector<std::u16string> comments = F.Comments;
  const std::pair<const char16_t*, const std::u16string*> fields[] = {
      {u"ARTIST", &F.Artist}, {u"TITLE", &F.Title}, {u"ALBUM", &F.Album},
      {u"GENRE", &F.Genre},   {u"DATE", &F.Year},   {u"COMMENT", &F.Comment}};
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
  SetComments(F, std::move(comments));
}

bool TFLACfile::SaveToFile(const std::u16string& FileName) {
  if (!Valid()) return RefuseSave("no FLAC file was read");
  // Comments that were passed over would be lost.
  if (!AllCommentsRead) return RefuseSave("the comments were not read in full");
  SaveSession session(FileName);
  if (!session) return false;
  std::string head;
  int64_t start = 0;
  if (!CollectBlocks(session.Source(), start, head))
    return session.Refuse("the FLAC metadata blocks cannot be walked safely");
  MergeNamedFields();

  bytes::ByteWriter body;
  const Utf8String vendor = Utf16ToUtf8(F.Vendor);
  body.PutU32LE(vendor.size());
  body.PutBytes(vendor.bytes());
  body.PutU32LE(F.Comments.size());
  for (const std::u16string& c : F.Comments) {
    const Utf8String text = Utf16ToUtf8(c);
    body.PutU32LE(text.size());
    body.PutBytes(text.bytes());
  }
  if (body.Size() > kMaxBlockLength) return session.Refuse("the comments do not fit one FLAC block");
  // A block's header holds its length in 24 bits.
  auto block = [](int type, std::string_view data) {
    bytes::ByteWriter w;
    w.PutU8(static_cast<uint64_t>(type));
    w.PutU24BE(data.size());
    w.PutBytes(data);
    return w.Ok() ? w.Take() : std::string();
  };
  Blocks.clear();
  Blocks.push_back(block(kVorbisComment, body.Bytes()));
  if (!body.Ok() || Blocks[0].empty()) return session.Refuse("the comments do not fit one FLAC block");
  int64_t s = static_cast<int64_t>(Blocks[0].size());
  for (const ByteString& block : FlacBlocks) {
    Blocks.push_back(block);
    s += static_cast<int64_t>(block.size());
  }
  // The padding fills the old space exactly (a gap of 1 to 3 bytes cannot
  // hold a block header, so it counts as too little space); a gap larger
  // than one block's 24-bit length takes several padding blocks.
  const PaddingPlan plan = PlanPadding(s, TotalBlocksSize, kFLACPadding);
  const bool inPlace = plan.inPlace;
  const std::vector<int64_t> pieces = SplitPadding(plan.padding, kFLACPadding);
  if (plan.padding > 0 && pieces.empty()) return session.Refuse("the padding cannot fill the old space");
  for (const int64_t length : pieces) {
    Blocks.push_back(block(kPadding, std::string(static_cast<size_t>(length), '\0')));
    if (Blocks.back().empty()) return session.Refuse("a padding block does not fit its length field");
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
  if (inPlace) return session.Patch({{start + kFirstBlockHeader, std::move(all)}});

  head[4] = static_cast<char>(head[4] & 0x7F);  // STREAMINFO is no longer the last block
  const int64_t audio = start + kFirstBlockHeader + TotalBlocksSize;
  // An ID3v2 tag in front is kept as it stands.
  return session.Rewrite([&](OutputFile& out) {
    return (start == 0 || out.CopyOriginal(0, start)) && out.Write(head) && out.Write(all) &&
           out.CopyOriginal(audio);
  });
}

}  // namespace ordana
