#pragma once
// RIFF WAVE: the format header at the start of the file, the sample count of
// a fact chunk that directly follows the format chunk, and the values derived
// from them (format name, channel mode text, duration). No tags are read.
#include <cstdint>
#include <string>

#include "bytes/ByteSource.h"

namespace ordana {

// The header as read; the defaults are those of a file that is not WAV.
struct WAVRecord {
  bool Valid = false;
  uint16_t FormatID = 0;
  uint8_t ChannelNumber = 0;
  uint32_t SampleRate = 0;
  uint32_t BytesPerSecond = 0;
  uint16_t BlockAlign = 0;
  uint8_t BitsPerSample = 0;
  int32_t SampleNumber = 0;
  uint16_t HeaderSize = 0;
  uint32_t FileSize = 0;  // the RIFF size plus 8
};

// The header of a file. False when the bytes it needs cannot be read (the
// record then at its defaults); true also for a file that is not WAV.
bool ParseWAV(const bytes::ByteSource& file, WAVRecord& wav);

class TWAVfile {
 public:
  TWAVfile() { ResetData(); }
  void ResetData() { F = WAVRecord{}; }
  // True when the file could be opened and the header bytes it needs could
  // be read (also when they are not a WAV header: Valid tells); false on an
  // open or read error, with the object reset.
  bool ReadFromFile(const std::u16string& FileName);
  // The same over bytes already at hand.
  bool ReadFromSource(const bytes::ByteSource& Source) { return ParseWAV(Source, F); }

  bool Valid() const { return F.Valid; }
  uint16_t FormatID() const { return F.FormatID; }
  uint8_t ChannelNumber() const { return F.ChannelNumber; }
  uint32_t SampleRate() const { return F.SampleRate; }
  uint32_t BytesPerSecond() const { return F.BytesPerSecond; }
  uint16_t BlockAlign() const { return F.BlockAlign; }
  uint8_t BitsPerSample() const { return F.BitsPerSample; }
  uint16_t HeaderSize() const { return F.HeaderSize; }
  uint32_t FileSize() const { return F.FileSize; }
  // "Windows PCM", "Microsoft ADPCM", ...; empty for other format tags.
  std::u16string Format() const;
  // "Unknown", "Mono" or "Stereo".
  std::u16string ChannelMode() const;
  // Seconds: sample count / sample rate when a sample count was found, else
  // the data size / bytes per second.
  double Duration() const;

 private:
  WAVRecord F;
};

}  // namespace ordana
