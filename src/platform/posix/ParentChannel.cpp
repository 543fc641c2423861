// The helper's side of the channel on POSIX (standard input and output are
// one end of a socket pair), and the files that come over it.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/HelperProcess.h"
#include "platform/posix/ChannelFraming.h"
#include "platform/posix/ReadFully.h"

namespace ordana {

ReceivedFile::~ReceivedFile() { Close(); }

ReceivedFile& ReceivedFile::operator=(ReceivedFile&& o) noexcept {
  if (this != &o) {
    Close();
    handle_ = o.handle_;
    o.handle_ = -1;
  }
  return *this;
}

int64_t ReceivedFile::Size() const {
  struct stat st {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t ReceivedFile::ReadAt(int64_t pos, void* buf, size_t n) const {
  return posix::ReadFullyAt(static_cast<int>(handle_), pos, buf, n);
}

void ReceivedFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

namespace parent_channel {

namespace {
constexpr int kIn = 0;
constexpr int kOut = 1;
std::string& Inbox() {
  static std::string inbox;
  return inbox;
}
bool IsSocket(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}
}  // namespace

bool Present() { return IsSocket(kIn) && IsSocket(kOut); }

bool Receive(std::string& message, ReceivedFile* file) {
  if (file) file->Close();
  std::string& inbox = Inbox();
  // Awake for a moment before sleeping: the next request often follows.
  const auto awakeUntil = std::chrono::steady_clock::now() + channel_framing::AwakeWait();
  bool awake = true;
  for (;;) {
    switch (channel_framing::TakeFrame(inbox, message)) {
      case channel_framing::Frame::kWhole: return true;
      case channel_framing::Frame::kBroken: return false;
      case channel_framing::Frame::kPartial: break;
    }
    char buf[4096];
    iovec iov{buf, sizeof buf};
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(kIn, &msg, MSG_CMSG_CLOEXEC | (awake ? MSG_DONTWAIT : 0));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && awake && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      awake = std::chrono::steady_clock::now() < awakeUntil;
      continue;
    }
    if (n <= 0) return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < count; ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
        // One file per message; anything more is not kept.
        if (file && !file->IsOpen())
          *file = ReceivedFile(fd);
        else
          ::close(fd);
      }
    }
    if (msg.msg_flags & MSG_CTRUNC) return false;  // descriptors were lost: the peer broke the rules
    inbox.append(buf, static_cast<size_t>(n));
  }
}

bool Send(std::string_view message) { return channel_framing::SendFrame(kOut, message, -1); }

}  // namespace parent_channel

}  // namespace ordana
