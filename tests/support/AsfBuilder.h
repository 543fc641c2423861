#pragma once
// Builds ASF (WMA) headers byte by byte for the reader and writer tests and
// the benchmarks: objects of the Header Object, descriptors and a Data Object.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ordana::test::asf {

// GUIDs as they stand in a file.
extern const std::string kHeaderGuid, kFilePropsGuid, kStreamPropsGuid, kContentDescGuid,
    kExtContentGuid, kCodecListGuid, kDataGuid, kPaddingGuid;

// An object: GUID, 64-bit size, body.
std::string Obj(const std::string& guid, const std::string& body);
// UTF-16LE of UTF-8 text, with a terminating zero unit unless told otherwise.
std::string W(std::string_view utf8, bool zero = true);
// The Header Object around objects (count as given, or their number).
std::string Header(const std::vector<std::string>& objects, int64_t countOverride = -1);
std::string FileProps(uint64_t playDuration100ns, uint64_t prerollMs, uint32_t maxBitRate);
std::string StreamProps(uint16_t channels, uint32_t rate, uint32_t byteRate);
// The Content Description object; an empty text has length 0.
std::string ContentDesc(std::string_view title, std::string_view author, std::string_view copyright,
                        std::string_view desc, std::string_view rating);
// Descriptors of the Extended Content Description object: a text one, and
// one of any type with a raw value.
std::string TextDesc(std::string_view name, std::string_view value);
std::string RawDesc(std::string_view name, uint16_t type, const std::string& value);
std::string ExtContent(const std::vector<std::string>& descriptors);
// A codec list with one entry of the given type and counted texts.
std::string CodecList(uint16_t type, const std::vector<std::string>& texts);
// A Data Object with `payload` bytes of packets.
std::string DataObj(size_t payload);
// A padding object that makes the whole header exactly headerSize bytes.
std::string PadTo(size_t headerSize, const std::vector<std::string>& objects);

}  // namespace ordana::test::asf
