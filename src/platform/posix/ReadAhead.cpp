#include "platform/ReadAhead.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "platform/FileIO.h"
#include "platform/posix/OpenRegular.h"

namespace ordana {

namespace {
// Blocks this thread has had read from storage so far; -1 when unknown.
int64_t BlocksReadFromDisk() {
  struct rusage ru {};
  if (::getrusage(RUSAGE_THREAD, &ru) != 0) return -1;
  return static_cast<int64_t>(ru.ru_inblock);
}
}  // namespace

// posix_fadvise keeps nothing pending in the process; the backend only tells
// whether hints are paused.
struct FileReadAhead::Backend {
  int64_t blocksRead = -1;        // at the last announcement
  size_t quietAnnouncements = 0;  // since this thread last read from the disk
};

FileReadAhead::FileReadAhead(const ReadAheadSettings& settings)
    : settings_(settings), backend_(std::make_unique<Backend>()) {}

FileReadAhead::~FileReadAhead() = default;

void FileReadAhead::Announce(std::u16string_view path) {
  if (settings_.Depth == 0 || path.empty()) return;
  if (settings_.PauseWhileCached) {
    const int64_t blocks = BlocksReadFromDisk();
    if (blocks < 0 || blocks != backend_->blocksRead) {
      backend_->blocksRead = blocks;
      backend_->quietAnnouncements = 0;
    } else if (++backend_->quietAnnouncements > 2 * settings_.Depth) {
      return;  // everything lately read came from memory
    }
  }
  try {
    struct stat st {};
    const int fd = posix::OpenRegularFileForReading(NativePath(path), nullptr, &st);
    if (fd < 0) return;
    const int64_t size = static_cast<int64_t>(st.st_size);
    const int64_t head = std::clamp<int64_t>(settings_.HeadBytes, 0, size);
    if (head > 0) ::posix_fadvise(fd, 0, static_cast<off_t>(head), POSIX_FADV_WILLNEED);
    const int64_t tailStart = std::max(head, size - std::max<int64_t>(settings_.TailBytes, 0));
    if (tailStart < size)
      ::posix_fadvise(fd, static_cast<off_t>(tailStart), static_cast<off_t>(size - tailStart),
                      POSIX_FADV_WILLNEED);
    ::close(fd);
  } catch (...) {
    // A path that cannot even be encoded gets no hint; its read reports it.
  }
}

}  // namespace ordana
