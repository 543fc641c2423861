#include "platform/win32/ChannelFraming.h"

#include <windows.h>

#include <cstring>

#include "platform/HelperProcess.h"

namespace ordana::channel_framing {

std::string EncodeFrame(std::string_view message, uint64_t handle) {
  if (message.size() > kMaxHelperMessage) return {};
  const auto length = static_cast<uint32_t>(message.size());
  std::string frame(kHeaderSize, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  std::memcpy(frame.data() + sizeof length, &handle, sizeof handle);
  frame.append(message);
  return frame;
}

Frame TakeFrame(std::string& inbox, std::string& message, uint64_t* handle) {
  if (inbox.size() < kHeaderSize) return Frame::kPartial;
  uint32_t length = 0;
  uint64_t value = kNoHandle;
  std::memcpy(&length, inbox.data(), sizeof length);
  std::memcpy(&value, inbox.data() + sizeof length, sizeof value);
  if (length > kMaxHelperMessage) return Frame::kBroken;
  if (inbox.size() < kHeaderSize + length) return Frame::kPartial;
  message.assign(inbox, kHeaderSize, length);
  inbox.erase(0, kHeaderSize + length);
  if (handle) *handle = value;
  return Frame::kWhole;
}

bool WriteAll(void* pipe, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!::WriteFile(static_cast<HANDLE>(pipe), bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0)
      return false;
    done += wrote;
  }
  return true;
}

}  // namespace ordana::channel_framing
