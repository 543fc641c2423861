#include "support/OggBuilder.h"

#include <algorithm>

#include "support/TestFiles.h"
#include "tags/OggVorbis.h"

namespace ordana::test {

std::vector<uint8_t> Lace(size_t n) {
  std::vector<uint8_t> v(n / 255, 255);
  v.push_back(static_cast<uint8_t>(n % 255));
  return v;
}

std::string OggPage(uint8_t flags, int64_t granule, uint32_t serial, uint32_t sequence,
                    const std::vector<uint8_t>& lacing, const std::string& body) {
  std::string h = "OggS" + Bytes({0, flags}) + LE64(static_cast<uint64_t>(granule)) + LE32(serial) +
                  LE32(sequence) + LE32(0) + Bytes({static_cast<int>(lacing.size())});
  for (uint8_t v : lacing) h += static_cast<char>(v);
  uint32_t crc = OggPageCrc(h.data(), h.size());
  crc = OggPageCrc(body.data(), body.size(), crc);
  h.replace(22, 4, LE32(crc));
  return h + body;
}

std::string VorbisIdentification(int channels, uint32_t rate, uint32_t nominal) {
  return "\x01vorbis" + LE32(0) + Bytes({channels}) + LE32(rate) + LE32(0) + LE32(nominal) +
         LE32(0) + Bytes({0xB8, 1});
}

std::string VorbisComments(const std::string& vendor, const std::vector<std::string>& comments) {
  std::string s = "\x03vorbis" + LE32(static_cast<uint32_t>(vendor.size())) + vendor +
                  LE32(static_cast<uint32_t>(comments.size()));
  for (const auto& c : comments) s += LE32(static_cast<uint32_t>(c.size())) + c;
  return s + Bytes({1});
}

std::string MakeOggFile(const OggFileLayout& layout) {
  const uint32_t serial = 0x1234;
  std::string out = layout.prefix;
  out += OggPage(2, 0, serial, 0, {30},
                 VorbisIdentification(layout.channels, layout.sampleRate, layout.nominalBitRate));
  const std::string tag = VorbisComments(layout.vendor, layout.comments);
  std::string setup = "\x05vorbis" + std::string(layout.setupSize > 7 ? layout.setupSize - 7 : 0, 'S');
  std::vector<uint8_t> lacing = Lace(tag.size());
  for (uint8_t v : Lace(setup.size())) lacing.push_back(v);
  // The two packets fill as many pages of up to 255 segments as they need;
  // a page that begins inside a packet carries the continuation flag.
  const std::string body = tag + setup;
  size_t at = 0;
  uint32_t sequence = 1;
  bool continued = false;
  for (size_t first = 0; first < lacing.size(); first += 255) {
    const std::vector<uint8_t> part(lacing.begin() + first,
                                    lacing.begin() + std::min(lacing.size(), first + 255));
    size_t n = 0;
    for (uint8_t v : part) n += v;
    out += OggPage(continued ? 1 : 0, 0, serial, sequence++, part, body.substr(at, n));
    at += n;
    continued = part.back() == 255;
  }
  const std::string last = OggPage(4, layout.lastGranule, serial, sequence, {255, 216}, std::string(471, 'A'));
  if (layout.totalSize > out.size() + last.size()) out += Zeros(layout.totalSize - out.size() - last.size());
  return out + last;
}

}  // namespace ordana::test
