#pragma once
// A positioned read of a whole range: as many bytes as the file holds of it,
// retried across interruptions and short reads.
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace ordana::posix {

// The bytes read (fewer only at the file's end), or -1 on an error.
inline int64_t ReadFullyAt(int fd, int64_t pos, void* buf, size_t n) {
  if (fd < 0 || pos < 0) return -1;
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    const ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

}  // namespace ordana::posix
