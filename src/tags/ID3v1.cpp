#include "tags/ID3v1.h"

#include "platform/FileIO.h"
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

}  // namespace ordana
