#pragma once
// FLAC: the stream parameters of STREAMINFO and the text comments of the
// first VORBIS_COMMENT block. An ID3v2 tag in front of the stream is passed
// over when reading and kept in front when saving.
#include <cstdint>
#include <string>
#include <vector>

#include "bytes/ByteSource.h"
#include "platform/TextCodec.h"
#include "tags/TextFields.h"

namespace ordana {

class InputFile;

// What a read finds; the defaults are those of a file that is not FLAC.
struct FLACRecord {
  uint8_t Channels = 0;
  int32_t SampleRate = 0;
  uint8_t BitsPerSample = 0;
  int32_t FileLength = 0;  // the file's size, held to the 32-bit range
  int32_t Samples = 0;     // low 32 bits of the 36-bit count
  // The comments of the first VORBIS_COMMENT block as whole texts, and the
  // same split into lines.
  std::vector<std::u16string> Comments;
  std::vector<std::u16string> CommentLines;
  std::u16string Vendor, Title, Artist, Album, Year, Genre, Comment;
};

// What a read keeps of the VORBIS_COMMENT block: every comment (what a save
// rewrites), or only the vendor and the six named fields, the other comments
// (a picture, unknown names) passed over unconverted. After a NamedFields
// read Comments and CommentLines stay empty.
enum class FLACComments { All, NamedFields };

// STREAMINFO and the first VORBIS_COMMENT block of a file. False only when
// the file cannot be read; true also for one that is not FLAC.
bool ParseFLAC(const bytes::ByteSource& file, FLACRecord& flac, FLACComments keep = FLACComments::All);

class TFLACfile : public TTextFields<FLACRecord> {
 public:
  TFLACfile() { ResetData(); }

  void ResetData() {
    F = FLACRecord{};
    AllCommentsRead = false;
    FlacBlocks.clear();
    TotalBlocksSize = 0;
  }
  // False only when the file could not be opened or read; true also for a
  // file that is not FLAC (then Valid() is false).
  // Keep chooses what is kept of the comments (see FLACComments).
  bool ReadFromFile(const std::u16string& FileName, FLACComments Keep = FLACComments::All);
  // The same over bytes already at hand.
  bool ReadFromSource(const bytes::ByteSource& Source, FLACComments Keep = FLACComments::All);
  // Writes Vendor and the comments (the six named fields merged into
  // CommentValues) into the file read last. In place when the new blocks fill
  // the old metadata space exactly (the padding taking up the difference),
  // else the file is rewritten with 2048 bytes of padding. False, with the
  // file unchanged, when Valid() is false, the last read did not keep every
  // comment (FLACComments::NamedFields), the file's metadata cannot be
  // walked safely, or any step fails.
  bool SaveToFile(const std::u16string& FileName);

  uint8_t Channels() const { return F.Channels; }
  int32_t SampleRate() const { return F.SampleRate; }
  uint8_t BitsPerSample() const { return F.BitsPerSample; }
  int32_t FileLength() const { return F.FileLength; }
  int32_t Samples() const { return F.Samples; }  // low 32 bits of the 36-bit count

  bool Valid() const;
  double Duration() const;  // seconds
  double Ratio() const;     // file size in percent of the raw sample data

  // Every comment of the VORBIS_COMMENT block read last, one line each
  // (name, "=", value); a comment holding line breaks spans several lines.
  const std::vector<std::u16string>& CommentValues() const { return F.CommentLines; }

  const std::u16string& Vendor() const { return F.Vendor; }
  void SetVendor(std::u16string v) { F.Vendor = std::move(v); }

 private:
  bool CollectBlocks(const InputFile& f, int64_t& start, std::string& head);
  void MergeNamedFields();

  // Whether the last read kept every comment, as a save needs.
  bool AllCommentsRead = false;
  // State of tag writing.
  std::vector<ByteString> FlacBlocks;
  int32_t TotalBlocksSize = 0;
  int32_t PaddingSize = 0;
  std::vector<ByteString> Blocks;
};

}  // namespace ordana
