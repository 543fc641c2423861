#include "tags/ID3v1.h"

#include <algorithm>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"

namespace ordana {

const std::array<std::string_view, kGenreCount> GenreNames = {
    // 0 to 79: the common list.
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop",
    "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock",
    "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack",
    "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance",
    "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise",
    "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic",
    "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk",
    "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock",
    // 80 to 147: the Winamp extensions.
    "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival",
    "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progessive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House",
    "Hardcore", "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat",
    "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Trash Metal", "Anime",
    "JPop", "Synthpop"};

void TID3v1::ResetData() {
  FExists = false;
  FVersionID = 1;
  FTitle.clear();
  FArtist.clear();
  FAlbum.clear();
  FYear.clear();
  FComment.clear();
  FTrack = 0;
  FGenreID = 255;
}

namespace {

// A fixed-width field without its trailing padding (zero bytes, blanks and
// control characters). Done on the bytes: for the code pages in use (single
// byte, or double byte with trail bytes above 0x3F) this equals trimming the
// decoded text, and no byte the code page cannot map is lost on the way.
AnsiString Field(const uint8_t* block, int offset, int width) {
  return TrimRightBytes(std::string_view(reinterpret_cast<const char*>(block) + offset,
                                         static_cast<size_t>(width)));
}

}  // namespace

bool TID3v1::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  InputFile f = InputFile::Open(FileName);
  if (!f) return false;
  const int64_t size = f.Size();
  if (size < kID3v1Size) return false;
  uint8_t b[kID3v1Size];
  if (f.ReadAt(size - kID3v1Size, b, sizeof b) != kID3v1Size) return false;
  f.Close();

  if (b[0] != 'T' || b[1] != 'A' || b[2] != 'G') return true;
  FExists = true;
  const bool v11 = (b[125] == 0 && b[126] != 0) || (b[125] == 0x20 && b[126] != 0x20);
  FVersionID = v11 ? 2 : 1;
  FTitle = Field(b, 3, 30);
  FArtist = Field(b, 33, 30);
  FAlbum = Field(b, 63, 30);
  FYear = Field(b, 93, 4);
  if (v11) {
    FComment = Field(b, 97, 28);
    FTrack = b[126];
  } else {
    FComment = Field(b, 97, 30);
  }
  FGenreID = b[127];
  return true;
}

AnsiString TID3v1::Genre() const {
  return FGenreID < kGenreCount ? AnsiString(GenreNames[FGenreID]) : AnsiString();
}

void TID3v1::SetTitle(const AnsiString& v) { FTitle = TrimRightBytes(v); }
void TID3v1::SetArtist(const AnsiString& v) { FArtist = TrimRightBytes(v); }
void TID3v1::SetAlbum(const AnsiString& v) { FAlbum = TrimRightBytes(v); }
void TID3v1::SetYear(const AnsiString& v) { FYear = TrimRightBytes(v); }
void TID3v1::SetComment(const AnsiString& v) { FComment = TrimRightBytes(v); }

std::string TID3v1::Block() const {
  std::string b(kID3v1Size, '\0');
  b.replace(0, 3, "TAG");
  auto put = [&](size_t offset, const AnsiString& v, size_t width) {
    b.replace(offset, std::min(width, v.size()), v.substr(0, width));
  };
  put(3, FTitle, 30);
  put(33, FArtist, 30);
  put(63, FAlbum, 30);
  put(93, FYear, 4);
  put(97, FComment, 30);
  if (FTrack != 0) {
    b[125] = 0;
    b[126] = static_cast<char>(FTrack);
  }
  b[127] = static_cast<char>(FGenreID);
  return b;
}

namespace {

// Whether the file ends with a tag; false (refused) when its last 128 bytes
// cannot be read.
bool InspectEnd(SaveSession& s, bool& hasTag) {
  uint8_t mark[3];
  if (s.Size() < kID3v1Size || s.ReadAt(s.Size() - kID3v1Size, mark, 3) != 3)
    return s.Refuse("the file is shorter than an ID3v1 tag");
  hasTag = mark[0] == 'T' && mark[1] == 'A' && mark[2] == 'G';
  return true;
}

}  // namespace

bool TID3v1::RemoveFromFile(const std::u16string& FileName) const {
  SaveSession s(FileName);
  bool hasTag = false;
  if (!s || !InspectEnd(s, hasTag)) return false;
  if (!hasTag) {
    ClearLastSaveStatus();
    return true;
  }
  const int64_t keep = s.Size() - kID3v1Size;
  return s.Rewrite([&](OutputFile& out) { return out.CopyOriginal(0, keep); });
}

bool TID3v1::SaveToFile(const std::u16string& FileName) const {
  const std::string block = Block();
  SaveSession s(FileName);
  bool hasTag = false;
  if (!s || !InspectEnd(s, hasTag)) return false;
  // The new block takes the old one's place byte for byte; without an old
  // block the file is rewritten with the block appended.
  if (hasTag) return s.Patch({{s.Size() - kID3v1Size, block}});
  return s.Rewrite([&](OutputFile& out) { return out.CopyOriginal(0) && out.Write(block); });
}

}  // namespace ordana
