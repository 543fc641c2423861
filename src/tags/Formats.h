#pragma once
// The format table: every audio extension the tag layer knows, with the
// reader that reads its tags, the writer that saves them, the fields a save
// can write and what a save keeps. ReadTrackInfo dispatches through it,
// ordana-tags chooses its reader, writer, help and messages from it, and the
// README's table is made from it (a test compares them). It is the one list
// of audio extensions; the video extensions of the length probe are a list
// of their own with a rule of their own.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ordana {

// Which reader fills a track's tags.
enum class TagReaderKind : uint8_t {
  ID3v2ThenID3v1,  // MPEG-style files: the ID3v2 tag, else the ID3v1 tag
  WAV,             // no tags, the stream facts only
  WMA,
  OggVorbis,
  FLAC,
  APE,             // the APE tag at the end of the file
  MP4,
};

// Which writer saves them.
enum class TagWriterKind : uint8_t { None, ID3v2, FLAC, OggVorbis, APE, WMA };

// The descriptive fields, as a bit set.
enum TagField : uint8_t {
  tfTitle = 1,
  tfArtist = 2,
  tfAlbum = 4,
  tfYear = 8,
  tfGenre = 16,
  tfComment = 32,
  tfAllFields = 63,
};

struct AudioFormat {
  std::u16string_view Extension;  // lower case, with the dot: u".mp3"
  std::string_view Name;          // for people: "MP3"
  TagReaderKind Reader;
  TagWriterKind Writer;
  uint8_t WritableFields;  // TagField bits a save writes (0: read-only)
  bool SaveKeepsOtherTags;       // tags of other kinds (and other blocks) survive a save
  // For people: what a save writes, what it keeps, and what it cannot write
  // (empty: nothing it refuses or cuts).
  std::string_view SaveWrites;
  std::string_view SaveKeeps;
  std::string_view SaveCannotWrite;
  bool MayEndWithAPE;            // an APE tag may stand at the end as well
};

// Formats whose saves behave alike, in the table's order: "MP3, TTA".
struct SaveGroup {
  std::string Names;       // "MP3, TTA"
  std::string Extensions;  // ".mp3 .tta"
  const AudioFormat* Format;  // the first of them
};
std::vector<SaveGroup> SaveGroups();

// Every known format, in the order the README and the help list them.
std::span<const AudioFormat> AudioFormats();

// The format of an extension (any letter case, with its dot); nullptr when
// the extension is not one of the table's.
const AudioFormat* FindAudioFormat(std::u16string_view extension);

// What a writer saves, for messages: "the ID3v2 tag", "the Vorbis comments"...
std::string_view SavedTagName(TagWriterKind writer);

// The names of the formats whose tags can be written, joined with ", ".
std::string WritableFormatNames();

// The table as Markdown rows (header included), as the README shows it.
std::string AudioFormatsMarkdown();
// What a save writes, keeps and cannot write, one row per SaveGroup, as
// the README shows it.
std::string SaveBehaviourMarkdown();

}  // namespace ordana
