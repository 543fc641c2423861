// Save-then-reread for TOggVorbis: any file, read, the seven values chosen
// by the input, then SaveTag (or ClearTag). A failed save must leave the file
// as it was; a successful one must keep every byte before the second page
// and after it, keep the vendor string, and read back the values written.
#include <algorithm>
#include <optional>
#include <string>

#include "FuzzInput.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "tags/ID3v2.h"
#include "tags/OggVorbis.h"

namespace {

using ordana::fuzz::Check;

size_t U8(const std::string& b, size_t i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0; }

// Where the second page starts: after a leading ID3v2 tag, the first page's
// header and its 30-byte identification header.
size_t SecondPage(const std::string& b) {
  size_t id3 = 0;
  if (b.size() >= 10)
    id3 = size_t(ordana::ID3v2TotalTagSize(reinterpret_cast<const uint8_t*>(b.data()), int64_t(b.size())));
  return id3 + 27 + U8(b, id3 + 26) + 30;
}

// Where the page starting at pos ends.
size_t PageEnd(const std::string& b, size_t pos) {
  const size_t segments = U8(b, pos + 26);
  size_t end = pos + 27 + segments;
  for (size_t i = 0; i < segments; ++i) end += U8(b, pos + 27 + i);
  return end;
}

// The vendor string of the comment header on the page starting at pos, when
// that page holds it whole.
std::optional<std::string> VendorBytes(const std::string& b, size_t pos) {
  const size_t body = pos + 27 + U8(b, pos + 26), end = std::min(PageEnd(b, pos), b.size());
  if (body + 11 > end) return std::nullopt;
  const size_t n = U8(b, body + 7) | U8(b, body + 8) << 8 | U8(b, body + 9) << 16 | U8(b, body + 10) << 24;
  if (n > end - body - 11) return std::nullopt;
  return b.substr(body + 11, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::fuzz::SaveCase file(data, size, "input.ogg");
  ordana::TOggVorbis ogg;
  ogg.ReadFromFile(file.path);
  const uint8_t which = file.in.Byte();
  bool clean = true;
  auto text = [&] {
    bool c = false;
    std::u16string t = file.in.Text(c);
    clean = clean && c;
    return t;
  };
  if (which & 1) ogg.SetTitle(text());
  if (which & 2) ogg.SetArtist(text());
  if (which & 4) ogg.SetAlbum(text());
  if (which & 8) ogg.SetDate(text());
  if (which & 16) ogg.SetGenre(text());
  if (which & 32) ogg.SetComment(text());
  if (which & 64) ogg.SetTrack(uint16_t(file.in.Byte() << 8 | file.in.Byte()));

  const bool saved = which & 0x80 ? ogg.ClearTag(file.path) : ogg.SaveTag(file.path);
  const std::string after = file.After(saved);
  if (!saved) return 0;
  const size_t second = SecondPage(file.before);
  Check(after.compare(0, second, file.before, 0, second) == 0, "the bytes before the second page changed");
  const size_t oldEnd = PageEnd(file.before, second), newEnd = PageEnd(after, second);
  Check(oldEnd <= file.before.size() && newEnd <= after.size(), "a second page past the end of the file");
  Check(after.compare(newEnd, std::string::npos, file.before, oldEnd) == 0,
        "the bytes after the second page changed");

  ordana::TOggVorbis back;
  Check(back.ReadFromFile(file.path), "the saved file does not read");
  Check(back.SampleRate() == ogg.SampleRate() && back.ChannelModeID() == ogg.ChannelModeID(),
        "the stream parameters changed");
  // The save keeps the vendor string. The reader takes one holding "=" as
  // a comment, and its vendor from the first string without "=", which may
  // be a comment the save changed.
  const auto vendorBefore = VendorBytes(file.before, second), vendorAfter = VendorBytes(after, second);
  if (vendorBefore && vendorAfter) {
    ordana::fuzz::CheckSame(*vendorAfter, *vendorBefore, "the vendor string changed");
    if (vendorBefore->find('=') == std::string::npos &&
        ogg.Vendor() == ordana::Trim(ordana::Utf8ToUtf16(ordana::Utf8View(*vendorBefore))))
      ordana::fuzz::CheckSame(back.Vendor(), ogg.Vendor(), "the vendor read back changed");
  }
  // The number is written whole; reading keeps eight bits of it.
  Check(back.Track() == uint8_t(ogg.Track()), "track read back");
  if (clean) {
    Check(back.Title() == ordana::Trim(ogg.Title()), "title read back");
    Check(back.Artist() == ordana::Trim(ogg.Artist()), "artist read back");
    Check(back.Album() == ordana::Trim(ogg.Album()), "album read back");
    Check(back.Date() == ordana::Trim(ogg.Date()), "date read back");
    Check(back.Genre() == ordana::Trim(ogg.Genre()), "genre read back");
    Check(back.Comment() == ordana::Trim(ogg.Comment()), "comment read back");
  }
  return 0;
}
