#include "tags/ID3v1.h"

#include "bytes/ByteWriter.h"
#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "tags/FileSource.h"

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

namespace {

// A fixed-width field without its trailing padding (zero bytes, blanks and
// control characters). Done on the bytes: for the code pages in use (single
// byte, or double byte with trail bytes above 0x3F) this equals trimming the
// decoded text, and no byte the code page cannot map is lost on the way.
AnsiString Field(bytes::ByteReader& block, size_t width) {
  return AnsiString(TrimRightBytes(block.Chars(width)));
}

}  // namespace

ID3v1Record ParseID3v1(bytes::Span block) {
  ID3v1Record tag;
  bytes::ByteReader r(block);
  if (r.Size() != kID3v1Size || !r.Match("TAG")) return tag;
  tag.Exists = true;
  const uint8_t b125 = r.At(125).U8(), b126 = r.At(126).U8();
  // Version 1.1 keeps the track in byte 126 behind a zero byte 125. Some
  // taggers pad with blanks instead of zeros, so a blank 125 before a
  // non-blank 126 counts as version 1.1 too.
  const bool v11 = (b125 == 0 && b126 != 0) || (b125 == 0x20 && b126 != 0x20);
  tag.VersionID = v11 ? 2 : 1;
  tag.Title = Field(r, 30);
  tag.Artist = Field(r, 30);
  tag.Album = Field(r, 30);
  tag.Year = Field(r, 4);
  tag.Comment = Field(r, v11 ? 28 : 30);
  if (v11) tag.Track = b126;
  tag.GenreID = r.At(127).U8();
  return tag;
}

bool ParseID3v1(const bytes::ByteSource& file, ID3v1Record& tag) {
  tag = ID3v1Record{};
  const int64_t size = file.Size();
  if (size < kID3v1Size) return false;
  uint8_t b[kID3v1Size];
  if (file.ReadAt(size - kID3v1Size, b, sizeof b) != kID3v1Size) return false;
  tag = ParseID3v1(b);
  return true;
}

bool TID3v1::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  return ParseFile(FileName, [&](const bytes::ByteSource& s) { return ReadFromSource(s); });
}

AnsiString TID3v1::Genre() const {
  return F.GenreID < kGenreCount ? AnsiString(GenreNames[F.GenreID]) : AnsiString();
}

void TID3v1::SetTitle(const AnsiString& v) { F.Title = AnsiString(TrimRightBytes(v.view())); }
void TID3v1::SetArtist(const AnsiString& v) { F.Artist = AnsiString(TrimRightBytes(v.view())); }
void TID3v1::SetAlbum(const AnsiString& v) { F.Album = AnsiString(TrimRightBytes(v.view())); }
void TID3v1::SetYear(const AnsiString& v) { F.Year = AnsiString(TrimRightBytes(v.view())); }
void TID3v1::SetComment(const AnsiString& v) { F.Comment = AnsiString(TrimRightBytes(v.view())); }

std::string RenderID3v1(const ID3v1Record& tag) {
  bytes::ByteWriter w(std::string("TAG"));
  auto put = [&](const AnsiString& v, size_t width) {
    const std::string_view t = v.view().substr(0, width);
    w.PutBytes(t);
    w.PutZeros(width - t.size());
  };
  put(tag.Title, 30);
  put(tag.Artist, 30);
  put(tag.Album, 30);
  put(tag.Year, 4);
  put(tag.Comment, 30);
  // A track turns the block into version 1.1: the comment's last two bytes
  // become the zero marker and the track.
  if (tag.Track != 0) {
    w.PatchU8(125, 0);
    w.PatchU8(126, tag.Track);
  }
  w.PutU8(tag.GenreID);
  return w.Take();
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
