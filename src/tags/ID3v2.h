#pragma once
// ID3v2: the tag at the start of a file (versions 2.2 to 2.4).
//
// The reader looks at the tag header and the frames only: it does not undo
// unsynchronisation, skip an extended header, or decompress/decrypt frames.
// Sixteen frame slots carry the text the fields are filled from.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/ByteSource.h"
#include "platform/TextCodec.h"

namespace ordana {

// Total size of a leading ID3v2 tag from the file's first 10 bytes: the four
// size bytes combined seven bits apiece as they stand (top bits not masked),
// plus 10, plus 10 more with the footer flag (0x10 in byte 5). 0 when the
// bytes do not begin with "ID3" or the result exceeds fileSize. Other readers
// skip a leading tag by this rule.
int32_t ID3v2TotalTagSize(const uint8_t header[10], int64_t fileSize);

// Frame slots 1 to 16 and their identifiers (2.3/2.4 and 2.2).
inline constexpr int kID3v2SlotCount = 16;
extern const char* const kID3v2SlotIDs[kID3v2SlotCount + 1];     // [0] unused
extern const char* const kID3v2SlotIDsV22[kID3v2SlotCount + 1];  // [0] unused

// A frame's data is read in at most this many bytes (versions 2.3 and 2.4);
// version 2.2 frames are held as exactly kID3v2FrameLimitV22 bytes.
inline constexpr int32_t kID3v2FrameLimit = 500000;
inline constexpr int32_t kID3v2FrameLimitV22 = 500;

// The working record of one read or save.
struct TagInfo {
  char ID[3] = {0, 0, 0};
  uint8_t Version = 0;
  uint8_t Revision = 0;
  uint8_t Flags = 0;
  uint8_t Size[4] = {0, 0, 0, 0};
  int64_t FileSize = 0;
  // Index 0 holds no slot, 1 to 16 the slots, further entries are frames
  // without a slot. Parallel arrays.
  std::vector<ByteString> FrameIDs;
  std::vector<ByteString> Frame;
  bool NeedRewrite = false;
  int32_t PaddingSize = 0;
  int32_t OldTagSize = 0;
};

// Text of a text frame's data (encoding byte first): encoding 1 is UTF-16
// with or without byte-order mark, 2 is UTF-16 big-endian without one, 3 is
// UTF-8 (untrimmed); anything else is
// read in the ANSI code page, encoding byte included, and trimmed.
std::u16string DecodeFrameText(std::string_view Data);
// The text after a comment's (WithLanguage) or user link's description.
std::u16string TextAfterDescription(std::string_view Data, bool WithLanguage);
// The number before the first "/" of a track frame; 0 when not a number.
uint16_t ParseTrackNumber(std::string_view Data);
// Genre text without a leading "(nn)" reference (everything up to the last ")").
std::u16string StripGenreReference(std::string_view Data);

// The fields of a tag as read; the defaults are those of a file without one.
struct ID3v2Record {
  bool Exists = false;
  uint8_t VersionID = 0;
  int32_t Size = 0;  // the total size (ID3v2TotalTagSize)
  std::u16string Title;
  std::u16string Artist;
  std::u16string Album;
  uint16_t Track = 0;
  AnsiString TrackString;
  std::u16string Year;
  std::u16string Genre;
  std::u16string Comment;
  std::u16string Composer;
  AnsiString Encoder;
  AnsiString Copyright;
  AnsiString Language;
  AnsiString Link;
  int32_t OldTagSize = 0;  // the total size found by the read
};

// The tag at the start of a file. False when the file is shorter than 10
// bytes or they cannot be read (the record then at its defaults); true
// otherwise, Exists telling whether they begin a tag.
bool ParseID3v2(const bytes::ByteSource& file, ID3v2Record& tag);

class TID3v2 {
 public:
  TID3v2() { ResetData(); }
  // Every field but OldTagSize to its default (a read resets that too).
  void ResetData() {
    const int32_t old = F.OldTagSize;
    F = ID3v2Record{};
    F.OldTagSize = old;
  }
  // True when the file could be opened and its first 10 bytes read, tag or
  // not; whether they are a tag is Exists(). Never throws.
  bool ReadFromFile(const std::u16string& FileName);
  // The same over bytes already at hand.
  bool ReadFromSource(const bytes::ByteSource& Source) { return ParseID3v2(Source, F); }

  bool Exists() const { return F.Exists; }
  uint8_t VersionID() const { return F.VersionID; }
  int32_t Size() const { return F.Size; }
  const std::u16string& Title() const { return F.Title; }
  const std::u16string& Artist() const { return F.Artist; }
  const std::u16string& Album() const { return F.Album; }
  uint16_t Track() const { return F.Track; }
  const AnsiString& TrackString() const { return F.TrackString; }
  const std::u16string& Year() const { return F.Year; }
  const std::u16string& Genre() const { return F.Genre; }
  const std::u16string& Comment() const { return F.Comment; }
  const std::u16string& Composer() const { return F.Composer; }
  const AnsiString& Encoder() const { return F.Encoder; }
  const AnsiString& Copyright() const { return F.Copyright; }
  const AnsiString& Language() const { return F.Language; }
  const AnsiString& Link() const { return F.Link; }
  // The total tag size found by the last read.
  int32_t OldTagSize() const { return F.OldTagSize; }

  // Texts are stored trimmed (characters up to U+0020 at both ends); the
  // encoder, copyright, language and link as ANSI text.
  void SetTitle(const std::u16string& v);
  void SetArtist(const std::u16string& v);
  void SetAlbum(const std::u16string& v);
  void SetTrack(uint16_t v) { F.Track = v; }
  void SetYear(const std::u16string& v);
  void SetGenre(const std::u16string& v);
  void SetComment(const std::u16string& v);
  void SetComposer(const std::u16string& v);
  void SetEncoder(const std::u16string& v);
  void SetCopyright(const std::u16string& v);
  void SetLanguage(const std::u16string& v);
  void SetLink(const std::u16string& v);

  // Writes the fields as a version 2.4 tag at the start of the file, through
  // one save session (the file is read for the layout under the lock that
  // covers the write). Every frame of the file survives with its content and
  // flags (translated into the 2.4 layout): unsynchronisation is undone and
  // an extended header left out; frames this object manages are replaced only
  // when its value differs from what the reader gets from the file now (the
  // comment replaces the one COMM frame it was read from; the year goes into
  // TDRC; a track "7/12" stays while the number is 7). The new tag takes the
  // old one's place when it fits (in place); otherwise the file is rewritten
  // with 2048 bytes of padding. An empty comment is written (and kept) as one
  // blank. A tag that cannot be carried over whole (an unknown version, a
  // version 2.2 frame without a 2.4 form, damage) is refused: false, the
  // cause in LastSaveStatus(). False on any failure, the file then
  // unchanged. Never throws.
  bool SaveToFile(const std::u16string& FileName);
  // The same, with the 128 bytes of an ID3v1 tag written in the same save:
  // over the file's trailing ID3v1 tag, or appended when there is none.
  bool SaveToFile(const std::u16string& FileName, std::string_view id3v1Block);
  // Rewrites the file without its leading tag; false when there is none.
  bool RemoveFromFile(const std::u16string& FileName) const;

 private:
  ID3v2Record F;
};

}  // namespace ordana
