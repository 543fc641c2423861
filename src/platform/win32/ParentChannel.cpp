// The helper's side of the channel on Windows: standard input and output are
// one handle, the client end of a duplex pipe the parent made; files come as
// handles the parent placed in this process before naming them in a frame.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/HelperProcess.h"
#include "platform/win32/ChannelFraming.h"

namespace ordana {

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
constexpr intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE
}  // namespace

ReceivedFile::~ReceivedFile() { Close(); }

ReceivedFile& ReceivedFile::operator=(ReceivedFile&& o) noexcept {
  if (this != &o) {
    Close();
    handle_ = o.handle_;
    o.handle_ = kClosed;
  }
  return *this;
}

int64_t ReceivedFile::Size() const {
  LARGE_INTEGER size{};
  if (handle_ == kClosed || !::GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

int64_t ReceivedFile::ReadAt(int64_t pos, void* buf, size_t n) const {
  if (handle_ == kClosed || pos < 0) return -1;
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    // A read at an offset: the handle was opened for synchronous I/O, so
    // the call returns once the bytes are there.
    OVERLAPPED at{};
    const uint64_t offset = static_cast<uint64_t>(pos) + done;
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
    if (!::ReadFile(AsHandle(handle_), p + done, want, &got, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

void ReceivedFile::Close() {
  if (handle_ != kClosed) ::CloseHandle(AsHandle(handle_));
  handle_ = kClosed;
}

namespace parent_channel {

namespace {
HANDLE Channel() { return ::GetStdHandle(STD_INPUT_HANDLE); }
std::string& Inbox() {
  static std::string inbox;
  return inbox;
}
// A handle the parent handed over: it must be a file on disk (anything
// else is not kept).
bool IsDiskFile(HANDLE h) { return h && h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_DISK; }

// A crash ends the helper at once, its exit code the exception's, so that
// the parent sees it end and can tell why: no error box, no debugger (Wine
// starts one for an unhandled exception whatever the error mode says).
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* e) {
  const DWORD code = e && e->ExceptionRecord ? e->ExceptionRecord->ExceptionCode : 0xC0000001u;
  ::TerminateProcess(::GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

bool Present() {
  const HANDLE in = Channel();
  // The parent gives one pipe as both standard input and output.
  const bool present = in && in != INVALID_HANDLE_VALUE && in == ::GetStdHandle(STD_OUTPUT_HANDLE) &&
                       ::GetFileType(in) == FILE_TYPE_PIPE;
  if (present) {
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    ::SetUnhandledExceptionFilter(&EndOnCrash);
  }
  return present;
}

bool Receive(std::string& message, ReceivedFile* file) {
  if (file) file->Close();
  std::string& inbox = Inbox();
  for (;;) {
    uint64_t handle = channel_framing::kNoHandle;
    switch (channel_framing::TakeFrame(inbox, message, &handle)) {
      case channel_framing::Frame::kWhole: {
        if (handle == channel_framing::kNoHandle) return true;
        const HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
        if (file && IsDiskFile(h)) {
          *file = ReceivedFile(reinterpret_cast<intptr_t>(h));
        } else if (IsDiskFile(h)) {
          ::CloseHandle(h);  // one file per message, and only where one is wanted
        }
        return true;
      }
      case channel_framing::Frame::kBroken: return false;
      case channel_framing::Frame::kPartial: break;
    }
    char buf[4096];
    DWORD got = 0;
    if (!::ReadFile(Channel(), buf, sizeof buf, &got, nullptr) || got == 0) return false;
    inbox.append(buf, got);
  }
}

bool Send(std::string_view message) {
  const std::string frame = channel_framing::EncodeFrame(message, channel_framing::kNoHandle);
  return !frame.empty() && channel_framing::WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), frame);
}

}  // namespace parent_channel

}  // namespace ordana
