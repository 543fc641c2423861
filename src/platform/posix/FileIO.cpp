#include "platform/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/FileNames.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "platform/posix/OpenRegular.h"

namespace ordana {

std::string SystemMessage(int err) { return std::strerror(err); }

EFOpenError MakeOpenError(std::u16string_view fileName, int err) {
  return EFOpenError("Cannot open file \"" + Utf16ToUtf8(fileName) + "\". " + SystemMessage(err));
}

EFCreateError MakeCreateError(std::u16string_view fileName, int err) {
  return EFCreateError("Cannot create file \"" + Utf16ToUtf8(fileName) + "\". " +
                       SystemMessage(err));
}

std::string NativePath(std::u16string_view path) { return NameToSystemBytes(MapPath(path)); }

// --- Queries ------------------------------------------------------------------

std::vector<std::u16string> ListDirectory(std::u16string_view folder) {
  std::vector<std::u16string> names;
  if (folder.empty()) return names;
  DIR* d = ::opendir(NativePath(folder).c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    names.push_back(NameFromSystemBytes(n));
  }
  ::closedir(d);
  return names;
}

bool FileExists(std::u16string_view path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(std::u16string_view path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileWritable(std::u16string_view path) { return ::access(NativePath(path).c_str(), W_OK) == 0; }

bool FileLastWriteTimeUtc(std::u16string_view path, int64_t& unixSeconds, int32_t& millis) {
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0) return false;
  unixSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
  millis = static_cast<int32_t>(st.st_mtim.tv_nsec / 1000000);
  return true;
}

ReadCheck CheckReadable(std::u16string_view path) {
  int err = 0;
  InputFile f = InputFile::Open(path, &err);
  if (f) return ReadCheck::Readable;
  return err == ENOENT || err == ENOTDIR ? ReadCheck::NotFound : ReadCheck::NotReadable;
}

// --- Opening ----------------------------------------------------------------

int posix::OpenRegularFileForReading(const std::string& nativePath, int* err, struct stat* out) {
  auto fail = [&](int e) {
    if (err) *err = e;
    return -1;
  };
  struct stat before {};
  if (::stat(nativePath.c_str(), &before) != 0) return fail(errno);
  if (!S_ISREG(before.st_mode)) return fail(S_ISDIR(before.st_mode) ? EISDIR : ENXIO);
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return fail(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return fail(e);
  }
  // What was opened must be a regular file. Another regular file in its
  // place (a save that replaced the file between the look and the open) is
  // the file the path names now, and is read as such.
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(S_ISDIR(st.st_mode) ? EISDIR : ENXIO);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (out) *out = st;
  return fd;
}

// --- InputFile ------------------------------------------------------------

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& o) noexcept : fd_(o.fd_), pos_(o.pos_) { o.fd_ = -1; }

InputFile& InputFile::operator=(InputFile&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    pos_ = o.pos_;
    o.fd_ = -1;
  }
  return *this;
}

InputFile InputFile::Open(std::u16string_view path, int* err) {
  InputFile f;
  f.fd_ = posix::OpenRegularFileForReading(NativePath(path), err);
  return f;
}

InputFile InputFile::OpenOrThrow(std::u16string_view path) {
  int err = 0;
  InputFile f = Open(path, &err);
  if (!f) throw MakeOpenError(path, err);
  return f;
}

int64_t InputFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool InputFile::Seek(int64_t pos) {
  if (fd_ < 0 || pos < 0) return false;
  pos_ = pos;
  return true;
}

int64_t InputFile::Read(void* buf, size_t n) {
  int64_t got = ReadAt(pos_, buf, n);
  if (got > 0) pos_ += got;
  return got;
}

bool InputFile::ReadExact(void* buf, size_t n) { return Read(buf, n) == static_cast<int64_t>(n); }

int64_t InputFile::ReadAt(int64_t pos, void* buf, size_t n) const {
  if (fd_ < 0 || pos < 0) return -1;
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

intptr_t InputFile::NativeHandle() const { return fd_; }

void InputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pos_ = 0;
}

std::string ReadWholeFile(std::u16string_view path) {
  InputFile f = InputFile::OpenOrThrow(path);
  std::string data;
  char buf[1 << 16];
  for (;;) {
    int64_t n = f.Read(buf, sizeof buf);
    if (n < 0) throw MakeOpenError(path, errno);
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  return data;
}

}  // namespace ordana
