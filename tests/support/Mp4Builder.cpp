#include "support/Mp4Builder.h"

#include "support/TestFiles.h"

namespace ordana::test {

std::string Box(std::string_view type, const std::string& payload) {
  return BE32(static_cast<uint32_t>(8 + payload.size())) + std::string(type) + payload;
}
std::string FullBox(std::string_view type, int version, const std::string& payload) {
  return Box(type, Bytes({version, 0, 0, 0}) + payload);
}

std::string Trak(const Mp4Track& t) {
  const std::string esds = FullBox("esds", 0, Bytes({0x03, 0x19, 0x00, 0x01, 0x00, 0x04, 0x11, t.objectType, 0x15}) +
                                                  Zeros(12) + Bytes({0x05, 0x02, 0x12, 0x10, 0x06, 0x01, 0x02}));
  const std::string entry = Box(t.codec, Zeros(6) + BE16(1) + Zeros(8) + BE16(2) + BE16(16) + Zeros(4) +
                                             BE32(t.timeScale << 16) + esds);
  std::string stts = BE32(static_cast<uint32_t>(t.stts.size()));
  for (auto [count, delta] : t.stts) stts += BE32(count) + BE32(delta);
  std::string stsz = BE32(t.sampleSize) + BE32(t.sampleCount);
  if (t.sampleSize == 0) stsz += std::string(4 * size_t{t.sampleCount}, '\x01');
  std::string stbl = FullBox("stsd", 0, BE32(1) + entry) + FullBox("stts", 0, stts) +
                     FullBox("stsc", 0, BE32(1) + BE32(1) + BE32(t.sampleCount) + BE32(1)) +
                     FullBox("stsz", 0, stsz) + FullBox("stco", 0, BE32(1) + BE32(8));
  if (t.ctts) stbl += FullBox("ctts", 0, BE32(1) + BE32(t.sampleCount) + BE32(0));
  const std::string mdhd =
      t.mdhdVersion == 1
          ? FullBox("mdhd", 1, Zeros(16) + BE32(t.timeScale) + BE32(uint32_t(t.mediaDuration >> 32)) +
                                   BE32(uint32_t(t.mediaDuration)) + Zeros(4))
          : FullBox("mdhd", 0, Zeros(8) + BE32(t.timeScale) + BE32(uint32_t(t.mediaDuration)) + Zeros(4));
  const std::string mdia = Box("mdia", mdhd + FullBox("hdlr", 0, Zeros(4) + t.handler + Zeros(13)) +
                                           Box("minf", Box("stbl", stbl)));
  std::string edts;
  if (!t.edits.empty()) {
    std::string elst = BE32(static_cast<uint32_t>(t.edits.size()));
    for (auto [d, m] : t.edits) elst += BE32(uint32_t(d)) + BE32(uint32_t(m)) + BE32(0x10000);
    edts = Box("edts", FullBox("elst", 0, elst));
  }
  return Box("trak", FullBox("tkhd", 0, Zeros(80)) + edts + mdia);
}

std::string Moov(const std::vector<Mp4Track>& tracks, uint32_t movieScale, const std::string& extra) {
  std::string body = FullBox("mvhd", 0, Zeros(8) + BE32(movieScale) + BE32(0) + Zeros(80));
  for (const auto& t : tracks) body += Trak(t);
  return Box("moov", body + extra);
}
std::string Ftyp() { return Box("ftyp", "M4A " + BE32(0) + "M4A mp42isom"); }

std::string IndexBombMp4() {
  Mp4Track bomb;
  bomb.mdhdVersion = 1;
  bomb.mediaDuration = 89'000'000ull * 1024;
  bomb.stts = {{89'000'000, 1024}};
  bomb.sampleSize = 200;
  bomb.sampleCount = 89'000'000;
  std::string file = Ftyp() + Moov({bomb});
  return file + Box("mdat", std::string(8192 - file.size() - 8, '\x21'));
}


}  // namespace ordana::test
