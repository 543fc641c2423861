// The file layer on Windows: wide Win32 calls only, paths made absolute and
// put in the \\?\ form when long, only regular files opened for reading.
#include "platform/FileIO.h"

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "platform/win32/WinFiles.h"

namespace ordana {

// The same words as the Linux build gives for the errno values the backend
// produces, so that a message reads alike on both systems (the C runtime's
// own texts differ between its versions, and some are odd).
std::string SystemMessage(int err) {
  switch (err) {
    case EPERM: return "Operation not permitted";
    case ENOENT: return "No such file or directory";
    case EIO: return "Input/output error";
    case ENXIO: return "No such device or address";
    case EBADF: return "Bad file descriptor";
    case ENOMEM: return "Cannot allocate memory";
    case EACCES: return "Permission denied";
    case EBUSY: return "Device or resource busy";
    case EEXIST: return "File exists";
    case EXDEV: return "Invalid cross-device link";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case EINVAL: return "Invalid argument";
    case EMFILE: return "Too many open files";
    case EFBIG: return "File too large";
    case ENOSPC: return "No space left on device";
    case EROFS: return "Read-only file system";
    case ENAMETOOLONG: return "File name too long";
    case ENOLCK: return "No locks available";
    case ENOTEMPTY: return "Directory not empty";
    case ELOOP: return "Too many levels of symbolic links";
    case ENOTSUP: return "Operation not supported";
    case ETIMEDOUT: return "Connection timed out";
    case ECANCELED: return "Operation canceled";
    default: return std::strerror(err);
  }
}

namespace win32 {

int ErrnoFromWin32(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_NO_MORE_FILES:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_CANNOT_MAKE:
    case ERROR_DELETE_PENDING:
      return EACCES;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
      return EFBIG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
      return EINVAL;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return ENOTSUP;
    case ERROR_OPERATION_ABORTED:
    case ERROR_CANCELLED:
      return ECANCELED;
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
      return ETIMEDOUT;
    default:
      return EIO;
  }
}

namespace {

bool StartsWith(std::wstring_view s, std::wstring_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// GetFullPathNameW, whatever the length of the result.
std::wstring FullPath(const std::wstring& path) {
  std::wstring out(path.size() + MAX_PATH, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
    if (n == 0) return path;
    if (n < out.size()) {
      out.resize(n);
      return out;
    }
    out.resize(n + 1);
  }
  return path;
}

}  // namespace

std::wstring SystemPath(std::u16string_view path) {
  if (path.empty()) return {};
  std::wstring p = Wide(MapPath(path));
  if (StartsWith(p, L"\\\\?\\") || StartsWith(p, L"\\\\.\\")) return p;
  p = FullPath(p);
  // The classic limit holds MAX_PATH characters with the terminator, and a
  // folder must leave room for an 8.3 name (12) below it.
  if (p.size() < MAX_PATH - 12 || StartsWith(p, L"\\\\?\\") || StartsWith(p, L"\\\\.\\")) return p;
  if (StartsWith(p, L"\\\\")) return L"\\\\?\\UNC\\" + p.substr(2);
  return L"\\\\?\\" + p;
}

bool NamesDevice(std::wstring_view p) {
  if (StartsWith(p, L"\\\\.\\")) return true;
  if (StartsWith(p, L"\\\\?\\")) return false;
  const size_t slash = p.find_last_of(L"\\/:");
  std::wstring_view name = slash == std::wstring_view::npos ? p : p.substr(slash + 1);
  name = name.substr(0, name.find(L'.'));
  while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
  std::wstring up;
  for (wchar_t c : name) up += (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
  if (up == L"CON" || up == L"PRN" || up == L"AUX" || up == L"NUL" || up == L"CONIN$" || up == L"CONOUT$")
    return true;
  return up.size() == 4 && (StartsWith(up, L"COM") || StartsWith(up, L"LPT")) && up[3] >= L'0' &&
         up[3] <= L'9';
}

DWORD ShareModeFor(ReadShare share) {
  return FILE_SHARE_READ | FILE_SHARE_DELETE | (share == ReadShare::Full ? FILE_SHARE_WRITE : 0);
}

namespace {

// The attributes of what the path names, following a symbolic link (or
// junction) to its target. False with the cause in *err.
bool Query(const std::wstring& sp, WIN32_FILE_ATTRIBUTE_DATA& data, int* err) {
  auto fail = [&](DWORD code) {
    if (err) *err = ErrnoFromWin32(code);
    return false;
  };
  if (sp.empty()) return fail(ERROR_FILE_NOT_FOUND);
  if (!::GetFileAttributesExW(sp.c_str(), GetFileExInfoStandard, &data)) return fail(::GetLastError());
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  // A link: ask the file it leads to (no access needed to read attributes).
  Handle h(::CreateFileW(sp.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return fail(::GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h.get(), &info)) return fail(::GetLastError());
  data.dwFileAttributes = info.dwFileAttributes;
  data.ftCreationTime = info.ftCreationTime;
  data.ftLastAccessTime = info.ftLastAccessTime;
  data.ftLastWriteTime = info.ftLastWriteTime;
  data.nFileSizeHigh = info.nFileSizeHigh;
  data.nFileSizeLow = info.nFileSizeLow;
  return true;
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsFile(const std::wstring& sp, DWORD attributes) {
  return !IsFolder(attributes) && !(attributes & FILE_ATTRIBUTE_DEVICE) && !NamesDevice(sp);
}

}  // namespace

HANDLE OpenRegularFileForReading(std::u16string_view path, ReadShare share, DWORD flags, int* err, int64_t* size) {
  auto fail = [&](int e) {
    if (err) *err = e;
    return INVALID_HANDLE_VALUE;
  };
  const std::wstring sp = SystemPath(path);
  if (sp.empty()) return fail(ENOENT);
  if (NamesDevice(sp)) return fail(ENXIO);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  int e = 0;
  if (!Query(sp, data, &e)) return fail(e);
  if (IsFolder(data.dwFileAttributes)) return fail(EISDIR);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return fail(ENXIO);
  Handle h(::CreateFileW(sp.c_str(), GENERIC_READ, ShareModeFor(share), nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | flags, nullptr));
  if (!h) return fail(ErrnoFromWin32(::GetLastError()));
  // What was opened must be a file on a disk, not a folder (another file
  // put in its place by a save is the one the path names now).
  if (::GetFileType(h.get()) != FILE_TYPE_DISK) return fail(ENXIO);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h.get(), &info)) return fail(ErrnoFromWin32(::GetLastError()));
  if (IsFolder(info.dwFileAttributes)) return fail(EISDIR);
  if (size) *size = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  return h.Release();
}

}  // namespace win32

using win32::Handle;
using win32::SystemPath;

// --- Queries ------------------------------------------------------------------

std::vector<std::u16string> ListDirectory(std::u16string_view folder) {
  std::vector<std::u16string> names;
  if (folder.empty()) return names;
  std::wstring mask = SystemPath(folder);
  if (mask.empty()) return names;
  if (mask.back() != L'\\') mask += L'\\';
  mask += L'*';
  WIN32_FIND_DATAW fd{};
  HANDLE find = ::FindFirstFileExW(mask.c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring_view n = fd.cFileName;
    if (n == L"." || n == L"..") continue;
    names.push_back(win32::Utf16(n));
  } while (::FindNextFileW(find, &fd));
  ::FindClose(find);
  return names;
}

bool FileExists(std::u16string_view path) {
  const std::wstring sp = SystemPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return win32::Query(sp, data, nullptr) && win32::IsFile(sp, data.dwFileAttributes);
}

bool DirectoryExists(std::u16string_view path) {
  const std::wstring sp = SystemPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return win32::Query(sp, data, nullptr) && win32::IsFolder(data.dwFileAttributes);
}

bool FileWritable(std::u16string_view path) {
  const std::wstring sp = SystemPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!win32::Query(sp, data, nullptr)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return false;
  if (win32::IsFolder(data.dwFileAttributes)) return true;
  if (win32::NamesDevice(sp)) return false;
  // The access control list decides the rest: ask for write access without
  // writing anything (and without keeping anyone else out).
  Handle h(::CreateFileW(sp.c_str(), FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return h.valid();
}

bool FileLastWriteTimeUtc(std::u16string_view path, int64_t& unixSeconds, int32_t& millis) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!win32::Query(SystemPath(path), data, nullptr)) return false;
  // 100-nanosecond units since 1601-01-01.
  const int64_t ticks = static_cast<int64_t>((uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                             data.ftLastWriteTime.dwLowDateTime);
  const int64_t since1970 = ticks - 116444736000000000LL;
  int64_t secs = since1970 / 10000000;
  int64_t rest = since1970 % 10000000;
  if (rest < 0) rest += 10000000, --secs;
  unixSeconds = secs;
  millis = static_cast<int32_t>(rest / 10000);
  return true;
}

// --- InputFile ------------------------------------------------------------

namespace {
inline HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

InputFile InputFile::Open(std::u16string_view path, int* err, ReadShare share) {
  InputFile f;
  int64_t size = -1;
  f.handle_ = reinterpret_cast<intptr_t>(win32::OpenRegularFileForReading(path, share, 0, err, &size));
  if (f.IsOpen()) f.sizeAtOpen_ = size;
  return f;
}

int64_t InputFile::Size() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !::GetFileSizeEx(H(handle_), &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

int64_t InputFile::ReadAt(int64_t pos, void* buf, size_t n) const {
  if (!IsOpen() || pos < 0) {
    errno = EBADF;
    return -1;
  }
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, size_t{1} << 30));
    const uint64_t at = static_cast<uint64_t>(pos) + done;
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!::ReadFile(H(handle_), p + done, want, &got, &ov)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_HANDLE_EOF) break;
      errno = win32::ErrnoFromWin32(code);
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

InputFile InputFile::Duplicate() const {
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!IsOpen() || !::DuplicateHandle(::GetCurrentProcess(), H(handle_), ::GetCurrentProcess(), &copy, 0, FALSE,
                                      DUPLICATE_SAME_ACCESS))
    return InputFile();
  InputFile f(reinterpret_cast<intptr_t>(copy));
  f.sizeAtOpen_ = sizeAtOpen_;
  return f;
}

void InputFile::Close() {
  if (IsOpen()) ::CloseHandle(H(handle_));
  handle_ = -1;
  pos_ = 0;
  sizeAtOpen_ = -1;
}

}  // namespace ordana
