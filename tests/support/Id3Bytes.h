#pragma once
// Builders for ID3v2 tags written byte by byte in tests.
#include <cstdint>
#include <string>

#include "support/TestFiles.h"

namespace ordana::test {

// Four bytes of seven bits each, most significant first.
inline std::string SyncSafe(uint32_t v) {
  return Bytes({int((v >> 21) & 0x7F), int((v >> 14) & 0x7F), int((v >> 7) & 0x7F), int(v & 0x7F)});
}
// A tag of the given major version around frames, with padding after them.
inline std::string Id3Tag(int version, const std::string& frames, int flags = 0, size_t padding = 0) {
  return "ID3" + Bytes({version, 0, flags}) + SyncSafe(uint32_t(frames.size() + padding)) + frames +
         Zeros(padding);
}
// A version 2.3 frame (plain big-endian size), 2.4 frame (seven-bit size)
// and 2.2 frame (three-letter identifier, 24-bit size).
inline std::string F23(const std::string& id, const std::string& data, int flag2 = 0) {
  return id + BE32(uint32_t(data.size())) + Bytes({0, flag2}) + data;
}
inline std::string F24(const std::string& id, const std::string& data) {
  return id + SyncSafe(uint32_t(data.size())) + Zeros(2) + data;
}
inline std::string F22(const std::string& id, const std::string& data) {
  return id + BE24(uint32_t(data.size())) + data;
}

}  // namespace ordana::test
