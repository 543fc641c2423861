#pragma once
// Framing of the helper channel on Windows: each message is its length (four
// bytes), the value of the handle that rides along (eight bytes: a handle
// the parent has already placed in the helper's handle table, or
// kNoHandle), then its bytes; both ends are the same build, so the numbers
// are in this machine's byte order. A pipe carries no handles, so the
// parent duplicates the file into the helper and the frame names the copy.
#include <cstdint>
#include <string>
#include <string_view>

namespace ordana::channel_framing {

inline constexpr uint64_t kNoHandle = ~uint64_t{0};
inline constexpr size_t kHeaderSize = 4 + 8;

// One frame; empty when the message is longer than the channel carries.
std::string EncodeFrame(std::string_view message, uint64_t handle);

enum class Frame { kWhole, kPartial, kBroken };
// Moves the first whole message out of `inbox` into `message` and its
// handle into *handle; kPartial when more bytes are needed, kBroken when the
// length is out of bounds.
Frame TakeFrame(std::string& inbox, std::string& message, uint64_t* handle);

// Writes all of `bytes` to a pipe opened for synchronous I/O (`pipe` is a
// HANDLE). False when the peer is gone.
bool WriteAll(void* pipe, std::string_view bytes);

}  // namespace ordana::channel_framing
