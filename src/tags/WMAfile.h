#pragma once
// WMA: the objects of an ASF file's Header Object.
//
// TWMA walks the objects inside the Header Object and collects the stream
// parameters (File Properties, Stream Properties), the five texts of the
// Content Description object, selected descriptors of the Extended Content
// Description object and the first codec's texts from the Codec List object.
// It also records the file's last-write time.
//
// SaveToFile writes the Content Description and Extended Content Description
// objects anew from the object's texts, keeping every other header object and
// the data that follows the header; RemoveTag resets the texts and saves.
#include <cstdint>
#include <string>

#include "platform/TextCodec.h"

namespace ordana {

class TWMA {
 public:
  TWMA() { ResetData(); }
  ~TWMA() { ResetData(); }

  // Every field to its value before a read: flags false, numbers 0,
  // DateTime -1, texts empty.
  void ResetData();
  // Resets, reads the file and returns Valid(): true when the file could be
  // opened and read, also when it is not an ASF file at all.
  bool LoadFromFile(const std::u16string& FileName);

  // Rewrites the file with new Content Description and Extended Content
  // Description objects. False when the file cannot be rewritten (the file is
  // then left exactly as it was); true and nothing written for a file that
  // does not begin with the Header Object.
  bool SaveToFile(const std::u16string& FileName);
  // Resets all fields, then saves (the file keeps empty descriptions and a
  // numeric track of 0).
  bool RemoveTag(const std::u16string& FileName);

  bool Valid() const { return FValid; }
  bool IsValidSize() const { return FIsValidFile; }
  bool IsTAG() const { return FIsTAG; }
  // "VBR" occurs in StreamName().
  bool IsVBR() const { return FIsVBR; }
  int32_t FileSize() const { return FFileSize; }
  int32_t TagSize() const { return FTagSize; }
  uint8_t ChannelModeID() const { return FChannelModeID; }
  // "Unknown", "Mono", "Stereo"; "Unknown" for more than two channels.
  AnsiString ChannelMode() const;
  int32_t SampleRate() const { return FSampleRate; }
  double Duration() const { return FDuration; }  // seconds
  int32_t BitRate() const { return FBitRate; }    // kbit/s
  // The file's last write in UTC, in days since 30 December 1899 (with the
  // time of day as the fraction); -1 before a successful read.
  double DateTime() const { return FDateTime; }

  const std::u16string& Title() const { return FTitle; }
  const std::u16string& Artist() const { return FArtist; }
  const std::u16string& Album() const { return FAlbum; }
  const std::u16string& Track() const { return FTrack; }
  const std::u16string& Year() const { return FYear; }
  const std::u16string& Genre() const { return FGenre; }
  const std::u16string& Comment() const { return FComment; }
  const std::u16string& Encoder() const { return FEncoder; }
  const std::u16string& Rating() const { return FRating; }
  const std::u16string& GenreID() const { return FGenreID; }
  const std::u16string& PromoURL() const { return FPromoURL; }
  const std::u16string& Copyright() const { return FCopyright; }
  const std::u16string& EncoderName() const { return FEncoderName; }
  const std::u16string& StreamName() const { return FStreamName; }
  const std::u16string& Lyrics() const { return FLyrics; }

  void SetTitle(std::u16string v) { FTitle = std::move(v); }
  void SetArtist(std::u16string v) { FArtist = std::move(v); }
  void SetAlbum(std::u16string v) { FAlbum = std::move(v); }
  void SetTrack(std::u16string v) { FTrack = std::move(v); }
  void SetYear(std::u16string v) { FYear = std::move(v); }
  void SetGenre(std::u16string v) { FGenre = std::move(v); }
  void SetComment(std::u16string v) { FComment = std::move(v); }
  void SetEncoder(std::u16string v) { FEncoder = std::move(v); }
  void SetRating(std::u16string v) { FRating = std::move(v); }
  void SetGenreID(std::u16string v) { FGenreID = std::move(v); }
  void SetPromoURL(std::u16string v) { FPromoURL = std::move(v); }
  void SetCopyright(std::u16string v) { FCopyright = std::move(v); }
  void SetEncoderName(std::u16string v) { FEncoderName = std::move(v); }
  void SetStreamName(std::u16string v) { FStreamName = std::move(v); }
  void SetLyrics(std::u16string v) { FLyrics = std::move(v); }

 private:
  // keepTrackNumber: "WM/TrackNumber" keeps the file's number unless Track()
  // is a number itself.
  bool Save(const std::u16string& FileName, bool keepTrackNumber);

  bool FValid = false;
  bool FIsValidFile = false;
  bool FIsTAG = false;
  bool FIsVBR = false;
  int32_t FFileSize = 0;
  int32_t FTagSize = 0;
  uint8_t FChannelModeID = 0;
  int32_t FSampleRate = 0;
  double FDuration = 0.0;
  int32_t FBitRate = 0;
  double FDateTime = -1.0;
  std::u16string FTitle, FArtist, FAlbum, FTrack, FYear, FGenre, FComment, FEncoder, FRating,
      FGenreID, FPromoURL, FCopyright, FEncoderName, FStreamName, FLyrics;
};

}  // namespace ordana
