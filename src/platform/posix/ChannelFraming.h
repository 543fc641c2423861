#pragma once
// Framing of the helper channel on POSIX: each message is its length (four
// bytes, in this machine's byte order: both ends are the same build) and its
// bytes, sent in one call with at most one descriptor attached.
#include <chrono>
#include <string>
#include <string_view>

namespace ordana::channel_framing {

// Sends one frame on the socket, with `attach` (a descriptor, or -1) riding
// along. False when the peer is gone.
bool SendFrame(int socket, std::string_view message, int attach);

enum class Frame { kWhole, kPartial, kBroken };
// Moves the first whole message out of `inbox` into `message`; kPartial when
// more bytes are needed, kBroken when the length is out of bounds.
Frame TakeFrame(std::string& inbox, std::string& message);

// How long a receiver asks again without sleeping before it waits asleep
// for the next message. An answer or the next request usually follows
// within tens of microseconds, and waking a process that sleeps costs more
// than that on some machines (a virtual machine's processors). Zero with one
// processor, where the other end needs the processor to send it.
std::chrono::microseconds AwakeWait();

}  // namespace ordana::channel_framing
