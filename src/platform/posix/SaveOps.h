#pragma once
// The system calls of the POSIX save layer, as one replaceable table. The
// save layer asks the portable test hook (SetSaveTestHook) before each step
// and then calls these; a test of this backend may also install a table of
// its own (for example one whose O_TMPFILE open fails as on file systems
// without it).
#include <sys/stat.h>
#include <sys/types.h>

namespace ordana::posix {

class SaveOps {
 public:
  virtual ~SaveOps() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual ssize_t PRead(int fd, void* buf, size_t n, off_t pos);
  virtual ssize_t Write(int fd, const void* buf, size_t n);
  virtual ssize_t PWrite(int fd, const void* buf, size_t n, off_t pos);
  // In-kernel copy of n bytes from in at *inPos to out's current position.
  virtual ssize_t CopyRange(int in, off_t* inPos, int out, size_t n);
  virtual int Fsync(int fd);
  virtual int Ftruncate(int fd, off_t size);
  virtual int Fstat(int fd, struct stat* st);
  virtual int Stat(const char* path, struct stat* st);
  virtual int Rename(const char* from, const char* to);
  // Gives the unnamed (O_TMPFILE) file open as fd the name to.
  virtual int LinkTemp(int fd, const char* to);
  virtual int Unlink(const char* path);
  virtual int Flock(int fd, int operation);
  virtual int Fchown(int fd, uid_t uid, gid_t gid);
  virtual int Fchmod(int fd, mode_t mode);
  virtual ssize_t Flistxattr(int fd, char* list, size_t n);
  virtual ssize_t Fgetxattr(int fd, const char* name, void* value, size_t n);
  virtual int Fsetxattr(int fd, const char* name, const void* value, size_t n);
};

SaveOps& CurrentSaveOps();
// Installs ops (nullptr restores the real ones).
void SetSaveOps(SaveOps* ops);

}  // namespace ordana::posix
