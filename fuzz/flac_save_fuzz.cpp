// Save-then-reread for TFLACfile: any file, read, fields and vendor chosen by
// the input, then SaveToFile. A failed save must leave the file as it was; a
// successful one must keep STREAMINFO, every block other than padding and
// comments (in order) and the audio after the metadata, and read back the
// fields written.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "tags/FLACfile.h"
#include "tags/ID3v2.h"

namespace {

using ordana::fuzz::Check;

struct Layout {
  bool ok = false;
  size_t start = 0;                 // where the marker stands (after an ID3v2 tag)
  size_t audio = 0;                 // where the metadata ends
  std::vector<std::string> kept;    // blocks other than padding and comments
};

// The metadata blocks after the marker and STREAMINFO (both after an ID3v2
// tag in front, when there is one), walked to the block flagged last (at
// most 100 headers, each inside the file).
Layout Walk(const std::string& b) {
  Layout l;
  if (b.size() >= 10)
    l.start = size_t(ordana::ID3v2TotalTagSize(reinterpret_cast<const uint8_t*>(b.data()), int64_t(b.size())));
  const size_t s = l.start;
  auto u = [&](size_t i) { return static_cast<unsigned char>(b[i]); };
  // The marker is recognised by its byte sum, as the reader does.
  if (b.size() < s + 42 || u(s) + u(s + 1) + u(s + 2) + u(s + 3) != 342) return l;
  bool last = (u(s + 4) & 0x80) != 0;
  size_t pos = s + 42;
  for (int n = 0; n < 100 && !last; ++n) {
    if (pos + 4 > b.size()) return l;
    last = (u(pos) & 0x80) != 0;
    const int type = u(pos) & 0x7F;
    const size_t length = size_t(u(pos + 1)) << 16 | size_t(u(pos + 2)) << 8 | u(pos + 3);
    if (pos + 4 + length > b.size()) return l;
    if (type != 1 && type != 4) l.kept.push_back(b.substr(pos + 1, 3 + length) + char(type));
    pos += 4 + length;
  }
  l.ok = last;
  l.audio = pos;
  return l;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::fuzz::SaveCase file(data, size, "input.flac");
  ordana::TFLACfile flac;
  flac.ReadFromFile(file.path);
  const uint8_t which = file.in.Byte();
  bool clean[7] = {};
  std::u16string value[7];
  for (int i = 0; i < 7; ++i)
    if (which & (1 << i)) value[i] = file.in.Text(clean[i]);
  void (ordana::TFLACfile::*setters[7])(std::u16string) = {
      &ordana::TFLACfile::SetTitle, &ordana::TFLACfile::SetArtist, &ordana::TFLACfile::SetAlbum,
      &ordana::TFLACfile::SetYear,  &ordana::TFLACfile::SetGenre,  &ordana::TFLACfile::SetComment,
      &ordana::TFLACfile::SetVendor};
  for (int i = 0; i < 7; ++i)
    if (which & (1 << i)) (flac.*setters[i])(value[i]);

  const bool valid = flac.Valid();
  const bool saved = flac.SaveToFile(file.path);
  const std::string after = file.After(saved);
  if (!saved) return 0;
  Check(valid, "a file that is not valid was saved");
  const Layout was = Walk(file.before), now = Walk(after);
  Check(was.ok && now.ok, "saved over metadata that cannot be walked, or wrote such metadata");
  // An ID3v2 tag in front stays as it was.
  Check(now.start == was.start && after.compare(0, was.start + 4, file.before, 0, was.start + 4) == 0,
        "the ID3v2 tag in front or the marker changed");
  // Only the last-block flag of STREAMINFO's header may change.
  Check(after.compare(was.start + 5, 37, file.before, was.start + 5, 37) == 0, "STREAMINFO changed");
  Check(now.kept == was.kept, "a block other than padding or comments changed");
  Check(after.compare(now.audio, std::string::npos, file.before, was.audio) == 0, "the audio changed");

  ordana::TFLACfile back;
  Check(back.ReadFromFile(file.path) && back.Valid(), "the saved file is not valid");
  const std::u16string* got[7] = {&back.Title(), &back.Artist(), &back.Album(), &back.Year(),
                                  &back.Genre(), &back.Comment(), &back.Vendor()};
  for (int i = 0; i < 7; ++i) {
    // A value set here reads back as set when it is clean; an empty one
    // removes a comment, after which another of that name may show.
    if (!(which & (1 << i)) || !clean[i] || (i < 6 && value[i].empty())) continue;
    ordana::fuzz::CheckSame(*got[i], value[i], "a field read back differs");
  }
  bool allClean = true;
  for (int i = 0; i < 7; ++i) allClean = allClean && (clean[i] || !(which & (1 << i)));
  if (allClean) Check(back.CommentValues() == flac.CommentValues(), "the comments read back differ");
  return 0;
}
