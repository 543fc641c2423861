// Read-ahead on Windows: each announcement opens the file for overlapped
// reads, sharing read, write and delete, and starts two reads (its head and
// its tail) into a buffer of its own. The system's cache manager fetches
// the ranges while the program reads earlier files; the program's own later
// reads of them are then served from memory. The reads run without threads
// of ours; a handle is closed as soon as its reads are done, and an
// announcement still pending when its slot is needed again (or when the
// object ends) is cancelled and waited for before its buffer is reused.
//
// Pausing while cached: a read that has completed when ReadFile returns was
// served from memory, one still going went to the disk. After 2 x Depth
// announcements whose reads all completed at once, only every Depth-th
// announcement still reads, and only its first 4 KiB, to find out when the
// disk is needed again; the first read that has to wait resumes them all.
#include "platform/ReadAhead.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/win32/WinFiles.h"

namespace ordana {

namespace {

// One announcement: the file, its two reads and their buffer.
struct Slot {
  win32::Handle file;
  win32::Handle events[2];
  OVERLAPPED ov[2]{};
  bool pending[2]{};
  std::unique_ptr<char[]> buffer;
  size_t capacity = 0;

  bool Busy() const { return pending[0] || pending[1]; }

  // Closes the file once both reads have ended (without waiting).
  void CloseIfDone() {
    for (int i = 0; i < 2; ++i)
      if (pending[i] && HasOverlappedIoCompleted(&ov[i])) pending[i] = false;
    if (!Busy()) file.Reset();
  }

  // Cancels what is still being read and waits until the system has let go
  // of the buffer; then closes the file.
  void Retire() {
    if (Busy() && file) {
      ::CancelIoEx(file.get(), nullptr);
      for (int i = 0; i < 2; ++i) {
        if (!pending[i]) continue;
        DWORD got = 0;
        ::GetOverlappedResult(file.get(), &ov[i], &got, TRUE);
        pending[i] = false;
      }
    }
    pending[0] = pending[1] = false;
    file.Reset();
  }

  // Starts reading n bytes at pos into the buffer at `at` as read i; true
  // when the read has to wait for the disk.
  bool Start(int i, int64_t pos, size_t at, size_t n) {
    if (n == 0) return false;
    if (!events[i]) events[i] = win32::Handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!events[i]) return false;
    ov[i] = OVERLAPPED{};
    ov[i].Offset = static_cast<DWORD>(static_cast<uint64_t>(pos) & 0xFFFFFFFFu);
    ov[i].OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(pos) >> 32);
    ov[i].hEvent = events[i].get();
    if (::ReadFile(file.get(), buffer.get() + at, static_cast<DWORD>(n), nullptr, &ov[i])) return false;
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    pending[i] = true;
    // Some systems (Wine) answer "pending" also for a read they have
    // already done from memory: only a read still going counts as waiting.
    return !HasOverlappedIoCompleted(&ov[i]);
  }
};

}  // namespace

struct FileReadAhead::Backend {
  std::vector<Slot> slots;   // Depth of them, used in turn
  size_t next = 0;
  size_t quietAnnouncements = 0;  // in a row, whose reads all completed at once
  size_t whilePaused = 0;         // announcements passed over since the hints paused

  ~Backend() {
    for (Slot& s : slots) s.Retire();
  }
};

FileReadAhead::FileReadAhead(const ReadAheadSettings& settings)
    : settings_(settings), backend_(std::make_unique<Backend>()) {
  backend_->slots.resize(settings_.Depth);
}

FileReadAhead::~FileReadAhead() = default;

void FileReadAhead::Announce(std::u16string_view path) {
  Backend& b = *backend_;
  if (settings_.Depth == 0 || path.empty() || b.slots.empty()) return;
  for (Slot& s : b.slots) s.CloseIfDone();
  const bool paused = settings_.PauseWhileCached && b.quietAnnouncements > 2 * settings_.Depth;
  if (paused && b.whilePaused++ % settings_.Depth != 0) return;  // everything lately read came from memory
  try {
    Slot& slot = b.slots[b.next];
    b.next = (b.next + 1) % b.slots.size();
    slot.Retire();
    int64_t size = -1;
    slot.file = win32::Handle(
        win32::OpenRegularFileForReading(path, ReadShare::Full, FILE_FLAG_OVERLAPPED, nullptr, &size));
    if (!slot.file || size <= 0) {
      slot.Retire();
      return;
    }
    // Each read is at most 1 GiB: one ReadFile takes a 32-bit count.
    constexpr int64_t kMaxRead = int64_t{1} << 30;
    const int64_t head = std::clamp<int64_t>(settings_.HeadBytes, 0, std::min(size, kMaxRead));
    const int64_t tailStart = std::max(head, size - std::clamp<int64_t>(settings_.TailBytes, 0, kMaxRead));
    auto headBytes = static_cast<size_t>(head), tailBytes = static_cast<size_t>(size - tailStart);
    // While paused, the first 4 KiB are enough to tell whether the file is
    // still in memory.
    if (paused) {
      headBytes = std::min<size_t>(headBytes, 4096);
      tailBytes = 0;
    }
    if (headBytes + tailBytes > slot.capacity) {
      slot.buffer = std::make_unique_for_overwrite<char[]>(headBytes + tailBytes);
      slot.capacity = headBytes + tailBytes;
    }
    const bool waited = slot.Start(0, 0, 0, headBytes) | slot.Start(1, tailStart, headBytes, tailBytes);
    if (waited) {
      b.quietAnnouncements = 0;
      b.whilePaused = 0;
    } else {
      ++b.quietAnnouncements;
    }
    slot.CloseIfDone();
  } catch (...) {
    // A path that cannot even be encoded gets no hint; its read reports it.
  }
}

}  // namespace ordana
