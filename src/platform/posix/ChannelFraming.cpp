#include "platform/posix/ChannelFraming.h"

#include <sched.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/HelperProcess.h"

namespace ordana::channel_framing {

bool SendFrame(int socket, std::string_view message, int attach) {
  if (socket < 0 || message.size() > kMaxHelperMessage) return false;
  const auto length = static_cast<uint32_t>(message.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  frame.append(message);

  size_t sent = 0;
  bool attached = attach < 0;
  while (sent < frame.size()) {
    iovec iov{frame.data() + sent, frame.size() - sent};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (!attached) {
      std::memset(control, 0, sizeof control);
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&msg);
      c->cmsg_level = SOL_SOCKET;
      c->cmsg_type = SCM_RIGHTS;
      c->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(c), &attach, sizeof(int));
    }
    // MSG_NOSIGNAL: a peer that is gone gives EPIPE, not a signal that
    // would end this process.
    const ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    attached = true;
    sent += static_cast<size_t>(n);
  }
  return true;
}

Frame TakeFrame(std::string& inbox, std::string& message) {
  uint32_t length = 0;
  if (inbox.size() < sizeof length) return Frame::kPartial;
  std::memcpy(&length, inbox.data(), sizeof length);
  if (length > kMaxHelperMessage) return Frame::kBroken;
  if (inbox.size() < sizeof length + length) return Frame::kPartial;
  message.assign(inbox, sizeof length, length);
  inbox.erase(0, sizeof length + length);
  return Frame::kWhole;
}

std::chrono::microseconds AwakeWait() {
  // The processors this process may run on, asked without opening a file
  // (the helper opens nothing by name).
  static const bool severalProcessors = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    return ::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
  }();
  return std::chrono::microseconds(severalProcessors ? 200 : 0);
}

}  // namespace ordana::channel_framing
