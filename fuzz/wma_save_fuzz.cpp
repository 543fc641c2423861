// Save-then-reread for TWMA: any file, read, texts chosen by the input, then
// SaveToFile (or RemoveTag). A failed save must leave the file as it was; a
// successful one must keep what follows the header, and, for a header whose
// objects walk cleanly, read back the texts written.
#include <string>

#include "FuzzInput.h"
#include "platform/Strings.h"
#include "tags/WMAfile.h"
#include "tags/WMAfileFormat.h"

namespace {

using ordana::fuzz::Check;
namespace wma = ordana::wma;

uint64_t LE(const std::string& b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + size_t(i)]);
  return v;
}

bool IsAsf(const std::string& b) { return b.size() >= 30 && wma::SameGuid(b.data(), wma::kHeaderObject); }

// The header's objects, counted as stored, fill it exactly, it holds at
// most one object of each description kind, and the Data Object follows it.
bool CleanHeader(const std::string& b) {
  if (!IsAsf(b)) return false;
  const uint64_t end = LE(b, 16, 8);
  if (end > b.size() || end < 30) return false;
  const uint64_t count = LE(b, 24, 4);
  uint64_t pos = 30;
  int descriptions = 0, extended = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (pos + 24 > end) return false;
    const uint64_t size = LE(b, size_t(pos) + 16, 8);
    if (size < 24 || size > end - pos) return false;
    descriptions += wma::SameGuid(b.data() + pos, wma::kContentDescriptionObject);
    extended += wma::SameGuid(b.data() + pos, wma::kExtendedContentDescriptionObject);
    pos += size;
  }
  return pos == end && descriptions <= 1 && extended <= 1 && end + 16 <= b.size() &&
         wma::SameGuid(b.data() + end, wma::kDataObject);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::fuzz::SaveCase file(data, size, "input.wma");
  ordana::TWMA w;
  w.LoadFromFile(file.path);
  // The texts the writer stores; the track and the genre number are stored
  // in forms of their own and are not compared.
  using Getter = const std::u16string& (ordana::TWMA::*)() const;
  using Setter = void (ordana::TWMA::*)(std::u16string);
  const struct { Getter get; Setter set; } fields[] = {
      {&ordana::TWMA::Title, &ordana::TWMA::SetTitle},         {&ordana::TWMA::Artist, &ordana::TWMA::SetArtist},
      {&ordana::TWMA::Album, &ordana::TWMA::SetAlbum},         {&ordana::TWMA::Year, &ordana::TWMA::SetYear},
      {&ordana::TWMA::Genre, &ordana::TWMA::SetGenre},         {&ordana::TWMA::Comment, &ordana::TWMA::SetComment},
      {&ordana::TWMA::Rating, &ordana::TWMA::SetRating},       {&ordana::TWMA::PromoURL, &ordana::TWMA::SetPromoURL},
      {&ordana::TWMA::Copyright, &ordana::TWMA::SetCopyright}, {&ordana::TWMA::Lyrics, &ordana::TWMA::SetLyrics}};
  constexpr int kFields = sizeof fields / sizeof fields[0];
  const uint16_t which = uint16_t(file.in.Byte() << 8 | file.in.Byte());
  bool clean[kFields] = {};
  for (int i = 0; i < kFields; ++i)
    if (which & (1 << i)) (w.*fields[i].set)(file.in.Text(clean[i]));
  bool clean2 = false;
  if (which & 0x400) w.SetTrack(file.in.Text(clean2));
  if (which & 0x800) w.SetGenreID(file.in.Text(clean2));

  const bool remove = (which & 0x1000) != 0;
  const bool saved = remove ? w.RemoveTag(file.path) : w.SaveToFile(file.path);
  // A file that is not ASF is left alone, whatever the save says.
  const std::string after = file.After(saved && IsAsf(file.before));
  if (!saved || !IsAsf(file.before)) return 0;
  Check(IsAsf(after), "the saved file has no header");
  const uint64_t header = LE(after, 16, 8);
  Check(header <= after.size(), "the new header is longer than the file");
  const size_t tail = after.size() - size_t(header);
  Check(tail <= file.before.size() && after.compare(size_t(header), tail, file.before, file.before.size() - tail) == 0,
        "what follows the header changed");
  if (!CleanHeader(file.before)) return 0;
  Check(CleanHeader(after), "a clean header was saved as one that does not walk");

  ordana::TWMA back;
  Check(back.LoadFromFile(file.path) && back.IsTAG(), "the saved descriptions are not found");
  for (int i = 0; i < kFields; ++i) {
    const std::u16string& set = (w.*fields[i].get)();
    // After a removal the texts kept only in managed descriptors (album,
    // year, genre, promotion link, lyrics) are gone; the others may still
    // come from descriptors the writer keeps (WM/Title and the like).
    const bool managedOnly = i == 2 || i == 3 || i == 4 || i == 7 || i == 9;
    if (remove) {
      if (managedOnly) Check((back.*fields[i].get)().empty(), "a removed text read back");
    } else if ((which & (1 << i)) && clean[i] && !ordana::Trim(set).empty()) {
      // Texts are stored as set and read trimmed.
      ordana::fuzz::CheckSame((back.*fields[i].get)(), ordana::Trim(set), "a text read back differs");
    }
  }
  return 0;
}
