#include "trackinfo/StatedLength.h"

#include <algorithm>

#include "platform/FileIO.h"
#include "platform/MediaProbe.h"
#include "platform/Strings.h"
#include "tags/FileSource.h"

namespace ordana {

namespace length {

int64_t LeadingId3v2Size(Window& w) {
  int64_t start = 0;
  for (int n = 0; n < 4; ++n) {
    Reader h = w.Get(start, 10);
    if (!h.StartsWith("ID3")) break;
    h.Skip(3);
    const uint8_t major = h.U8(), minor = h.U8(), flags = h.U8();
    const uint32_t s0 = h.U8(), s1 = h.U8(), s2 = h.U8(), s3 = h.U8();
    if (major == 0xFF || minor == 0xFF || ((s0 | s1 | s2 | s3) & 0x80)) break;
    int64_t len = 10 + ((int64_t{s0} << 21) | (int64_t{s1} << 14) | (int64_t{s2} << 7) | s3);
    if (flags & 0x10) len += 10;  // footer
    if (len >= w.Size() - start) break;
    start += len;
  }
  return start;
}

}  // namespace length

StatedLength StatedLength::Samples(int64_t count, int64_t rate) {
  if (count <= 0 || rate <= 0) return NotStated();
  constexpr int64_t kExact = int64_t{1} << 53;
  if (count < kExact && rate < kExact) return {Kind::kSeconds, static_cast<double>(count) / static_cast<double>(rate)};
  return {Kind::kSeconds, static_cast<double>(static_cast<long double>(count) / rate)};
}

namespace {

// From the last '.' after the last path delimiter or drive colon, lower-cased.
std::u16string Extension(std::u16string_view path) {
  const size_t i = path.find_last_of(u".\\/:");
  if (i == std::u16string_view::npos || path[i] != u'.') return {};
  return LowerCase(path.substr(i));
}

}  // namespace

bool Mp4ClaimsMoreThanItHolds(const InputFile& file) { return file && Mp4ClaimsMoreThanItHolds(FileSource(file)); }

StatedLength StatedAudioLength(const std::u16string& path) {
  if (LooksLikeAddress(path)) return StatedLength::NotStated();
  const InputFile file = InputFile::Open(path);
  return StatedAudioLength(file, path);
}

namespace {
using Parser = StatedLength (*)(const length::Source&);
Parser ParserFor(std::u16string_view name) {
  const std::u16string ext = Extension(name);
  if (ext == u".flac") return FlacStatedLength;
  if (ext == u".ogg") return OggVorbisStatedLength;
  if (ext == u".wav") return WavStatedLength;
  if (ext == u".m4a" || ext == u".m4b" || ext == u".m4p") return Mp4AudioStatedLength;
  return nullptr;
}
}  // namespace

bool HasStatedLengthParser(std::u16string_view name) { return ParserFor(name) != nullptr; }

StatedLength StatedAudioLength(const InputFile& file, std::u16string_view name) {
  const Parser parse = ParserFor(name);
  if (!parse || !file) return StatedLength::NotStated();
  return parse(FileSource(file));
}

}  // namespace ordana
