// Save-then-reread for TID3v2: any file, read, fields chosen by the input,
// then SaveToFile (and now and then RemoveFromFile). A failed save must
// leave the file as it was; a successful one must keep every byte after the
// old tag and read back the texts changed. (A text set to what the read
// gave keeps the file's frame, which the reader may see only after the save,
// for example behind an extended header.)
#include <string>

#include "FuzzInput.h"
#include "platform/TextCodec.h"
#include "tags/ID3v2.h"

namespace {

using ordana::fuzz::Check;

// Size of the leading tag as readers skip it (0 without one).
int64_t LeadingTag(const std::string& bytes) {
  if (bytes.size() < 10) return 0;
  return ordana::ID3v2TotalTagSize(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   int64_t(bytes.size()));
}

struct Written {
  std::u16string value;
  bool clean = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::fuzz::SaveCase file(data, size, "input.mp3");
  ordana::TID3v2 tag;
  tag.ReadFromFile(file.path);
  // Which of the texts to set: title, artist, album, year, genre, comment,
  // composer; then the 8-bit ones: encoder, copyright, language, link.
  const uint8_t which = file.in.Byte(), which8 = file.in.Byte();
  const std::u16string read[7] = {tag.Title(), tag.Artist(), tag.Album(), tag.Year(),
                                  tag.Genre(), tag.Comment(), tag.Composer()};
  const ordana::AnsiString read8[4] = {tag.Encoder(), tag.Copyright(), tag.Language(), tag.Link()};
  const uint16_t readTrack = tag.Track();
  Written w[7];
  for (int i = 0; i < 7; ++i)
    if (which & (1 << i)) w[i].value = file.in.Text(w[i].clean);
  void (ordana::TID3v2::*setters[7])(const std::u16string&) = {
      &ordana::TID3v2::SetTitle, &ordana::TID3v2::SetArtist,   &ordana::TID3v2::SetAlbum,
      &ordana::TID3v2::SetYear,  &ordana::TID3v2::SetGenre,    &ordana::TID3v2::SetComment,
      &ordana::TID3v2::SetComposer};
  for (int i = 0; i < 7; ++i)
    if (which & (1 << i)) (tag.*setters[i])(w[i].value);
  bool clean8 = true;
  void (ordana::TID3v2::*setters8[4])(const std::u16string&) = {
      &ordana::TID3v2::SetEncoder, &ordana::TID3v2::SetCopyright, &ordana::TID3v2::SetLanguage,
      &ordana::TID3v2::SetLink};
  for (int i = 0; i < 4; ++i) {
    if (!(which8 & (1 << i))) continue;
    bool clean = false;
    (tag.*setters8[i])(file.in.Text(clean));
    clean8 = clean8 && clean;
  }
  if (which & 0x80) tag.SetTrack(uint16_t(file.in.Byte() << 8 | file.in.Byte()));

  // The values as set (a save writes an empty comment as one blank).
  const std::u16string set[7] = {tag.Title(), tag.Artist(), tag.Album(), tag.Year(),
                                 tag.Genre(), tag.Comment(), tag.Composer()};
  const bool saved = tag.SaveToFile(file.path);
  const std::string after = file.After(saved);
  if (!saved) return 0;
  const int64_t oldTag = LeadingTag(file.before), newTag = LeadingTag(after);
  Check(newTag > 0, "the saved file has no tag");
  Check(after.compare(size_t(newTag), std::string::npos, file.before, size_t(oldTag)) == 0,
        "the bytes after the tag changed");

  ordana::TID3v2 back;
  Check(back.ReadFromFile(file.path) && back.Exists() && back.VersionID() == 4, "the saved tag is not found");
  const std::u16string* got[7] = {&back.Title(), &back.Artist(), &back.Album(), &back.Year(),
                                  &back.Genre(), &back.Comment(), &back.Composer()};
  for (int i = 0; i < 7; ++i) {
    // Texts set here and clean read back as set; a genre holding ")" loses
    // its "(nn)" reference part, an empty title, artist, album or year may
    // be filled from another frame of the tag.
    if (!(which & (1 << i)) || !w[i].clean || set[i].empty() || set[i] == read[i]) continue;
    if (i == 4 && set[i].find(u')') != std::u16string::npos) continue;
    const char* what[7] = {"title read back",   "artist read back", "album read back",
                           "year read back",    "genre read back",  "comment read back",
                           "composer read back"};
    ordana::fuzz::CheckSame(*got[i], set[i], what[i]);
  }
  if (clean8) {
    const ordana::AnsiString set8[4] = {tag.Encoder(), tag.Copyright(), tag.Language(), tag.Link()};
    const ordana::AnsiString got8[4] = {back.Encoder(), back.Copyright(), back.Language(), back.Link()};
    const char* what8[4] = {"encoder read back", "copyright read back", "language read back",
                            "link read back"};
    for (int i = 0; i < 4; ++i)
      if ((which8 & (1 << i)) && set8[i] != read8[i] && !(i == 3 && set8[i].empty()))
        ordana::fuzz::CheckSame(got8[i].bytes(), set8[i].bytes(), what8[i]);
  }
  if (tag.Track() != 0 && tag.Track() != readTrack) Check(back.Track() == tag.Track(), "track read back");

  if (file.in.Flag()) {
    Check(back.RemoveFromFile(file.path), "removing a tag that is there failed");
    Check(ordana::fuzz::ReadInputFile(file.path) == after.substr(size_t(newTag)),
          "removing the tag did not leave the bytes after it");
  }
  return 0;
}
