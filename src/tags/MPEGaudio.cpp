#include "tags/MPEGaudio.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tags/FileSource.h"

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

// The Xing/VBRI header of the frame at `pos`. Its mark must have been read;
// fields that lie beyond the bytes read count as zero.
VBRData ReadVBRHeader(const bytes::ByteReader& window, int pos, const FrameData& f) {
  VBRData vbr;
  bytes::ByteReader at = window.At(static_cast<size_t>(pos + XingOffset(f)));
  if (!at.Has(4)) return vbr;
  uint8_t fields[128] = {};
  at.CopyTo(fields, std::min(sizeof fields, at.Remaining()));
  bytes::ByteReader h(fields, sizeof fields);
  // The Xing fields are taken at fixed offsets whatever its flags say, as the playout program does.
  if (h.Match("Xing")) {
    vbr.Found = true;
    vbr.ID = u"Xing";
    h.Skip(4);  // the flags
    vbr.Frames = static_cast<int32_t>(h.U32BE());
    vbr.Bytes = static_cast<int32_t>(h.U32BE());
    vbr.Scale = h.At(119).U8();
    vbr.VendorID = AnsiString(h.At(120).Chars(8));
  } else if (h.Match("VBRI")) {
    vbr.Found = true;
    vbr.ID = u"VBRI";
    vbr.Scale = h.At(9).U8();
    vbr.Bytes = static_cast<int32_t>(h.At(10).U32BE());
    vbr.Frames = static_cast<int32_t>(h.At(14).U32BE());
  }
  return vbr;
}

}  // namespace

FrameData NoMPEGFrame() {
  FrameData f;
  f.VersionID = 1;
  f.SampleRateID = 3;
  f.ModeID = 4;
  f.ModeExtensionID = 4;
  f.EmphasisID = 2;
  return f;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// Free-format streams (bit-rate index 0) are not recognised, as in the playout program.
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
    // The following header must lie wholly inside the bytes read; its fields
    // are not compared with this one's (one check, as the playout program makes).
    const int next = pos + f.Size;
    if (f.Size == 0 || next + 4 > length || !IsMPEGFrameHeader(w + next)) continue;
    f.Found = true;
    f.Position = pos;
    f.Xing = std::all_of(w + pos + 4, w + pos + 10, [](uint8_t c) { return c == 0; });
    if (vbr) *vbr = ReadVBRHeader(bytes::ByteReader(w, static_cast<size_t>(length)), pos, f);
    return f;
  }
  return NoMPEGFrame();
}

bool ParseMPEG(const bytes::ByteSource& file, MPEGRecord& stream) {
  stream = MPEGRecord{};
  const int64_t size = file.Size();
  if (size < 0) return false;
  // Lengths beyond the 32-bit range are kept at its maximum rather than
  // wrapping to a negative or small number.
  stream.FileLength = static_cast<int32_t>(std::min<int64_t>(size, std::numeric_limits<int32_t>::max()));

  // Searches the window at `offset`; false when it cannot be read.
  bytes::SourceWindow source(file, 0);
  int64_t got = 0;
  auto searchWindow = [&](int64_t offset) {
    const bytes::ByteReader window = source.GetUpTo(offset, kMPEGWindowSize);
    if (!window.Ok()) return false;
    got = static_cast<int64_t>(window.Size());
    VBRData vbr;
    stream.Frame = FindMPEGFrame(window.All().data(), static_cast<int>(got), &vbr);
    if (stream.Frame.Found) stream.VBR = vbr;
    return true;
  };
  // The first window is the file's start, a leading ID3v2 tag included:
  // the frame search passes over a short tag, and the second window, at
  // half the file, finds the audio behind a long one.
  bool result = searchWindow(0);
  if (result && !stream.Frame.Found && got == kMPEGWindowSize) result = searchWindow(size / 2);
  if (!stream.Frame.Found) stream = MPEGRecord{};
  return result;
}

void TMPEGaudio::ResetData() {
  F = MPEGRecord{};
  FID3v1.ResetData();
  FID3v2.ResetData();
}

bool TMPEGaudio::ReadFromFile(const std::u16string& FileName) {
  ResetData();
  return ParseFile(FileName, [&](const bytes::ByteSource& s) { return ReadFromSource(s); });
}

bool TMPEGaudio::ReadFromSource(const bytes::ByteSource& Source) {
  ResetData();
  return ParseMPEG(Source, F);
}

int64_t TMPEGaudio::StreamSize() const {
  return int64_t{F.FileLength} - FID3v2.Size() - (FID3v1.Exists() ? 128 : 0);
}

AnsiString TMPEGaudio::Version() const {
  static const char* const kTexts[4] = {"MPEG 2.5", "MPEG ?", "MPEG 2", "MPEG 1"};
  return AnsiString(F.Frame.VersionID < 4 ? kTexts[F.Frame.VersionID] : "MPEG ?");
}

AnsiString TMPEGaudio::Layer() const {
  static const char* const kTexts[4] = {"Layer ?", "Layer III", "Layer II", "Layer I"};
  return AnsiString(F.Frame.LayerID < 4 ? kTexts[F.Frame.LayerID] : "Layer ?");
}

AnsiString TMPEGaudio::ChannelMode() const {
  static const char* const kTexts[5] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"};
  return AnsiString(F.Frame.ModeID < 5 ? kTexts[F.Frame.ModeID] : "Unknown");
}

AnsiString TMPEGaudio::Emphasis() const {
  static const char* const kTexts[4] = {"None", "50/15 ms", "Unknown", "CCIT J.17"};
  return AnsiString(F.Frame.EmphasisID < 4 ? kTexts[F.Frame.EmphasisID] : "Unknown");
}

uint16_t TMPEGaudio::BitRate() const {
  if (F.VBR.Found && F.VBR.Frames > 0) {
    const double rate = (double(F.VBR.Bytes) / F.VBR.Frames - Padding(F.Frame)) *
                        TableSampleRate(F.Frame) / Coefficient(F.Frame) / 1000.0;
    // A header that states nonsense (negative byte counts, say) must not
    // wrap into a plausible value: the result is held to the 16-bit range.
    const double rounded = std::nearbyint(rate);
    if (!(rounded > 0)) return 0;
    if (rounded > 65535) return 65535;
    return static_cast<uint16_t>(rounded);
  }
  return TableBitRate(F.Frame);
}

uint16_t TMPEGaudio::SampleRate() const { return TableSampleRate(F.Frame); }

int32_t TMPEGaudio::Frames() const {
  if (F.VBR.Found) return F.VBR.Frames;
  if (!F.Frame.Found || F.Frame.Size == 0) return 0;
  return static_cast<int32_t>((StreamSize() - F.Frame.Position) / F.Frame.Size);
}

double TMPEGaudio::Duration() const {
  if (!F.Frame.Found) return 0;
  const uint16_t rate = TableSampleRate(F.Frame);
  if (F.VBR.Found && F.VBR.Frames > 0)
    return rate ? double(Coefficient(F.Frame)) * F.VBR.Frames * 8 / rate : 0;
  const uint16_t bitRate = TableBitRate(F.Frame);
  if (bitRate == 0) return 0;
  return double(StreamSize() - F.Frame.Position) / bitRate / 1000.0 * 8;
}

uint8_t TMPEGaudio::EncoderID() const {
  if (!F.Frame.Found) return MPEG_ENCODER_UNKNOWN;
  if (F.VBR.Found) {
    const std::string_view vendor = F.VBR.VendorID.view().substr(0, 4);
    if (F.VBR.ID == u"VBRI") return MPEG_ENCODER_FHG;
    if (vendor == "LAME") return MPEG_ENCODER_LAME;
    if (vendor == "GOGO" || vendor == "MPGE") return MPEG_ENCODER_GOGO;
    if (F.VBR.ID == u"Xing") return MPEG_ENCODER_XING;
    return MPEG_ENCODER_UNKNOWN;
  }
  const FrameData& f = F.Frame;
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
  std::string name = id < 8 ? kNames[id] : kNames[0];
  const std::string_view v = F.VBR.VendorID.view();
  if (id == MPEG_ENCODER_LAME && v.size() >= 8 && IsDigit(v[4]) && v[5] == '.' && IsDigit(v[6]) &&
      IsDigit(v[7]))
    name.append(" ").append(v.substr(4, 4));
  return AnsiString(std::move(name));
}

bool TMPEGaudio::Valid() const {
  const uint16_t rate = BitRate();
  return F.Frame.Found && rate >= 8 && rate <= 448 && Duration() >= 0.1;
}

}  // namespace ordana
