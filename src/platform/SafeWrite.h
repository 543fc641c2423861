#pragma once
// Writes that never lose a file.
//
// A file is changed in one of two ways:
//  - RewriteFile: the new content is produced into a temporary file in the
//    same folder, flushed to disk (fsync), given the original's permissions
//    and then renamed over the original in one atomic step. Any failure
//    removes the temporary file and leaves the original byte-identical.
//  - OverwriteInPlace: the same number of bytes written over a region that
//    already exists (a tag rewritten into its own old space); the file's size
//    never changes. The old bytes of the region are kept and written back
//    when a write fails, then the file is synced.
//
// All system calls go through FileOps, so tests can make the N-th write,
// sync or rename fail and check that the original survives.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/FileIO.h"

namespace ordana {

class FileOps {
 public:
  virtual ~FileOps() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual ssize_t Write(int fd, const void* buf, size_t n);
  virtual ssize_t PWrite(int fd, const void* buf, size_t n, off_t pos);
  virtual int Fsync(int fd);
  virtual int Rename(const char* from, const char* to);
  virtual int Close(int fd);
  virtual int Unlink(const char* path);
};

// The operations in force (the real ones unless a test installs others).
FileOps& CurrentFileOps();
// Installs ops (nullptr restores the real ones). For tests.
void SetFileOps(FileOps* ops);

// A file being written: the temporary file of a rewrite.
class OutputFile {
 public:
  bool Write(const void* data, size_t n);
  bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Copies len bytes of src starting at from (len < 0: to the end of src).
  bool CopyFrom(const InputFile& src, int64_t from, int64_t len = -1);
  int64_t Size() const { return size_; }

 private:
  friend bool RewriteFile(std::u16string_view, const std::function<bool(OutputFile&)>&, int*);
  explicit OutputFile(int fd) : fd_(fd) {}
  int fd_;
  int64_t size_ = 0;
};

// Replaces the content of path with what produce writes. produce returns
// false to give up (the original stays). Returns true only when the new
// content is on disk under the original name. On failure, *err (if given)
// receives errno of the failing step. The file need not exist beforehand.
bool RewriteFile(std::u16string_view path, const std::function<bool(OutputFile&)>& produce,
                 int* err = nullptr);

// Writes bytes over [offset, offset + size) of an existing file without
// changing its size; refused (false) when the region does not lie inside the
// file. On a failed write the old bytes are put back.
bool OverwriteInPlace(std::u16string_view path, int64_t offset, std::string_view bytes,
                      int* err = nullptr);

}  // namespace ordana
