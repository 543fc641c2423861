#include "platform/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "platform/TextCodec.h"

namespace ordana {

int FileOps::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileOps::Write(int fd, const void* buf, size_t n) { return ::write(fd, buf, n); }
ssize_t FileOps::PWrite(int fd, const void* buf, size_t n, off_t pos) {
  return ::pwrite(fd, buf, n, pos);
}
int FileOps::Fsync(int fd) { return ::fsync(fd); }
int FileOps::Rename(const char* from, const char* to) { return ::rename(from, to); }
int FileOps::Close(int fd) { return ::close(fd); }
int FileOps::Unlink(const char* path) { return ::unlink(path); }

namespace {
FileOps gRealOps;
FileOps* gOps = &gRealOps;

bool WriteAll(FileOps& ops, int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ops.Write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool PWriteAll(FileOps& ops, int fd, const char* p, size_t n, off_t pos) {
  while (n > 0) {
    ssize_t w = ops.PWrite(fd, p, n, pos);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    p += w;
    pos += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string TempNameFor(const std::string& path) {
  static std::mt19937_64 rng{std::random_device{}()};
  static const char digits[] = "0123456789abcdef";
  std::string suffix;
  uint64_t r = rng();
  for (int i = 0; i < 8; ++i, r >>= 4) suffix += digits[r & 15];
  // Same folder as the original, so the final rename never crosses devices.
  return path + ".~" + suffix + ".tmp";
}

// The folder's entry is synced too, so the rename itself survives a crash.
void SyncFolderOf(FileOps& ops, const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int fd = ops.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd >= 0) {
    ops.Fsync(fd);
    ops.Close(fd);
  }
}
}  // namespace

FileOps& CurrentFileOps() { return *gOps; }
void SetFileOps(FileOps* ops) { gOps = ops ? ops : &gRealOps; }

bool OutputFile::Write(const void* data, size_t n) {
  if (!WriteAll(CurrentFileOps(), fd_, static_cast<const char*>(data), n)) return false;
  size_ += static_cast<int64_t>(n);
  return true;
}

bool OutputFile::CopyFrom(const InputFile& src, int64_t from, int64_t len) {
  std::vector<char> buf(1 << 16);
  int64_t pos = from;
  while (len != 0) {
    size_t want = buf.size();
    if (len > 0 && static_cast<int64_t>(want) > len) want = static_cast<size_t>(len);
    int64_t got = src.ReadAt(pos, buf.data(), want);
    if (got < 0) return false;
    if (got == 0) return len < 0;  // end of the source: fine only when copying to the end
    if (!Write(buf.data(), static_cast<size_t>(got))) return false;
    pos += got;
    if (len > 0) len -= got;
  }
  return true;
}

bool RewriteFile(std::u16string_view path, const std::function<bool(OutputFile&)>& produce,
                 int* err) {
  FileOps& ops = CurrentFileOps();
  const std::string target = NativePath(path);
  auto fail = [&](int e) {
    if (err) *err = e;
    return false;
  };

  // Keep the original's permissions; a new file gets the usual 0666 & ~umask.
  mode_t mode = 0666;
  bool existed = false;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return fail(EISDIR);
    mode = st.st_mode & 07777;
    existed = true;
  }

  const std::string temp = TempNameFor(target);
  int fd = ops.Open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return fail(errno);

  OutputFile out(fd);
  bool ok = produce(out);
  int e = ok ? 0 : (errno ? errno : EIO);
  if (ok && existed && ::fchmod(fd, mode) != 0) ok = false, e = errno;
  if (ok && !existed) {
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, mode & ~mask) != 0) ok = false, e = errno;
  }
  if (ok && ops.Fsync(fd) != 0) ok = false, e = errno;
  if (ops.Close(fd) != 0 && ok) ok = false, e = errno;
  if (ok && ops.Rename(temp.c_str(), target.c_str()) != 0) ok = false, e = errno;
  if (!ok) {
    ops.Unlink(temp.c_str());
    return fail(e);
  }
  SyncFolderOf(ops, target);
  return true;
}

bool OverwriteInPlace(std::u16string_view path, int64_t offset, std::string_view bytes,
                      int* err) {
  FileOps& ops = CurrentFileOps();
  const std::string target = NativePath(path);
  auto fail = [&](int e) {
    if (err) *err = e;
    return false;
  };
  if (offset < 0) return fail(EINVAL);
  int fd = ops.Open(target.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return fail(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      offset + static_cast<int64_t>(bytes.size()) > static_cast<int64_t>(st.st_size)) {
    ops.Close(fd);
    return fail(EINVAL);
  }
  // Keep the old bytes so a failed write can be undone.
  std::string old(bytes.size(), '\0');
  size_t got = 0;
  while (got < old.size()) {
    ssize_t r = ::pread(fd, old.data() + got, old.size() - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      ops.Close(fd);
      return fail(r == 0 ? EIO : errno);
    }
    got += static_cast<size_t>(r);
  }
  if (!PWriteAll(ops, fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ||
      ops.Fsync(fd) != 0) {
    int e = errno;
    // Put the old bytes back; try a few times, since the fault may pass.
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (PWriteAll(ops, fd, old.data(), old.size(), static_cast<off_t>(offset)) &&
          ops.Fsync(fd) == 0)
        break;
    }
    ops.Close(fd);
    return fail(e);
  }
  if (ops.Close(fd) != 0) return fail(errno);
  return true;
}

}  // namespace ordana
