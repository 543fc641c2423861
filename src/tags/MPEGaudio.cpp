#include "tags/MPEGaudio.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/FileIO.h"

namespace ordana {

namespace {

// Bit rates in kbit/s by VersionID, LayerID and BitRateID.
constexpr uint16_t kMPEG1L1[16] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0};
constexpr uint16_t kMPEG1L2[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
constexpr uint16_t kMPEG1L3[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr uint16_t kMPEG2L1[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0};
constexpr uint16_t kMPEG2L23[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr uint16_t kNone[16] = {};

const uint16_t* BitRateRow(uint8_t version, uint8_t layer) {
  if (version == 1 || layer == 0 || version > 3 || layer > 3) return kNone;
  if (version == 3) return layer == 3 ? kMPEG1L1 : layer == 2 ? kMPEG1L2 : kMPEG1L3;
  return layer == 3 ? kMPEG2L1 : kMPEG2L23;
}

uint16_t TableBitRate(const FrameData& f) {
  return f.BitRateID < 16 ? BitRateRow(f.VersionID, f.LayerID)[f.BitRateID] : 0;
}

uint16_t TableSampleRate(const FrameData& f) {
  static constexpr uint16_t kRates[4][3] = {
      {11025, 12000, 8000},   // MPEG 2.5
      {0, 0, 0},              // reserved
      {22050, 24000, 16000},  // MPEG 2
      {44100, 48000, 32000},  // MPEG 1
  };
  if (f.VersionID > 3 || f.SampleRateID > 2) return 0;
  return kRates[f.VersionID][f.SampleRateID];
}

// One eighth of the samples per frame.
int Coefficient(const FrameData& f) {
  if (f.LayerID == 3) return 48;
  if (f.VersionID == 3 && (f.LayerID == 2 || f.LayerID == 1)) return 144;
  if ((f.VersionID == 2 || f.VersionID == 0) && f.LayerID == 2) return 144;
  return 72;
}

int Padding(const FrameData& f) {
  if (!f.PaddingBit) return 0;
  return f.LayerID == 3 ? 4 : 1;
}

uint16_t FrameLength(const FrameData& f) {
  const uint16_t rate = TableSampleRate(f);
  if (rate == 0) return 0;
  const double bytes = double(Coefficient(f)) * TableBitRate(f) * 1000.0 / rate;
  return static_cast<uint16_t>(static_cast<int>(bytes) + Padding(f));
}

int XingOffset(const FrameData& f) {
  const bool mono = f.ModeID == 3;
  if (f.VersionID == 3) return mono ? 21 : 36;
  return mono ? 13 : 21;
}

int32_t BE32At(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                              (uint32_t{p[2]} << 8) | uint32_t{p[3]});
}

bool Matches(const uint8_t* p, const char (&text)[5]) {
  return std::equal(p, p + 4, reinterpret_cast<const uint8_t*>(text));
}

// The byte at `at` when it was read, else 0.
uint8_t ByteOr0(const uint8_t* w, int length, int at) { return at < length ? w[at] : 0; }

int32_t BE32Or0(const uint8_t* w, int length, int at) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = ByteOr0(w, length, at + i);
  return BE32At(b);
}

// The Xing/VBRI header of the frame at `pos`. Its mark must have been read;
// fields that lie beyond the bytes read count as zero.
VBRData ReadVBRHeader(const uint8_t* w, int length, int pos, const FrameData& f) {
  VBRData vbr;
  const int t = pos + XingOffset(f);
  if (t + 4 > length) return vbr;
  if (Matches(w + t, "Xing")) {
    vbr.Found = true;
    vbr.ID = u"Xing";
    vbr.Frames = BE32Or0(w, length, t + 8);
    vbr.Bytes = BE32Or0(w, length, t + 12);
    vbr.Scale = ByteOr0(w, length, t + 119);
    for (int i = 0; i < 8; ++i) vbr.VendorID.push_back(static_cast<char>(ByteOr0(w, length, t + 120 + i)));
  } else if (Matches(w + t, "VBRI")) {
    vbr.Found = true;
    vbr.ID = u"VBRI";
    vbr.Scale = ByteOr0(w, length, t + 9);
    vbr.Bytes = BE32Or0(w, length, t + 10);
    vbr.Frames = BE32Or0(w, length, t + 14);
  }
  return vbr;
}

void ResetFrame(FrameData& f) {
  f = FrameData{};
  f.VersionID = 1;
  f.SampleRateID = 3;
  f.ModeID = 4;
  f.ModeExtensionID = 4;
  f.EmphasisID = 2;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsMPEGFrameHeader(const uint8_t* b) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
  const int version = (b[1] >> 3) & 3, layer = (b[1] >> 1) & 3;
  const int bitRate = b[2] >> 4, sampleRate = (b[2] >> 2) & 3, emphasis = b[3] & 3;
  return version != 1 && layer != 0 && bitRate != 15 && bitRate != 0 && sampleRate != 3 &&
         emphasis != 2;
}

FrameData DecodeMPEGFrameHeader(const uint8_t* b) {
  FrameData f;
  std::copy(b, b + 4, f.Data.begin());
  f.VersionID = (b[1] >> 3) & 3;
  f.LayerID = (b[1] >> 1) & 3;
  f.ProtectionBit = (b[1] & 1) == 0;
  f.BitRateID = b[2] >> 4;
  f.SampleRateID = (b[2] >> 2) & 3;
  f.PaddingBit = (b[2] & 2) != 0;
  f.PrivateBit = (b[2] & 1) != 0;
  f.ModeID = b[3] >> 6;
  f.ModeExtensionID = (b[3] >> 4) & 3;
  f.CopyrightBit = (b[3] & 8) != 0;
  f.OriginalBit = (b[3] & 4) != 0;
  f.EmphasisID = b[3] & 3;
  f.Size = FrameLength(f);
  return f;
}

FrameData FindMPEGFrame(const uint8_t* w, int length, VBRData* vbr) {
  for (int pos = 0; pos <= kMPEGLastCandidate && pos + 4 <= length; ++pos) {
    if (!IsMPEGFrameHeader(w + pos)) continue;
    FrameData f = DecodeMPEGFrameHeader(w + pos);
    // The following header must lie wholly inside the bytes read.
    const int next = pos + f.Size;
    if (f.Size == 0 || next + 4 > length || !IsMPEGFrameHeader(w + next)) continue;
    f.Found = true;
    f.Position = pos;
    f.Xing = std::all_of(w + pos + 4, w + pos + 10, [](uint8_t c) { return c == 0; });
    if (vbr) *vbr = ReadVBRHeader(w, length, pos, f);
    return f;
  }
  FrameData none;
  ResetFrame(none);
  return none;
}

void TMPEGaudio::ResetData() {
  FFileLength = 0;
  FVBR = VBRData{};
  ResetFrame(FFrame);
  FID3v1.ResetData();
  FID3v2.ResetData();
}

bool TMPEGaudio::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  bool result = false;
  [&] {
    InputFile file = InputFile::Open(FileName);
    if (!file) return;
    const int64_t size = file.Size();
    if (size < 0) return;
    // Lengths beyond the 32-bit range are kept at its maximum rather than
    // wrapping to a negative or small number.
    FFileLength = static_cast<int32_t>(std::min<int64_t>(size, std::numeric_limits<int32_t>::max()));

    // Reads a window at `offset` and searches it; false on an I/O error.
    auto searchWindow = [&](int64_t offset, int64_t* got) {
      std::array<uint8_t, kMPEGWindowSize> window{};
      *got = 0;
      if (!file.Seek(offset)) return false;
      int64_t total = 0;
      while (total < kMPEGWindowSize) {
        const int64_t n = file.Read(window.data() + total, window.size() - total);
        if (n < 0) return false;
        if (n == 0) break;
        total += n;
      }
      *got = total;
      VBRData vbr;
      FFrame = FindMPEGFrame(window.data(), static_cast<int>(total), &vbr);
      if (FFrame.Found) FVBR = vbr;
      return true;
    };

    int64_t got = 0;
    if (!searchWindow(FID3v2.Size(), &got)) return;
    if (!FFrame.Found && got == kMPEGWindowSize) {
      if (!searchWindow((size - FID3v2.Size()) / 2, &got)) return;
    }
    result = true;
  }();
  if (!FFrame.Found) ResetData();
  return result;
}

int64_t TMPEGaudio::StreamSize() const {
  return int64_t{FFileLength} - FID3v2.Size() - (FID3v1.Exists() ? 128 : 0);
}

AnsiString TMPEGaudio::Version() const {
  static const char* const kTexts[4] = {"MPEG 2.5", "MPEG ?", "MPEG 2", "MPEG 1"};
  return FFrame.VersionID < 4 ? kTexts[FFrame.VersionID] : "MPEG ?";
}

AnsiString TMPEGaudio::Layer() const {
  static const char* const kTexts[4] = {"Layer ?", "Layer III", "Layer II", "Layer I"};
  return FFrame.LayerID < 4 ? kTexts[FFrame.LayerID] : "Layer ?";
}

AnsiString TMPEGaudio::ChannelMode() const {
  static const char* const kTexts[5] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"};
  return FFrame.ModeID < 5 ? kTexts[FFrame.ModeID] : "Unknown";
}

AnsiString TMPEGaudio::Emphasis() const {
  static const char* const kTexts[4] = {"None", "50/15 ms", "Unknown", "CCIT J.17"};
  return FFrame.EmphasisID < 4 ? kTexts[FFrame.EmphasisID] : "Unknown";
}

uint16_t TMPEGaudio::BitRate() const {
  if (FVBR.Found && FVBR.Frames > 0) {
    const double rate = (double(FVBR.Bytes) / FVBR.Frames - Padding(FFrame)) *
                        TableSampleRate(FFrame) / Coefficient(FFrame) / 1000.0;
    // A header that states nonsense (negative byte counts, say) must not
    // wrap into a plausible value: the result is held to the 16-bit range.
    const double rounded = std::nearbyint(rate);
    if (!(rounded > 0)) return 0;
    if (rounded > 65535) return 65535;
    return static_cast<uint16_t>(rounded);
  }
  return TableBitRate(FFrame);
}

uint16_t TMPEGaudio::SampleRate() const { return TableSampleRate(FFrame); }

int32_t TMPEGaudio::Frames() const {
  if (FVBR.Found) return FVBR.Frames;
  if (!FFrame.Found || FFrame.Size == 0) return 0;
  return static_cast<int32_t>((StreamSize() - FFrame.Position) / FFrame.Size);
}

double TMPEGaudio::Duration() const {
  if (!FFrame.Found) return 0;
  const uint16_t rate = TableSampleRate(FFrame);
  if (FVBR.Found && FVBR.Frames > 0)
    return rate ? double(Coefficient(FFrame)) * FVBR.Frames * 8 / rate : 0;
  const uint16_t bitRate = TableBitRate(FFrame);
  if (bitRate == 0) return 0;
  return double(StreamSize() - FFrame.Position) / bitRate / 1000.0 * 8;
}

uint8_t TMPEGaudio::EncoderID() const {
  if (!FFrame.Found) return MPEG_ENCODER_UNKNOWN;
  if (FVBR.Found) {
    const std::string_view vendor = std::string_view(FVBR.VendorID).substr(0, 4);
    if (FVBR.ID == u"VBRI") return MPEG_ENCODER_FHG;
    if (vendor == "LAME") return MPEG_ENCODER_LAME;
    if (vendor == "GOGO" || vendor == "MPGE") return MPEG_ENCODER_GOGO;
    if (FVBR.ID == u"Xing") return MPEG_ENCODER_XING;
    return MPEG_ENCODER_UNKNOWN;
  }
  const FrameData& f = FFrame;
  uint8_t id = MPEG_ENCODER_FHG;
  if (f.OriginalBit && f.ProtectionBit) id = MPEG_ENCODER_LAME;
  if (TableBitRate(f) <= 160 && f.ModeID == 0) id = MPEG_ENCODER_BLADE;
  if (f.CopyrightBit && f.OriginalBit && !f.ProtectionBit) id = MPEG_ENCODER_XING;
  if (f.Xing && f.OriginalBit) id = MPEG_ENCODER_XING;
  if (f.LayerID == 2) id = MPEG_ENCODER_QDESIGN;
  if (f.ModeID == 2 && f.ProtectionBit) id = MPEG_ENCODER_SHINE;
  return id;
}

AnsiString TMPEGaudio::Encoder() const {
  static const char* const kNames[8] = {"Unknown", "Xing", "FhG", "LAME", "Blade", "GoGo", "Shine", "QDesign"};
  const uint8_t id = EncoderID();
  AnsiString name = id < 8 ? kNames[id] : kNames[0];
  const AnsiString& v = FVBR.VendorID;
  if (id == MPEG_ENCODER_LAME && v.size() >= 8 && IsDigit(v[4]) && v[5] == '.' && IsDigit(v[6]) &&
      IsDigit(v[7]))
    name += " " + v.substr(4, 4);
  return name;
}

bool TMPEGaudio::Valid() const {
  const uint16_t rate = BitRate();
  return FFrame.Found && rate >= 8 && rate <= 448 && Duration() >= 0.1;
}

}  // namespace ordana
