// Save-then-reread for TID3v1: any file, fields chosen by the input, then
// SaveToFile (and now and then RemoveFromFile). A failed save must leave the
// file as it was; a successful one must leave the bytes before the tag
// alone and read back as written.
#include <string>

#include "FuzzInput.h"
#include "platform/Strings.h"
#include "tags/ID3v1.h"

namespace {

using ordana::fuzz::Check;

bool EndsWithTag(const std::string& bytes) {
  return bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0;
}

// A field as it reads back from a block: its first width bytes, trimmed.
ordana::AnsiString AsRead(const ordana::AnsiString& text, size_t width) {
  return ordana::AnsiString(ordana::TrimRightBytes(text.view().substr(0, width)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::fuzz::SaveCase file(data, size, "input.mp3");
  ordana::TID3v1 tag;
  tag.ReadFromFile(file.path);
  const uint8_t which = file.in.Byte();
  if (which & 1) tag.SetTitle(ordana::AnsiString(file.in.Bytes()));
  if (which & 2) tag.SetArtist(ordana::AnsiString(file.in.Bytes()));
  if (which & 4) tag.SetAlbum(ordana::AnsiString(file.in.Bytes()));
  if (which & 8) tag.SetYear(ordana::AnsiString(file.in.Bytes()));
  if (which & 16) tag.SetComment(ordana::AnsiString(file.in.Bytes()));
  if (which & 32) tag.SetTrack(file.in.Byte());
  if (which & 64) tag.SetGenreID(file.in.Byte());

  const bool saved = tag.SaveToFile(file.path);
  const std::string after = file.After(saved);
  if (!saved) {
    Check(file.before.size() < 128, "a save of a file of 128 bytes or more failed");
    return 0;
  }
  const std::string audio = file.before.substr(0, file.before.size() - (EndsWithTag(file.before) ? 128 : 0));
  Check(after == audio + tag.Block(), "the save did not write the audio followed by the block");

  ordana::TID3v1 back;
  Check(back.ReadFromFile(file.path) && back.Exists(), "the saved tag is not found");
  Check(back.Title() == AsRead(tag.Title(), 30), "title read back");
  Check(back.Artist() == AsRead(tag.Artist(), 30), "artist read back");
  Check(back.Album() == AsRead(tag.Album(), 30), "album read back");
  Check(back.Year() == AsRead(tag.Year(), 4), "year read back");
  Check(back.GenreID() == tag.GenreID(), "genre read back");
  if (tag.Track() != 0) {
    Check(back.VersionID() == 2 && back.Track() == tag.Track(), "track read back");
    Check(back.Comment() == AsRead(tag.Comment(), 28), "comment read back beside a track");
  } else if (back.VersionID() == 1) {
    // Without a track a comment whose last two bytes look like one reads as
    // version 1.1; otherwise the whole comment comes back.
    Check(back.Comment() == AsRead(tag.Comment(), 30), "comment read back");
  }

  if (file.in.Flag()) {
    Check(back.RemoveFromFile(file.path), "removing a tag that is there failed");
    Check(ordana::fuzz::ReadInputFile(file.path) == audio, "removing the tag did not leave the audio");
  }
  return 0;
}
