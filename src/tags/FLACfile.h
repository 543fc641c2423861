#pragma once
// FLAC: the stream parameters of STREAMINFO and the text comments of the
// first VORBIS_COMMENT block.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/TextCodec.h"

namespace ordana {

class InputFile;

class TFLACfile {
 public:
  TFLACfile() { ResetData(); }

  void ResetData();
  // False only when the file could not be opened or read; true also for a
  // file that is not FLAC (then Valid() is false).
  bool ReadFromFile(const std::u16string& FileName);
  // Writes Vendor and the comments (the six named fields merged into
  // CommentValues) into the file read last. In place when the new blocks fill
  // the old metadata space exactly (the padding taking up the difference),
  // else the file is rewritten with 2048 bytes of padding. False, with the
  // file unchanged, when Valid() is false, the file's metadata cannot be
  // walked safely, or any step fails.
  bool SaveToFile(const std::u16string& FileName);

  uint8_t Channels() const { return FChannels; }
  int32_t SampleRate() const { return FSampleRate; }
  uint8_t BitsPerSample() const { return FBitsPerSample; }
  int32_t FileLength() const { return FFileLength; }
  int32_t Samples() const { return FSamples; }  // low 32 bits of the 36-bit count

  bool Valid() const;
  double Duration() const;  // seconds
  double Ratio() const;     // file size in percent of the raw sample data

  // Every comment of the VORBIS_COMMENT block read last, one line each
  // (name, "=", value); a comment holding line breaks spans several lines.
  const std::vector<std::u16string>& CommentValues() const { return FCommentLines; }

  const std::u16string& Vendor() const { return FVendor; }
  const std::u16string& Title() const { return FTitle; }
  const std::u16string& Artist() const { return FArtist; }
  const std::u16string& Album() const { return FAlbum; }
  const std::u16string& Year() const { return FYear; }
  const std::u16string& Genre() const { return FGenre; }
  const std::u16string& Comment() const { return FComment; }
  void SetVendor(std::u16string v) { FVendor = std::move(v); }
  void SetTitle(std::u16string v) { FTitle = std::move(v); }
  void SetArtist(std::u16string v) { FArtist = std::move(v); }
  void SetAlbum(std::u16string v) { FAlbum = std::move(v); }
  void SetYear(std::u16string v) { FYear = std::move(v); }
  void SetGenre(std::u16string v) { FGenre = std::move(v); }
  void SetComment(std::u16string v) { FComment = std::move(v); }

 private:
  void ParseVorbisComment(std::string_view body);
  void SetComments(std::vector<std::u16string> comments);
  bool CollectBlocks(const InputFile& f, std::string& head);
  void MergeNamedFields();

  uint8_t FChannels = 0;
  int32_t FSampleRate = 0;
  uint8_t FBitsPerSample = 0;
  int32_t FFileLength = 0;
  int32_t FSamples = 0;
  // The comments as whole texts, and the same split into lines.
  std::vector<std::u16string> FComments;
  std::vector<std::u16string> FCommentLines;
  // State of tag writing.
  std::vector<ByteString> FlacBlocks;
  int32_t TotalBlocksSize = 0;
  int32_t PaddingSize = 0;
  std::vector<ByteString> Blocks;
  std::u16string FVendor, FTitle, FArtist, FAlbum, FYear, FGenre, FComment;
};

}  // namespace ordana
