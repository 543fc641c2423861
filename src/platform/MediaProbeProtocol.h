#pragma once
// The messages between the media probe and its helper program: a request
// per file (what to measure, the file's extension; the file itself is handed
// over with the message) and the answer. Both ends are the same build, so
// the records travel as they lie in memory.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace ordana::probe_protocol {

// The helper's first message, once it is ready.
inline constexpr std::string_view kHello = "ordana-probe 1";

enum class Op : uint8_t {
  kAudioLength = 1,        // the first decodable audio stream's length
  kStreamSeconds = 2,      // the stated length of stream `index`
  kContainerDuration = 3,  // the whole file's playing time
};

struct Request {
  Op op = Op::kAudioLength;
  int32_t index = 0;
  char extension[16] = {};  // lower-case, without the dot; empty when unknown
};

struct Reply {
  uint8_t found = 0;           // 0: no length
  uint8_t fromStreamInfo = 0;  // kAudioLength: the stream had to be analysed
  double seconds = 0;          // kAudioLength, kStreamSeconds
  int64_t units = 0;           // kContainerDuration: 100-ns units
};

template <typename Record>
std::string Encode(const Record& r) {
  static_assert(std::is_trivially_copyable_v<Record>);
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

template <typename Record>
std::optional<Record> Decode(std::string_view bytes) {
  static_assert(std::is_trivially_copyable_v<Record>);
  if (bytes.size() != sizeof(Record)) return std::nullopt;
  Record r;
  std::memcpy(&r, bytes.data(), sizeof r);
  return r;
}

}  // namespace ordana::probe_protocol
