// Fuzzes TMPEGaudio: the frame search straight over the input buffer (so
// AddressSanitizer sees any read past the bytes given), then the reader on
// the input in memory (spans of it, then copies as from a file), with and
// without the owned tag readers filled, and every derived value.
#include "tags/MPEGaudio.h"

#include <cmath>

#include "FuzzInput.h"

namespace {

using ordana::fuzz::Check;

void CheckDerived(const ordana::TMPEGaudio& m, size_t fileSize) {
  const ordana::FrameData& f = m.Frame();
  if (!f.Found) {
    Check(m.FileLength() == 0 && m.BitRate() == 0 && m.SampleRate() == 0 && !m.Valid() &&
              m.Duration() == 0 && m.ChannelMode() == "Unknown",
          "a file without a frame must leave the reset state");
    return;
  }
  Check(m.FileLength() == int64_t(fileSize), "file length");
  Check(f.Position >= 0 && f.Position <= ordana::kMPEGLastCandidate, "frame position");
  // The following header was read too, so it lies inside the file.
  Check(f.Position + f.Size + 4 <= int64_t(fileSize), "frame accepted on bytes not read");
  Check(m.SampleRate() > 0, "sample rate of a found frame");
  Check(!std::isnan(m.Duration()), "duration");
  (void)m.Frames();
  (void)m.Version(), (void)m.Layer(), (void)m.Emphasis(), (void)m.Encoder();
  Check(m.EncoderID() <= ordana::MPEG_ENCODER_QDESIGN, "encoder id");
  if (m.Valid()) Check(m.BitRate() >= 8 && m.BitRate() <= 448 && m.Duration() >= 0.1, "validity");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int length = size > size_t(ordana::kMPEGWindowSize) ? ordana::kMPEGWindowSize : int(size);
  ordana::VBRData vbr;
  const ordana::FrameData direct = ordana::FindMPEGFrame(data, length, &vbr);
  if (direct.Found) Check(direct.Position + direct.Size + 4 <= length, "probe outside the window");

  const ordana::fuzz::InputSources in(data, size);
  ordana::TMPEGaudio mpeg;
  Check(mpeg.ReadFromSource(in.Memory()), "a readable file must read");
  CheckDerived(mpeg, size);
  if (size < size_t(ordana::kMPEGWindowSize))  // one window, holding every byte
    Check(mpeg.Frame().Found == direct.Found && mpeg.Frame().Position == direct.Position,
          "the file search differs from the window search");
  // The stream size counts the tags once a caller has read them.
  mpeg.ID3v1().ReadFromSource(in.Memory());
  mpeg.ID3v2().ReadFromSource(in.Memory());
  (void)mpeg.Frames(), (void)mpeg.Duration(), (void)mpeg.Valid();
  // A second read starts from a used object and must find the same frame.
  const ordana::FrameData first = mpeg.Frame();
  Check(mpeg.ReadFromSource(in.Copied()), "a readable file must read");
  CheckDerived(mpeg, size);
  Check(mpeg.Frame().Found == first.Found && mpeg.Frame().Position == first.Position,
        "memory and copied reads differ");
  return 0;
}
