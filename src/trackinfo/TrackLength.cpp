#include "trackinfo/TrackLength.h"

#include <cmath>
#include <limits>

#include "platform/FileIO.h"
#include "platform/MediaProbe.h"
#include "platform/Strings.h"
#include "trackinfo/StatedLength.h"

namespace ordana {

const std::vector<std::u16string>& VideoExtensions() {
  static const std::vector<std::u16string> list{u"3gp", u"avi", u"divx", u"flv", u"mkv", u"mov",
                                                u"mpeg", u"mpg", u"vob", u"wmv", u"mp4"};
  return list;
}

const std::u16string& VideoExtensionsText() {
  static const std::u16string text = [] {
    std::u16string t;
    for (const auto& e : VideoExtensions()) t += e + u"\r\n";
    return t;
  }();
  return text;
}

namespace {
// From the last '.' after the last path delimiter or drive colon to the end,
// the dot included; empty when there is no such '.'.
std::u16string ExtractFileExt(const std::u16string& name) {
  const size_t i = name.find_last_of(u".\\/:");
  if (i == std::u16string::npos || name[i] != u'.') return {};
  return name.substr(i);
}
}  // namespace

bool IsVideoFile(const std::u16string& FileName) {
  std::u16string ext = LowerCase(ExtractFileExt(FileName));
  if (ext.size() < 2) return false;
  return VideoExtensionsText().find(std::u16string_view(ext).substr(1)) != std::u16string::npos;
}

int64_t AudioSecondsToMs(double seconds) {
  if (!(seconds > 0) || seconds > std::numeric_limits<float>::max()) return 0;
  const double product = static_cast<double>(static_cast<float>(seconds)) * 1000.0;  // exact
  if (!(product < 0x1p63)) return 0;
  return static_cast<int64_t>(product);
}

int64_t ExactSecondsToMs(double seconds) {
  if (!std::isfinite(seconds) || seconds == 0) return 0;
  // |seconds| = mantissa * 2^shift with an integer mantissa below 2^53; the
  // product with 1000 then stays below 2^63 and the shift truncates exactly.
  int exp = 0;
  const double fraction = std::frexp(std::fabs(seconds), &exp);
  const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  const int shift = exp - 53;
  const uint64_t product = mantissa * 1000;
  uint64_t ms = 0;
  if (shift >= 0) {
    if (shift >= 63 || (product >> (63 - shift)) != 0) return 0;  // beyond 64 bits
    ms = product << shift;
  } else {
    ms = -shift >= 64 ? 0 : product >> -shift;
  }
  return seconds < 0 ? -static_cast<int64_t>(ms) : static_cast<int64_t>(ms);
}

namespace {
// Only local files are opened; an address never is.
InputFile OpenLocal(const std::u16string& FileName) {
  return LooksLikeAddress(FileName) ? InputFile() : InputFile::Open(FileName);
}

int64_t MediaDetLength(const InputFile& file, const std::u16string& FileName) {
  if (auto seconds = ProbeStreamSeconds(file, FileName, 0)) return ExactSecondsToMs(*seconds);
  return 0;
}
}  // namespace

int64_t MediaDetLength(const std::u16string& FileName) {
  try {
    const InputFile file = OpenLocal(FileName);
    if (!Mp4ClaimsMoreThanItHolds(file)) return MediaDetLength(file, FileName);
  } catch (...) {
  }
  return 0;
}

bool IsStreamUrl(const std::u16string& Text) {
  const std::u16string t = LowerCase(Text);
  return t.starts_with(u"http://") || t.starts_with(u"ftp://") || t.starts_with(u"mms://");
}

int32_t StreamUrlMinutes(const std::u16string& Text) {
  const size_t blank = Text.find(u' ');
  if (blank == std::u16string::npos) return 0;
  const int64_t minutes = StrToIntDef(Trim(std::u16string_view(Text).substr(blank)), 0);
  // Two 32-bit multiplications wrap exactly like one by 60000 modulo 2^32.
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(minutes * 60 * 1000)));
}

uint32_t GetTrackLength(const std::u16string& FileName) {
  try {
    // The file is opened once for all the steps that read it.
    const InputFile file = OpenLocal(FileName);
    return GetTrackLengthOf(file, FileName);
  } catch (...) {
    return 0;
  }
}

uint32_t GetTrackLengthOf(const InputFile& File, const std::u16string& FileName) {
  int64_t length = 0;
  try {
    static const InputFile kNotOpen;
    const InputFile& file = LooksLikeAddress(FileName) ? kNotOpen : File;
    if (IsVideoFile(FileName)) {
      if (!Mp4ClaimsMoreThanItHolds(file)) {
        length = MediaDetLength(file, FileName);
        if (length == 0) {
          if (auto units = ProbeContainerDuration(file, FileName)) length = HundredNsToMs(*units);
        }
      }
    } else {
      bool measured = false;
      if (file) {
        // The file states its exact length itself (or cannot have the one it claims).
        if (const StatedLength stated = StatedAudioLength(file, FileName);
            stated.kind != StatedLength::Kind::kNotStated) {
          length = AudioSecondsToMs(stated.seconds);
          measured = true;
        } else if (Mp4ClaimsMoreThanItHolds(file)) {
          measured = true;
        } else if (auto audio = ProbeAudioLength(file, FileName)) {
          length = AudioSecondsToMs(audio->Seconds);
          measured = true;
        }
      }
      if (!measured && IsStreamUrl(FileName)) length = StreamUrlMinutes(FileName);
    }
  } catch (...) {
    length = 0;  // the probe reports no failure, only a missing length
  }
  return static_cast<uint32_t>(length);
}

namespace {
// The same choice as GetTrackLength makes for the audio path.
bool GoesToTheProbe(const std::u16string& FileName) {
  return MediaProbeAvailable() && !IsVideoFile(FileName) && !HasStatedLengthParser(FileName);
}
}  // namespace

void AnnounceTrackLength(const std::u16string& FileName) {
  try {
    if (!GoesToTheProbe(FileName)) return;
    InputFile file = OpenLocal(FileName);
    if (!file || Mp4ClaimsMoreThanItHolds(file)) return;
    QueueAudioLength(std::move(file), FileName);
  } catch (...) {
  }
}

void AnnounceTrackLengthOf(const InputFile& File, const std::u16string& FileName) {
  try {
    if (!File || LooksLikeAddress(FileName) || !GoesToTheProbe(FileName) || Mp4ClaimsMoreThanItHolds(File)) return;
    QueueAudioLength(File.Duplicate(), FileName);
  } catch (...) {
  }
}

}  // namespace ordana
