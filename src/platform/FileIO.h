#pragma once
// The file layer: RAII file handles, the failure classes a report build can
// raise, and the mapping of paths written on Windows to local paths.
//
// Paths are UTF-16 text as the system holds them (a play log's path, a path
// typed by the user). Every open applies the configured path mappings first
// (MapPath). On POSIX the text is then encoded as UTF-8 (NativePath; names the
// system gave out come back byte for byte: platform/FileNames.h); on Windows
// the UTF-16 text is the name, given to the wide Win32 calls as it is, made
// absolute and, when longer than 260 characters, in the \\?\ form (drive
// letters and UNC paths \\server\share\... alike).
//
// Only regular files are ever opened for reading: a folder, FIFO, socket or
// device named like a file (NUL, CON, COM1 on Windows) is refused before any
// open, so nothing can block or set off a device's side effects.
//
// Error codes are errno values (<cerrno>) on every system: the Windows
// backend maps its GetLastError() codes to them, and SystemMessage() gives
// the same words for them in both builds.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace ordana {

// A failure of a build: a class name ("EConvertError", "EFOpenError",
// "EFCreateError", "EWriteError") and a message (UTF-8). The window and the
// command line show them as ClassName + ":" + Message.
class EOrdanaError : public std::exception {
 public:
  EOrdanaError(std::string className, std::string message)
      : className_(std::move(className)), message_(std::move(message)) {}
  const std::string& ClassName() const { return className_; }
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string className_;
  std::string message_;
};

struct EConvertError : EOrdanaError {
  explicit EConvertError(std::string m) : EOrdanaError("EConvertError", std::move(m)) {}
};
struct EFOpenError : EOrdanaError {
  explicit EFOpenError(std::string m) : EOrdanaError("EFOpenError", std::move(m)) {}
};
struct EFCreateError : EOrdanaError {
  explicit EFCreateError(std::string m) : EOrdanaError("EFCreateError", std::move(m)) {}
};
struct EWriteError : EOrdanaError {
  EWriteError() : EOrdanaError("EWriteError", "Stream write error") {}
};

// "Cannot open file "<name>". <system message>"
EFOpenError MakeOpenError(std::u16string_view fileName, int err);
// "Cannot create file "<name>". <system message>"
EFCreateError MakeCreateError(std::u16string_view fileName, int err);
// The operating system's text for an errno value.
std::string SystemMessage(int err);

// --- Path mapping ----------------------------------------------------------
// A prefix written on Windows (for example "N:\Music\") and the local folder
// it stands for ("/srv/music/"). The prefix matches without regard to letter
// case; after a match, backslashes in the path become '/'.
struct PathMapping {
  std::u16string windowsPrefix;
  std::u16string localPrefix;
};
// Parses "FROM=TO"; throws std::invalid_argument for text without '='.
PathMapping ParsePathMapping(std::u16string_view text);
void SetPathMappings(std::vector<PathMapping> mappings);  // process-wide
const std::vector<PathMapping>& PathMappings();
// The path with the first matching mapping applied (UTF-16); unchanged when
// no mapping matches.
std::u16string MapPath(std::u16string_view path);
// MapPath, encoded as the bytes of a POSIX name (NameToSystemBytes); on
// Windows the same UTF-8 text, for messages and commands (opens there take the
// UTF-16 path itself).
std::string NativePath(std::u16string_view path);

// --- Queries ------------------------------------------------------------------
bool FileExists(std::u16string_view path);       // a regular file (or a link to one)
bool DirectoryExists(std::u16string_view path);
// True when this process may write the file.
bool FileWritable(std::u16string_view path);
// The file's last-write time in UTC as seconds and milliseconds since
// 1970-01-01 00:00; false when the file cannot be looked at.
bool FileLastWriteTimeUtc(std::u16string_view path, int64_t& unixSeconds, int32_t& millis);
// The names of the entries of a folder (files, sub-folders, everything), in
// the order the system lists them; "." and ".." are left out. A folder that
// is missing or cannot be read, or an empty name, gives an empty list. Every
// name opens again as folder + name, also one that is not valid UTF-8.
std::vector<std::u16string> ListDirectory(std::u16string_view folder);
// Whether a file could be read: Readable when InputFile::Open succeeds,
// NotFound when nothing is at the path (or a link leads nowhere), NotReadable
// when something is there that cannot be opened for reading (no permission,
// a folder, a FIFO or device).
enum class ReadCheck { Readable, NotFound, NotReadable };
ReadCheck CheckReadable(std::u16string_view path);
// What an open of the file (InputFile::Open) came to says the same: opened,
// or the error it set.
ReadCheck ReadCheckOfOpen(bool opened, int err);

// --- Reading --------------------------------------------------------------
// Whom a reader lets at the file while it has it open (Windows share modes;
// POSIX has no such thing and ignores it). Either way others may read it, and
// a save may put a new file in its place.
enum class ReadShare {
  DenyWrite,  // nobody may write the file while it is open (logs, most readers)
  Full        // others may write it too ("sharing fully")
};

// A file opened for reading. Move-only; closed by its destructor on every
// path. Reads never go past what the caller's buffer holds; a read at or past
// the end of the file is a short read, not an error.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(InputFile&& o) noexcept;
  InputFile& operator=(InputFile&& o) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens a regular file for reading; on failure returns a closed file and
  // sets err (errno: EISDIR for a folder, ENXIO for anything else that is no
  // regular file, which is never opened; EBUSY on Windows where another
  // program holds the file in a way the share mode does not allow).
  static InputFile Open(std::u16string_view path, int* err = nullptr,
                        ReadShare share = ReadShare::DenyWrite);
  // Opens for reading or throws EFOpenError naming the file.
  static InputFile OpenOrThrow(std::u16string_view path);

  bool IsOpen() const { return handle_ != -1; }
  explicit operator bool() const { return IsOpen(); }
  int64_t Size() const;          // -1 when unknown
  // The size the open found (-1 when unknown), without asking the system
  // again: what one read of the file through several parsers takes as its
  // size. Size() gives the size now.
  int64_t SizeAtOpen() const { return sizeAtOpen_; }
  int64_t Position() const { return pos_; }
  // Moves the read position; positions past the end are allowed (reads there
  // deliver nothing). Negative positions are refused.
  bool Seek(int64_t pos);
  bool Skip(int64_t n) { return Seek(pos_ + n); }
  // Reads up to n bytes at the current position; returns the count read
  // (0 at the end of the file), or -1 on an input/output error.
  int64_t Read(void* buf, size_t n);
  // Reads exactly n bytes or fails (false) leaving the position undefined.
  bool ReadExact(void* buf, size_t n);
  // Reads up to n bytes at an absolute position without moving the position.
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const;
  void Close();
  // A second handle to the same open file, with a read position of its own
  // (reads through either see the same file, also if its name is given to
  // another file meanwhile); a closed file when this one is closed or the
  // system refuses another handle.
  InputFile Duplicate() const;
  // The operating system's handle of the open file (a descriptor, or a
  // HANDLE on Windows), for handing the file to a helper process; it stays
  // owned by this object. -1 when closed.
  intptr_t NativeHandle() const;

 private:
  friend class SaveSession;  // reads the file it has open and locked
  explicit InputFile(intptr_t handle) : handle_(handle) {}
  // A descriptor on POSIX, a HANDLE on Windows; -1 (INVALID_HANDLE_VALUE)
  // when closed.
  intptr_t handle_ = -1;
  int64_t pos_ = 0;
  int64_t sizeAtOpen_ = -1;
};

// The whole content of a file, or EFOpenError naming the file.
std::string ReadWholeFile(std::u16string_view path);

}  // namespace ordana
