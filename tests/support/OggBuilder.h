#pragma once
// Builds small Ogg Vorbis files byte by byte for the reader and writer
// tests: an identification page, a second page with the comment header and
// a stand-in setup header (continued on further pages when they need more
// than 255 segments), filler, and a last page with a chosen granule.
#include <cstdint>
#include <string>
#include <vector>

namespace ordana::test {

struct OggFileLayout {
  std::string prefix{};  // bytes before the first page (an ID3v2 tag, say)
  int channels = 2;
  uint32_t sampleRate = 44100;
  uint32_t nominalBitRate = 128000;
  std::string vendor = "Test vendor 1.0";
  std::vector<std::string> comments{};  // "NAME=value" as stored
  int64_t lastGranule = 441000;       // granule position of the last page
  size_t setupSize = 300;             // the packet after the comment header
  size_t totalSize = 0;               // pad to this size (0: no padding)
};

// The lacing values of one packet of n bytes.
std::vector<uint8_t> Lace(size_t n);
// A page with its checksum; lacing and body as given.
std::string OggPage(uint8_t flags, int64_t granule, uint32_t serial, uint32_t sequence,
                    const std::vector<uint8_t>& lacing, const std::string& body);
std::string VorbisIdentification(int channels, uint32_t rate, uint32_t nominal);
// 0x03 "vorbis", vendor, count, comments; framing byte 1 at the end.
std::string VorbisComments(const std::string& vendor, const std::vector<std::string>& comments);
std::string MakeOggFile(const OggFileLayout& layout);

}  // namespace ordana::test
