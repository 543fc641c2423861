#pragma once
// A file layer whose N-th write, sync or rename fails (once), for checking
// that every save path leaves the original file intact.
#include <cerrno>

#include "platform/SafeWrite.h"

namespace ordana::test {

class FailingOps : public FileOps {
 public:
  explicit FailingOps(int failAt) : failAt_(failAt) {}
  bool Fired() const { return fired_; }
  int Calls() const { return calls_; }

  ssize_t Write(int fd, const void* buf, size_t n) override {
    return Hit() ? (errno = ENOSPC, -1) : FileOps::Write(fd, buf, n);
  }
  ssize_t PWrite(int fd, const void* buf, size_t n, off_t pos) override {
    return Hit() ? (errno = ENOSPC, -1) : FileOps::PWrite(fd, buf, n, pos);
  }
  int Fsync(int fd) override { return Hit() ? (errno = EIO, -1) : FileOps::Fsync(fd); }
  int Rename(const char* from, const char* to) override {
    return Hit() ? (errno = EXDEV, -1) : FileOps::Rename(from, to);
  }

 private:
  bool Hit() {
    if (++calls_ != failAt_) return false;
    fired_ = true;
    return true;
  }
  int failAt_;
  int calls_ = 0;
  bool fired_ = false;
};

}  // namespace ordana::test
