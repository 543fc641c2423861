#pragma once
// Read-ahead hints: telling the system which parts of which files the program
// is about to read, so that the disk fetches them while the program is still
// busy with earlier files. The report announces the head and tail of the next
// rows' files while it reads the current one; the tag readers themselves stay
// single-threaded and read as before, only finding the data already fetched.
//
// Contract for every backend:
// - Announce() returns without waiting for the data; what it starts finishes
//   (or is abandoned) on its own. It never throws and reports nothing: a
//   path that does not open, or any failure of the hint, is passed over and
//   the later read simply runs at the speed it would have run without.
// - Only regular files are touched, opened by the same rule as every read
//   of the file layer (InputFile::Open): a FIFO, device or folder named like
//   a file is never opened for its data, and an open never waits for a
//   writer. Paths go through NativePath(), so the path mappings apply.
// - The hinted ranges are the first HeadBytes and the last TailBytes of the
//   file (one range when they meet); nothing else is read.
// - No threads. Memory and system handles held at any time are bounded by
//   Depth announcements (Depth x (HeadBytes + TailBytes) bytes of buffers at
//   most, where a backend needs buffers); announcing more retires the oldest.
// - Hints cost a little even when the data is cached already. With
//   PauseWhileCached, a backend leaves them out while the program's reads are
//   all served from memory, and resumes at the first read that went to the
//   disk (POSIX: no block read from storage by this thread, as getrusage's
//   ru_inblock counts them, over the last 2 x Depth announcements; the hints'
//   own reads count, so hints that fetch anything keep going).
// - Nothing outlives the object: the destructor ends or cancels whatever is
//   still pending and releases every handle and buffer.
//
// POSIX: each announcement opens the file, asks posix_fadvise(WILLNEED) for
// the two ranges (the kernel queues the reads into its page cache) and
// closes it again; nothing stays pending in the process.
// Windows: the file opened with FILE_FLAG_OVERLAPPED and sharing read,
// write and delete (a hint must never lock anyone out), two overlapped
// ReadFile calls into a buffer of the object's own, the handle and buffer
// kept until the reads complete or the announcement is retired (CancelIoEx,
// then wait for the completion before the buffer is reused). A read that
// completes at once was served from memory; PauseWhileCached counts those,
// and while paused every Depth-th announcement still reads, so that a read
// that has to wait for the disk resumes the hints.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace ordana {

struct ReadAheadSettings {
  int64_t HeadBytes = 0;  // from the start of each file
  int64_t TailBytes = 0;  // from the end of each file
  size_t Depth = 0;       // files announced ahead; 0 turns read-ahead off
  bool PauseWhileCached = true;  // leave hints out while nothing is read from the disk
};

class FileReadAhead {
 public:
  explicit FileReadAhead(const ReadAheadSettings& settings);
  ~FileReadAhead();
  FileReadAhead(const FileReadAhead&) = delete;
  FileReadAhead& operator=(const FileReadAhead&) = delete;

  // Hints the head and tail of the file at path (see the contract above).
  // Does nothing when the settings' Depth is 0, or while hints are paused.
  void Announce(std::u16string_view path);

 private:
  struct Backend;
  ReadAheadSettings settings_;
  std::unique_ptr<Backend> backend_;
};

}  // namespace ordana
