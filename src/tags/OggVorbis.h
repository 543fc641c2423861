#pragma once
// Ogg Vorbis: the identification header on the first page, the Vorbis
// comment header on the second page (joined with the pages that continue
// it, when it is longer than one page) and the granule position of the last
// page; from them duration, average bit rate and a validity verdict. A file
// may begin with an ID3v2 tag, whose length is skipped.
//
// Writing (SaveTag, ClearTag) replaces the comment header through one save
// session: the header pages are laid out anew (the comment header may span
// as many pages as it needs); when their number changes, every later page of
// the stream is renumbered and its checksum recomputed. A failed save leaves
// the file untouched.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes/ByteSource.h"
#include "platform/TextCodec.h"

namespace ordana {

// An Ogg page header: 27 fixed bytes and up to 255 lacing values (282 bytes
// as read; only the first Segments lacing values belong to the page).
struct OggHeader {
  char ID[4] = {};                  // "OggS"
  uint8_t StreamVersion = 0;
  uint8_t TypeFlag = 0;
  int64_t AbsolutePosition = 0;     // granule position
  uint32_t Serial = 0;
  uint32_t PageNumber = 0;
  uint32_t Checksum = 0;
  uint8_t Segments = 0;
  uint8_t LacingValues[255] = {};

  static constexpr size_t kSize = 282;
  static constexpr size_t kFixedSize = 27;
  // From the bytes as read (missing bytes count as zero).
  static OggHeader Parse(const uint8_t* bytes, size_t n);
  // The 27 fixed bytes followed by the first Segments lacing values.
  ByteString Serialize() const;
};

// The Vorbis identification header, 30 bytes.
struct VorbisHeader {
  char ID[7] = {};                  // 0x01 "vorbis"
  uint32_t BitstreamVersion = 0;
  uint8_t ChannelMode = 0;          // number of channels
  uint32_t SampleRate = 0;
  int32_t BitRateMaximal = 0;
  int32_t BitRateNominal = 0;
  int32_t BitRateMinimal = 0;
  uint8_t BlockSize = 0;
  uint8_t StopFlag = 0;

  static constexpr size_t kSize = 30;
  static VorbisHeader Parse(const uint8_t* bytes, size_t n);
};

// The comment header in memory: slot 0 the vendor, slots 1..9 the values of
// the nine known names (UTF-8).
struct VorbisTag {
  char ID[7] = {};                  // 0x03 "vorbis"
  int32_t Fields = 0;               // comment count as stored
  std::array<Utf8String, 10> FieldData;
};

// Working record of one read.
struct FileInfo {
  OggHeader FPage, SPage, LPage;
  VorbisHeader Parameters;
  VorbisTag Tag;
  int64_t FileSize = 0;
  int32_t Samples = 0;
  int32_t ID3v2Size = 0;
  int64_t SPagePos = 0;   // file position of the second page
  // Not stored in the file: whether a comment header was found.
  bool HasTag = false;
};

// The comment names in slot order (slot = index + 1).
inline constexpr std::array<const char16_t*, 9> kVorbisFieldNames = {
    u"TITLE", u"ARTIST", u"ALBUM", u"TRACKNUMBER", u"DATE", u"GENRE", u"COMMENT", u"PERFORMER",
    u"DESCRIPTION"};

// The Ogg page checksum (CRC-32, polynomial 0x04C11DB7, initial value 0, no
// reflection, no final inversion), continued from crc.
uint32_t OggPageCrc(const void* data, size_t n, uint32_t crc = 0);

// What a read finds; the defaults are those of a file that is not Ogg Vorbis.
struct OggRecord {
  int32_t FileSize = 0;
  uint8_t ChannelModeID = 0;
  uint32_t SampleRate = 0;      // Hz
  uint16_t BitRateNominal = 0;  // kbit/s
  int32_t Samples = 0;          // the last page's granule position, low 32 bits
  int32_t ID3v2Size = 0;
  std::u16string Title, Artist, Album;
  uint16_t Track = 0;
  std::u16string Date, Genre, Comment;
  std::u16string Vendor;
};

// Reads a file's first pages and last page. True when, after any leading
// ID3v2 tag, it starts with an Ogg page whose body begins with a Vorbis
// identification header; false otherwise, the record then at its defaults.
bool ParseOggVorbis(const bytes::ByteSource& file, OggRecord& ogg);

class TOggVorbis {
 public:
  TOggVorbis() { ResetData(); }
  void ResetData() { F = OggRecord{}; }
  // Reads the file. True when, after any leading ID3v2 tag, it starts with an
  // Ogg page whose body begins with a Vorbis identification header. A file
  // that cannot be opened raises EFOpenError (the fields are reset first).
  bool ReadFromFile(const std::u16string& FileName);
  // The same over bytes already at hand (nothing to open, nothing raised).
  bool ReadFromSource(const bytes::ByteSource& Source) { return ParseOggVorbis(Source, F); }
  // Puts Title, Artist, Album, Track, Date, Genre and Comment into the
  // file's comment header. A value equal to what the reader gets from the
  // file now leaves its comments as they are ("7/12" stays while the track
  // is 7); a changed one replaces the first comment of its name (later ones
  // of that name go) or is appended; an empty one removes them. Every other
  // comment (REPLAYGAIN_*, ENCODER, PERFORMER, DESCRIPTION, pictures, ...)
  // and the vendor stay, in their order. True when the file was rewritten;
  // on false the file is unchanged and LastSaveStatus() says why.
  bool SaveTag(const std::u16string& FileName);
  // Empties the seven values and saves a comment header without any
  // comment (the vendor is kept).
  bool ClearTag(const std::u16string& FileName);

  int32_t FileSize() const { return F.FileSize; }
  uint8_t ChannelModeID() const { return F.ChannelModeID; }
  std::u16string ChannelMode() const;
  uint32_t SampleRate() const { return F.SampleRate; }
  uint16_t BitRateNominal() const { return F.BitRateNominal; }
  const std::u16string& Title() const { return F.Title; }
  const std::u16string& Artist() const { return F.Artist; }
  const std::u16string& Album() const { return F.Album; }
  uint16_t Track() const { return F.Track; }
  const std::u16string& Date() const { return F.Date; }
  const std::u16string& Genre() const { return F.Genre; }
  const std::u16string& Comment() const { return F.Comment; }
  const std::u16string& Vendor() const { return F.Vendor; }
  double Duration() const;
  uint16_t BitRate() const;
  bool ID3v2() const { return F.ID3v2Size > 0; }
  bool Valid() const;

  void SetTitle(std::u16string v) { F.Title = std::move(v); }
  void SetArtist(std::u16string v) { F.Artist = std::move(v); }
  void SetAlbum(std::u16string v) { F.Album = std::move(v); }
  void SetTrack(uint16_t v) { F.Track = v; }
  void SetDate(std::u16string v) { F.Date = std::move(v); }
  void SetGenre(std::u16string v) { F.Genre = std::move(v); }
  void SetComment(std::u16string v) { F.Comment = std::move(v); }

 private:
  bool Save(const std::u16string& FileName, bool clearAll);

  OggRecord F;
};

}  // namespace ordana
