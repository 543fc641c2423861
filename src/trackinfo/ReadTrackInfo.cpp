#include "trackinfo/ReadTrackInfo.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/FileIO.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "tags/FileSource.h"
#include "tags/Formats.h"
#include "tags/ID3v1.h"
#include "trackinfo/TrackReaders.h"

namespace ordana {
namespace {

// The folder part of path with a trailing delimiter ("/" or "\\" as the path
// uses them); a lone delimiter when path has no folder part.
std::u16string FolderWithDelimiter(std::u16string_view path) {
  std::u16string dir = ExtractFileDir(path);
  if (!dir.empty() && (dir.back() == u'\\' || dir.back() == u'/')) return dir;
  const bool windows = path.find(u'\\') != std::u16string_view::npos || !dir.empty();
  return dir + (windows ? u'\\' : u'/');
}

std::u16string Text(const AnsiString& s) { return AnsiToUtf16(s); }
const std::u16string& Text(const std::u16string& s) { return s; }

// ChannelMode + "   " + BitRate + "kbit   " + SampleRate + "Hz".
template <class Reader>
std::u16string StreamSummary(const Reader& r) {
  return Text(r.ChannelMode()) + u"   " + IntToStr(r.BitRate()) + u"kbit   " +
         IntToStr(r.SampleRate()) + u"Hz";
}

// A number with one decimal, always with "." (no locale applies).
std::u16string OneDecimal(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 1);
  return AnsiToUtf16(AnsiView(std::string_view(buf, static_cast<size_t>(res.ptr - buf))));
}

std::u16string ApeText(const TAPETag& ape, const char* name) { return Utf8ToUtf16(ape.SeekField(Utf8String(name))); }

int32_t ApeNumber(const TAPETag& ape, const char* name, int32_t def) {
  return StrToIntDef(ape.SeekField(Utf8String(name)).view(), def);
}

// The file one ReadTrackInfo call reads, opened once for all the readers
// that read it (by the caller, or here). A file that is not open is opened
// by each reader itself, which then fails as it does alone (the Ogg reader's
// EFOpenError, the ID3v2 retry).
class TrackFile {
 public:
  TrackFile(const std::u16string& name, const InputFile& file) : name_(name) {
    if (file) source_.emplace(file);
  }
  TrackFile(const TrackFile&) = delete;
  TrackFile& operator=(const TrackFile&) = delete;

  bool IsOpen() const { return source_.has_value(); }
  const bytes::ByteSource& Source() const { return *source_; }

  template <class Reader, class... Extra>
  bool Read(Reader& reader, Extra... extra) const {
    return source_ ? reader.ReadFromSource(*source_, extra...) : reader.ReadFromFile(name_, extra...);
  }

 private:
  const std::u16string& name_;
  std::optional<FileSource> source_;
};

bool ReadID3v1Block(const bytes::ByteSource& source, TID3v1Block& Block) {
  Block.fill(0);
  const int64_t size = source.Size();
  if (size < static_cast<int64_t>(Block.size())) return false;
  if (source.ReadAt(size - static_cast<int64_t>(Block.size()), Block.data(), Block.size()) !=
      static_cast<int64_t>(Block.size())) {
    Block.fill(0);
    return false;
  }
  return Block[0] == 'T' && Block[1] == 'A' && Block[2] == 'G';
}

// The APE tag of an APE file has been read for its tags already.
void ReadPlayoutItems(TAPETag& ape, const TrackFile& file, TPlaylistEntry& e, bool alreadyRead) {
  if (!alreadyRead) file.Read(ape);
  e.BPM = ApeText(ape, "BPM");
  e.Rating = ApeNumber(ape, "Rating", 0);
  e.Gender = ApeNumber(ape, "Gender", 0);
  e.Language = ApeText(ape, "Language");
  e.DateLastPlayed = ApeText(ape, "VelmoraLastPlayed");
  e.PlayCount = ApeNumber(ape, "PlayCount", 0);
  e.Intro = ApeNumber(ape, "Intro", -1);
  e.Outro = ApeNumber(ape, "Outro", -1);
  e.CueIn = ApeNumber(ape, "CueIn", -1);
  e.CueOut = ApeNumber(ape, "CueOut", -1);
  e.FadeIn = ApeNumber(ape, "FadeIn", -1);
  e.FadeOut = ApeNumber(ape, "FadeOut", -1);
  e.MixPoint = ApeNumber(ape, "MixPoint", -1);
  e.TrackLen = ApeNumber(ape, "TrackLen", -1);
  e.Identifier = ApeText(ape, "VelmoraIdentifier");
}

template <class Reader>
void CopyTags(const Reader& r, TPlaylistEntry& e) {
  e.title = r.Title();
  e.artist = r.Artist();
  e.album = r.Album();
  e.year = r.Year();
  e.comment = r.Comment();
  e.genre = r.Genre();
}

}  // namespace

bool IsLineInEntry(const std::u16string& FileName) {
  const std::u16string name = ExtractFileName(FileName);
  return name.size() >= 7 && LowerCase(std::u16string_view(name).substr(0, 7)) == u"line.in";
}

bool ReadID3v1Block(const std::u16string& FileName, TID3v1Block& Block) {
  Block.fill(0);
  InputFile f = InputFile::Open(FileName);  // regular files only
  if (!f) return false;
  return ReadID3v1Block(FileSource(f), Block);
}

// The fields keep their padding (the report trims what it shows), and the
// comment is all 30 bytes, also when version 1.1 keeps a track in the last
// two: earlier reports and the playout program read the block this way.
void FillFromID3v1Block(const TID3v1Block& Block, TPlaylistEntry& Entry) {
  auto field = [&](size_t offset, size_t width) {
    return AnsiToUtf16(AnsiView(std::string_view(reinterpret_cast<const char*>(Block.data()) + offset, width)));
  };
  Entry.title = field(3, 30);
  Entry.artist = field(33, 30);
  Entry.album = field(63, 30);
  Entry.year = field(93, 4);
  Entry.comment = field(97, 30);
  if (Block[127] < kGenreCount) Entry.genre = AnsiToUtf16(AnsiView(GenreNames[Block[127]]));
}

bool ReadTrackInfo(const std::u16string& FileName, TPlaylistEntry& Entry, char* InfoText,
                   int Options) {
  const InputFile file = IsLineInEntry(FileName) ? InputFile() : InputFile::Open(FileName);
  return ReadTrackInfoOf(file, FileName, Entry, InfoText, Options);
}

bool ReadTrackInfoOf(const InputFile& File, const std::u16string& FileName, TPlaylistEntry& Entry,
                     char* InfoText, int Options) {
  if (!(Options & roKeepEntry)) Entry = EmptyPlaylistEntry;
  Entry.filename = FileName;
  // The buffer never keeps stale text: it is empty unless a summary is made.
  if (InfoText) InfoText[0] = '\0';
  bool result = false;
  const bool lineIn = IsLineInEntry(FileName);
  static const InputFile kNotOpen;
  const TrackFile file(FileName, lineIn ? kNotOpen : File);
  if (!lineIn && !file.IsOpen() && !FileExists(FileName)) return false;

  // The reader is chosen by the extension (any letter case).
  const AudioFormat* format = FindAudioFormat(ExtractFileExt(FileName));
  Entry.tagtype = TTagType::ttTag;
  TTrackReaders& r = TrackReaders();
  std::u16string summary;
  bool haveSummary = false;
  bool apeRead = false;

  if (!(Options & roPlayoutItemsOnly)) {
    if (format && format->Reader == TagReaderKind::ID3v2ThenID3v1) {
      // One retry, as the playout program makes (a file held for a moment reads the second time).
      if (!file.Read(r.ID3v2)) r.ID3v2.ReadFromFile(FileName);
      // An ID3v2 tag wins even with empty fields (no ID3v1 then), as in the playout program.
      if (r.ID3v2.Exists()) {
        Entry.tagtype = TTagType::ttID3v2;
        CopyTags(r.ID3v2, Entry);
        result = true;
      } else {
        Entry.tagtype = TTagType::ttID3v1;
        TID3v1Block block;
        if (file.IsOpen() ? ReadID3v1Block(file.Source(), block) : ReadID3v1Block(FileName, block)) {
          FillFromID3v1Block(block, Entry);
          result = true;
        } else {
          Entry.tagtype = TTagType::ttID3v2;
        }
      }
      if (InfoText) {
        file.Read(r.MPEGaudio);
        summary = StreamSummary(r.MPEGaudio);
        haveSummary = true;
      }
    } else if (lineIn) {
      TID3v1Block block;
      result = ReadID3v1Block(FolderWithDelimiter(FileName) + u"line.in", block);
      if (result) FillFromID3v1Block(block, Entry);
    } else if (format) {
      switch (format->Reader) {
        case TagReaderKind::ID3v2ThenID3v1:
          break;  // taken above
        case TagReaderKind::WAV:
          // No tags from WAV (its LIST/INFO chunk is not read), as in the playout program.
          if (InfoText) {
            file.Read(r.WAVfile);
            summary = Text(r.WAVfile.ChannelMode()) + u"   " + IntToStr(r.WAVfile.SampleRate()) +
                      u"Hz   " + OneDecimal(r.WAVfile.BytesPerSecond() / 1000.0) + u"kbps";
            haveSummary = true;
          }
          break;
        case TagReaderKind::WMA:
          r.WMA.LoadFromFile(FileName);
          if (r.WMA.Valid()) {
            result = true;
            CopyTags(r.WMA, Entry);
            if (InfoText) {
              summary = StreamSummary(r.WMA);
              haveSummary = true;
            }
          }
          break;
        case TagReaderKind::OggVorbis:
          file.Read(r.OggVorbis);  // may throw EFOpenError: passed on
          if (r.OggVorbis.Valid()) {
            result = true;
            Entry.title = r.OggVorbis.Title();
            Entry.artist = r.OggVorbis.Artist();
            Entry.album = r.OggVorbis.Album();
            Entry.year = r.OggVorbis.Date();
            Entry.comment = r.OggVorbis.Comment();
            Entry.genre = r.OggVorbis.Genre();
            if (InfoText) {
              summary = StreamSummary(r.OggVorbis);
              haveSummary = true;
            }
          }
          break;
        case TagReaderKind::FLAC:
          // The report keeps the named fields only: other comments (a
          // picture among them) are passed over unconverted.
          file.Read(r.FLACfile, FLACComments::NamedFields);
          if (r.FLACfile.Valid()) {
            result = true;
            CopyTags(r.FLACfile, Entry);
            if (InfoText) {
              summary = u"Channels: " + IntToStr(r.FLACfile.Channels()) + u"   " +
                        IntToStr(r.FLACfile.SampleRate()) + u"Hz";
              haveSummary = true;
            }
          }
          break;
        case TagReaderKind::APE:
          file.Read(r.APETag);
          apeRead = true;
          if (r.APETag.Exists()) {
            result = true;
            Entry.title = ApeText(r.APETag, "Title");
            Entry.artist = ApeText(r.APETag, "Artist");
            Entry.album = ApeText(r.APETag, "Album");
            Entry.year = ApeText(r.APETag, "Year");
            Entry.comment = ApeText(r.APETag, "Comment");
            Entry.genre = ApeText(r.APETag, "Genre");
          }
          break;
        case TagReaderKind::MP4:
          file.Read(r.Mp4Tag);
          if (r.Mp4Tag.Exists()) {
            result = true;
            CopyTags(r.Mp4Tag, Entry);
          }
          break;
      }
    }
  }

  if (!lineIn && (Options & (roPlayoutItems | roPlayoutItemsOnly)))
    ReadPlayoutItems(r.APETag, file, Entry, apeRead);

  if (haveSummary && InfoText) WriteInfoText(summary, InfoText);
  return result;
}

void WriteInfoText(const std::u16string& Summary, char* InfoText) {
  const AnsiString text = Utf16ToAnsi(Summary);
  const std::string_view s = text.view().substr(0, kInfoTextSize - 1);
  std::memcpy(InfoText, s.data(), s.size());
  InfoText[s.size()] = '\0';
}

}  // namespace ordana
