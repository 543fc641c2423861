#pragma once
// What the Windows backend of the file layer and of the save layer share:
// paths in the form the wide Win32 calls take, the one rule by which a file
// is opened for reading, and the mapping of the system's error codes to the
// errno values the file layer's interface speaks (FileIO.h, SafeWrite.h).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/FileIO.h"

namespace ordana::win32 {

// The path for CreateFileW and its kin: the path mappings applied, made
// absolute (GetFullPathNameW: '/' becomes '\', "." and ".." are resolved),
// and, when it is too long for the classic limit of 260 characters, given
// the \\?\ form (\\?\UNC\server\share\... for a UNC path). A path in the
// \\?\ or \\.\ form already is taken as it is. Empty for an empty path.
std::wstring SystemPath(std::u16string_view path);
// True for a path that names a device rather than a file: the \\.\ form
// (GetFullPathNameW gives "\\.\NUL" for "C:\music\NUL") or a last part that
// is a reserved device name (CON, PRN, AUX, NUL, COM0..9, LPT0..9, CONIN$,
// CONOUT$, with or without an extension) outside the \\?\ form.
bool NamesDevice(std::wstring_view systemPath);

// The errno value (<cerrno>) for a GetLastError() code.
int ErrnoFromWin32(DWORD code);

// The share mode of a reader: FILE_SHARE_READ | FILE_SHARE_DELETE (others
// may read, and a save may put a new file in its place, but nobody may write
// it), plus FILE_SHARE_WRITE for ReadShare::Full.
DWORD ShareModeFor(ReadShare share);

// Opens a regular file for reading (GENERIC_READ, the given share mode and
// flags such as FILE_FLAG_OVERLAPPED). A folder (EISDIR), a device or
// anything else that is not a file on a disk (ENXIO) is refused, a device
// name without an open. On failure returns INVALID_HANDLE_VALUE with the
// cause in *err (errno).
HANDLE OpenRegularFileForReading(std::u16string_view path, ReadShare share, DWORD flags, int* err,
                                  int64_t* size = nullptr);

// An owned HANDLE, closed by the destructor.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(Handle&& o) noexcept : h_(o.Release()) {}
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  explicit operator bool() const { return valid(); }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (valid()) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

inline std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string Utf16(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }

}  // namespace ordana::win32
