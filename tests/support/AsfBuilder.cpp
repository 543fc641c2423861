#include "support/AsfBuilder.h"

#include "platform/TextCodec.h"
#include "support/TestFiles.h"

namespace ordana::test::asf {

const std::string kHeaderGuid = Bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9,
                                       0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const std::string kFilePropsGuid = Bytes({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E,
                                          0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const std::string kStreamPropsGuid = Bytes({0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E,
                                            0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const std::string kContentDescGuid = Bytes({0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6,
                                            0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const std::string kExtContentGuid = Bytes({0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97,
                                           0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50});
const std::string kCodecListGuid = Bytes({0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11, 0xA3,
                                          0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6});
const std::string kDataGuid = Bytes({0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9,
                                     0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const std::string kPaddingGuid = Bytes({0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45, 0xA4, 0xBA,
                                        0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8});

std::string Obj(const std::string& guid, const std::string& body) {
  return guid + LE64(24 + body.size()) + body;
}
std::string W(std::string_view utf8, bool zero) {
  return Utf16ToUtf16LE(U16(utf8)) + (zero ? std::string(2, '\0') : std::string());
}
std::string Header(const std::vector<std::string>& objects, int64_t countOverride) {
  std::string body;
  for (const auto& o : objects) body += o;
  uint32_t count = countOverride >= 0 ? static_cast<uint32_t>(countOverride)
                                      : static_cast<uint32_t>(objects.size());
  return kHeaderGuid + LE64(30 + body.size()) + LE32(count) + Bytes({1, 2}) + body;
}
std::string FileProps(uint64_t playDuration100ns, uint64_t prerollMs, uint32_t maxBitRate) {
  return Obj(kFilePropsGuid, Zeros(16) + LE64(123456) + Zeros(16) + LE64(playDuration100ns) +
                                 LE64(playDuration100ns) + LE64(prerollMs) + LE32(2) + LE32(3200) +
                                 LE32(3200) + LE32(maxBitRate));
}
std::string StreamProps(uint16_t channels, uint32_t rate, uint32_t byteRate) {
  return Obj(kStreamPropsGuid, Zeros(32) + LE64(0) + LE32(18) + LE32(0) + LE16(1) + LE32(0) +
                                   LE16(0x161) + LE16(channels) + LE32(rate) + LE32(byteRate) +
                                   LE16(2973) + LE16(16) + LE16(0));
}
std::string ContentDesc(std::string_view title, std::string_view author, std::string_view copyright,
                        std::string_view desc, std::string_view rating) {
  std::string lens, texts;
  for (auto t : {title, author, copyright, desc, rating}) {
    std::string w = t.empty() ? std::string() : W(t);
    lens += LE16(w.size());
    texts += w;
  }
  return Obj(kContentDescGuid, lens + texts);
}
std::string TextDesc(std::string_view name, std::string_view value) {
  std::string n = W(name), v = W(value);
  return LE16(n.size()) + n + LE16(0) + LE16(v.size()) + v;
}
std::string RawDesc(std::string_view name, uint16_t type, const std::string& value) {
  std::string n = W(name);
  return LE16(n.size()) + n + LE16(type) + LE16(value.size()) + value;
}
std::string ExtContent(const std::vector<std::string>& descriptors) {
  std::string body = LE16(descriptors.size());
  for (const auto& d : descriptors) body += d;
  return Obj(kExtContentGuid, body);
}
std::string CodecList(uint16_t type, const std::vector<std::string>& texts) {
  std::string body = Zeros(16) + LE32(1) + LE16(type);
  for (const auto& t : texts) body += LE16(U16(t).size()) + W(t, false);
  return Obj(kCodecListGuid, body);
}
std::string DataObj(size_t payload) {
  std::string body = Zeros(16) + LE64(1) + Bytes({1, 1});
  for (size_t i = 0; i < payload; ++i) body += static_cast<char>(i * 7 + 3);
  return Obj(kDataGuid, body);
}
std::string PadTo(size_t headerSize, const std::vector<std::string>& objects) {
  size_t used = 30;
  for (const auto& o : objects) used += o.size();
  return Obj(kPaddingGuid, Zeros(headerSize - used - 24));
}

}  // namespace ordana::test::asf
