#pragma once
// MPEG audio stream analysis: MPEG 1, 2 and 2.5, Layers I to III.
//
// The reader finds the first audio frame in a window of 3458 bytes at the
// start of the file (and, failing that, in a second window at half the
// file), decodes its header, looks for a Xing or VBRI header inside that
// frame and derives bit rate, sample rate, frame count, duration, the channel
// mode texts and an encoder guess. No audio is decoded and at most two
// windows are read, whatever the file's size.
#include <array>
#include <cstdint>
#include <string>

#include "bytes/ByteSource.h"
#include "platform/TextCodec.h"
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"

namespace ordana {

// What a Xing or VBRI header inside the first frame states.
struct VBRData {
  bool Found = false;       // a Xing or VBRI header was found
  std::u16string ID;        // "Xing" or "VBRI"; empty when not found
  int32_t Frames = 0;       // frames stated by the header
  int32_t Bytes = 0;        // stream bytes stated by the header
  uint8_t Scale = 0;        // quality byte
  AnsiString VendorID;      // the eight bytes after a Xing header; empty for VBRI
};

// The first frame found.
struct FrameData {
  bool Found = false;
  int32_t Position = 0;     // offset of the frame within the window it was found in
  uint16_t Size = 0;        // frame length in bytes
  bool Xing = false;        // the six bytes after the header are all zero
  std::array<uint8_t, 4> Data{};
  uint8_t VersionID = 0;    // 0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1
  uint8_t LayerID = 0;      // 0 reserved, 1 Layer III, 2 Layer II, 3 Layer I
  bool ProtectionBit = false;  // true when a CRC follows the header
  uint16_t BitRateID = 0;
  uint16_t SampleRateID = 0;
  bool PaddingBit = false;
  bool PrivateBit = false;
  uint8_t ModeID = 0;       // 0 stereo, 1 joint, 2 dual, 3 mono, 4 unknown
  uint8_t ModeExtensionID = 0;
  bool CopyrightBit = false;
  bool OriginalBit = false;
  uint8_t EmphasisID = 0;   // 0 none, 1 50/15 ms, 2 reserved, 3 CCITT J.17
};

// Encoder guesses (EncoderID).
enum : uint8_t {
  MPEG_ENCODER_UNKNOWN = 0,
  MPEG_ENCODER_XING = 1,
  MPEG_ENCODER_FHG = 2,
  MPEG_ENCODER_LAME = 3,
  MPEG_ENCODER_BLADE = 4,
  MPEG_ENCODER_GOGO = 5,
  MPEG_ENCODER_SHINE = 6,
  MPEG_ENCODER_QDESIGN = 7,
};

// Size of one search window; frames are looked for at offsets 0..1729.
inline constexpr int kMPEGWindowSize = 3458;
inline constexpr int kMPEGLastCandidate = kMPEGWindowSize / 2;

// True when the four bytes form a frame header this reader accepts
// (free-format streams and reserved emphasis are refused).
bool IsMPEGFrameHeader(const uint8_t* b);
// The header decoded, with its frame length in Size (Found left false).
FrameData DecodeMPEGFrameHeader(const uint8_t* b);
// Searches the first `length` bytes of a window. Returns the frame found
// (Found false when none) and fills *vbr from its Xing/VBRI header when one
// is found. Only bytes below `length` are ever read; the window may be any
// size, candidates are taken at 0..min(1729, length - 4).
FrameData FindMPEGFrame(const uint8_t* window, int length, VBRData* vbr);
// What a search that finds no frame gives: the fields at their "unknown"
// values (version and emphasis reserved, mode and extension 4, sample-rate
// index 3).
FrameData NoMPEGFrame();

// What the search of a file found; the defaults are those of a file
// without a frame.
struct MPEGRecord {
  int32_t FileLength = 0;  // the file's size, held to the 32-bit range
  VBRData VBR;
  FrameData Frame = NoMPEGFrame();
};
// Searches the windows of a file. False when the file's size or a window
// cannot be read; when no frame is found the record is at its defaults.
bool ParseMPEG(const bytes::ByteSource& file, MPEGRecord& stream);

class TMPEGaudio {
 public:
  TMPEGaudio() { ResetData(); }
  virtual ~TMPEGaudio() = default;

  void ResetData();
  // True when the file could be opened and read through the search; whether
  // a frame was found is Frame().Found / Valid().
  bool ReadFromFile(const std::u16string& FileName);
  // The same over bytes already at hand.
  bool ReadFromSource(const bytes::ByteSource& Source);

  int32_t FileLength() const { return F.FileLength; }
  const VBRData& VBR() const { return F.VBR; }
  const FrameData& Frame() const { return F.Frame; }
  TID3v1& ID3v1() { return FID3v1; }
  TID3v2& ID3v2() { return FID3v2; }
  const TID3v1& ID3v1() const { return FID3v1; }
  const TID3v2& ID3v2() const { return FID3v2; }

  AnsiString Version() const;
  AnsiString Layer() const;
  uint16_t BitRate() const;     // kbit/s
  uint16_t SampleRate() const;  // Hz
  AnsiString ChannelMode() const;
  AnsiString Emphasis() const;
  int32_t Frames() const;
  double Duration() const;      // seconds
  uint8_t EncoderID() const;
  AnsiString Encoder() const;
  bool Valid() const;

 private:
  // The file's size less a leading ID3v2 and a trailing ID3v1 tag, as far as
  // the owned readers know them at the moment of asking.
  int64_t StreamSize() const;

  MPEGRecord F;
  TID3v1 FID3v1;
  TID3v2 FID3v2;
};

}  // namespace ordana
