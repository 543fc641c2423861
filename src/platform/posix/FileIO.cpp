#include "platform/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/FileNames.h"
#include "platform/posix/OpenRegular.h"
#include "platform/posix/ReadFully.h"

namespace ordana {

std::string SystemMessage(int err) { return std::strerror(err); }

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
  // O_NONBLOCK stays: it guarded the open only, and reads of a regular file
  // do not heed it (they wait for the disk either way).
  if (out) *out = st;
  return fd;
}

// --- InputFile ------------------------------------------------------------

namespace {
inline int Fd(intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

InputFile InputFile::Open(std::u16string_view path, int* err, ReadShare) {
  InputFile f;
  struct stat st {};
  f.handle_ = posix::OpenRegularFileForReading(NativePath(path), err, &st);
  if (f.IsOpen()) f.sizeAtOpen_ = static_cast<int64_t>(st.st_size);
  return f;
}

int64_t InputFile::Size() const {
  struct stat st {};
  if (!IsOpen() || ::fstat(Fd(handle_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t InputFile::ReadAt(int64_t pos, void* buf, size_t n) const {
  return IsOpen() ? posix::ReadFullyAt(Fd(handle_), pos, buf, n) : -1;
}

InputFile InputFile::Duplicate() const {
  InputFile copy(IsOpen() ? ::fcntl(Fd(handle_), F_DUPFD_CLOEXEC, 0) : -1);
  if (copy.IsOpen()) copy.sizeAtOpen_ = sizeAtOpen_;
  return copy;
}

void InputFile::Close() {
  if (IsOpen()) ::close(Fd(handle_));
  handle_ = -1;
  pos_ = 0;
  sizeAtOpen_ = -1;
}

}  // namespace ordana
