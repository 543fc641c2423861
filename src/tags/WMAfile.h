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
#include <string_view>

#include "bytes/ByteSource.h"
#include "platform/TextCodec.h"
#include "tags/TextFields.h"

namespace ordana {

// What a read finds; the defaults are the values before a read: flags false,
// numbers 0, DateTime -1, texts empty.
struct WMARecord {
  bool Valid = false;
  bool IsValidFile = false;
  bool IsTAG = false;
  bool IsVBR = false;
  int32_t FileSize = 0;
  int32_t TagSize = 0;
  uint8_t ChannelModeID = 0;
  int32_t SampleRate = 0;
  double Duration = 0.0;
  int32_t BitRate = 0;
  double DateTime = -1.0;
  std::u16string Title, Artist, Album, Track, Year, Genre, Comment, Encoder, Rating, GenreID,
      PromoURL, Copyright, EncoderName, StreamName, Lyrics;
};

// The Header Object's objects of a file whose last write was at lastWrite
// (in the units of DateTime, -1 when unknown). False when the file cannot be
// read, the record then at its defaults; true (Valid) also for a file that
// is not ASF.
bool ParseWMA(const bytes::ByteSource& file, double lastWrite, WMARecord& wma);
// The Header Object a save writes: old is the file's bytes before its Data
// Object, dataLen the length from there to the end of the file. The Content
// Description and Extended Content Description objects are made anew from
// the record (keepTrackNumber: "WM/TrackNumber" keeps the old number unless
// Track is a number); every other object is kept. False when the old header
// is too damaged to be rewritten safely or a count does not fit its field.
bool RenderWMAHeader(std::string_view old, uint64_t dataLen, const WMARecord& wma,
                     bool keepTrackNumber, std::string& header);

class TWMA : public TTextFields<WMARecord> {
 public:
  TWMA() { ResetData(); }
  ~TWMA() { ResetData(); }

  // Every field to its value before a read: flags false, numbers 0,
  // DateTime -1, texts empty.
  void ResetData() { F = WMARecord{}; }
  // Resets, reads the file and returns Valid(): true when the file could be
  // opened and read, also when it is not an ASF file at all.
  bool LoadFromFile(const std::u16string& FileName);
  // The same over bytes already at hand, last written at LastWrite.
  bool ReadFromSource(const bytes::ByteSource& Source, double LastWrite = -1.0);

  // Rewrites the file with new Content Description and Extended Content
  // Description objects. False when the file cannot be rewritten (the file is
  // then left exactly as it was); true and nothing written for a file that
  // does not begin with the Header Object.
  bool SaveToFile(const std::u16string& FileName);
  // Resets all fields, then saves (the file keeps empty descriptions and a
  // numeric track of 0).
  bool RemoveTag(const std::u16string& FileName);

  bool Valid() const { return F.Valid; }
  bool IsValidSize() const { return F.IsValidFile; }
  bool IsTAG() const { return F.IsTAG; }
  // "VBR" occurs in StreamName().
  bool IsVBR() const { return F.IsVBR; }
  int32_t FileSize() const { return F.FileSize; }
  int32_t TagSize() const { return F.TagSize; }
  uint8_t ChannelModeID() const { return F.ChannelModeID; }
  // "Unknown", "Mono", "Stereo"; "Unknown" for more than two channels.
  AnsiString ChannelMode() const;
  int32_t SampleRate() const { return F.SampleRate; }
  double Duration() const { return F.Duration; }  // seconds
  int32_t BitRate() const { return F.BitRate; }    // kbit/s
  // The file's last write in UTC, in days since 30 December 1899 (with the
  // time of day as the fraction); -1 before a successful read.
  double DateTime() const { return F.DateTime; }

  const std::u16string& Track() const { return F.Track; }
  const std::u16string& Encoder() const { return F.Encoder; }
  const std::u16string& Rating() const { return F.Rating; }
  const std::u16string& GenreID() const { return F.GenreID; }
  const std::u16string& PromoURL() const { return F.PromoURL; }
  const std::u16string& Copyright() const { return F.Copyright; }
  const std::u16string& EncoderName() const { return F.EncoderName; }
  const std::u16string& StreamName() const { return F.StreamName; }
  const std::u16string& Lyrics() const { return F.Lyrics; }

  void SetTrack(std::u16string v) { F.Track = std::move(v); }
  void SetEncoder(std::u16string v) { F.Encoder = std::move(v); }
  void SetRating(std::u16string v) { F.Rating = std::move(v); }
  void SetGenreID(std::u16string v) { F.GenreID = std::move(v); }
  void SetPromoURL(std::u16string v) { F.PromoURL = std::move(v); }
  void SetCopyright(std::u16string v) { F.Copyright = std::move(v); }
  void SetEncoderName(std::u16string v) { F.EncoderName = std::move(v); }
  void SetStreamName(std::u16string v) { F.StreamName = std::move(v); }
  void SetLyrics(std::u16string v) { F.Lyrics = std::move(v); }

 private:
  // keepTrackNumber: "WM/TrackNumber" keeps the file's number unless Track()
  // is a number itself.
  bool Save(const std::u16string& FileName, bool keepTrackNumber);
};

}  // namespace ordana
