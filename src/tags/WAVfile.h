#pragma once
// RIFF WAVE: the format header at the start of the file, the sample count of
// a fact chunk that directly follows the format chunk, and the values derived
// from them (format name, channel mode text, duration). No tags are read.
#include <cstdint>
#include <string>

namespace ordana {

class TWAVfile {
 public:
  TWAVfile() { ResetData(); }
  void ResetData();
  // True when the file could be opened and the header bytes it needs could
  // be read (also when they are not a WAV header: Valid tells); false on an
  // open or read error, with the object reset.
  bool ReadFromFile(const std::u16string& FileName);

  bool Valid() const { return FValid; }
  uint16_t FormatID() const { return FFormatID; }
  uint8_t ChannelNumber() const { return FChannelNumber; }
  uint32_t SampleRate() const { return FSampleRate; }
  uint32_t BytesPerSecond() const { return FBytesPerSecond; }
  uint16_t BlockAlign() const { return FBlockAlign; }
  uint8_t BitsPerSample() const { return FBitsPerSample; }
  uint16_t HeaderSize() const { return FHeaderSize; }
  uint32_t FileSize() const { return FFileSize; }
  // "Windows PCM", "Microsoft ADPCM", ...; empty for other format tags.
  std::u16string Format() const;
  // "Unknown", "Mono" or "Stereo".
  std::u16string ChannelMode() const;
  // Seconds: sample count / sample rate when a sample count was found, else
  // the data size / bytes per second.
  double Duration() const;

 private:
  bool FValid = false;
  uint16_t FFormatID = 0;
  uint8_t FChannelNumber = 0;
  uint32_t FSampleRate = 0;
  uint32_t FBytesPerSecond = 0;
  uint16_t FBlockAlign = 0;
  uint8_t FBitsPerSample = 0;
  int32_t FSampleNumber = 0;
  uint16_t FHeaderSize = 0;
  uint32_t FFileSize = 0;
};

}  // namespace ordana
