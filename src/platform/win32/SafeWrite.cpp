// The save layer on Windows. The file is opened once for reading and writing
// with writers denied (share mode FILE_SHARE_READ | FILE_SHARE_DELETE), so a
// second saver waits at its open until the first one is done, and LockFileEx
// holds the whole file from the layout decision to the end of the commit.
//
// A rewrite goes into a temporary file in the file's folder, which gets the
// original's attributes and access control list, is flushed and then takes
// the original's name: the original (still open, locked and denying writers)
// is first renamed through its own handle to ".<name>.ordana-old", the new
// file is moved to the name (MOVEFILE_WRITE_THROUGH), and the old one is
// deleted when its handle closes. (ReplaceFileW and a replacing MoveFileExW
// both refuse a file that is open, and closing it first would let another
// saver in between.) A crash between the two renames leaves the old file
// under the ".ordana-old" name, which the next save puts back. Where the
// file has other hard links or alternate data streams, where its folder
// does not take new files, or where its attributes cannot be carried over,
// the new content is written over the file itself with the old content in a
// journal, as on POSIX (platform/SaveJournal.h).
#include "platform/SafeWrite.h"

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/SaveBackend.h"
#include "platform/SaveJournal.h"
#include "platform/TextCodec.h"
#include "platform/win32/WinFiles.h"

namespace ordana {

namespace {

using win32::Handle;

// The errno value of the last failed Win32 call.
int LastErrno() {
  const int e = win32::ErrnoFromWin32(::GetLastError());
  return e ? e : EIO;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The saved file and the save's own files: others may read them, nobody else
// may write them, and this saver may rename or delete them while open.
constexpr DWORD kShareDenyWrite = FILE_SHARE_READ | FILE_SHARE_DELETE;

// Each wrapper asks the hook first: a nonzero answer is the call's errno.
HANDLE OpenAs(SaveStep step, const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
              DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  if (int e = InjectedSaveFault(step)) return errno = e, INVALID_HANDLE_VALUE;
  HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) errno = LastErrno();
  return h;
}

bool FlushAs(SaveStep step, HANDLE h) {
  if (int e = InjectedSaveFault(step)) return errno = e, false;
  if (::FlushFileBuffers(h)) return true;
  return errno = LastErrno(), false;
}

bool SetSize(HANDLE h, int64_t size) {
  if (int e = InjectedSaveFault(SaveStep::Truncate)) return errno = e, false;
  FILE_END_OF_FILE_INFO eof{};
  eof.EndOfFile.QuadPart = size;
  if (::SetFileInformationByHandle(h, FileEndOfFileInfo, &eof, sizeof eof)) return true;
  return errno = LastErrno(), false;
}

// Marks an open file (opened with DELETE access) for removal when its last
// handle closes.
bool DeleteOnClose(HANDLE h) {
  if (int e = InjectedSaveFault(SaveStep::Unlink)) return errno = e, false;
  FILE_DISPOSITION_INFO d{};
  d.DeleteFile = TRUE;
  if (::SetFileInformationByHandle(h, FileDispositionInfo, &d, sizeof d)) return true;
  return errno = LastErrno(), false;
}

// Renames an open file (opened with DELETE access) through its handle.
bool RenameHandle(HANDLE h, const std::wstring& to, bool replace) {
  std::string buf(sizeof(FILE_RENAME_INFO) + (to.size() + 1) * sizeof(wchar_t), '\0');
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, to.c_str(), (to.size() + 1) * sizeof(wchar_t));
  if (::SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buf.size()))) return true;
  return errno = LastErrno(), false;
}

bool WriteAt(SaveStep step, HANDLE h, const char* p, size_t n, int64_t pos) {
  while (n > 0) {
    if (int e = InjectedSaveFault(step)) return errno = e, false;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n, size_t{1} << 30));
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(uint64_t(pos) & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(uint64_t(pos) >> 32);
    DWORD put = 0;
    if (!::WriteFile(h, p, want, &put, &ov)) return errno = LastErrno(), false;
    if (put == 0) return errno = EIO, false;
    p += put;
    pos += put;
    n -= put;
  }
  return true;
}

int64_t ReadSome(HANDLE h, void* buf, size_t n, int64_t pos) {
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, size_t{1} << 30));
    const uint64_t at = uint64_t(pos) + done;
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!::ReadFile(h, p + done, want, &got, &ov)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      errno = LastErrno();
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

bool ReadExact(HANDLE h, void* buf, size_t n, int64_t pos) {
  const int64_t got = ReadSome(h, buf, n, pos);
  if (got == static_cast<int64_t>(n)) return true;
  if (got >= 0) errno = EIO;
  return false;
}

constexpr size_t kCopyChunk = 1 << 20;

bool CopyPositional(SaveStep step, HANDLE in, int64_t inPos, HANDLE out, int64_t outPos, int64_t len) {
  std::vector<char> buf(static_cast<size_t>(std::max<int64_t>(std::min<int64_t>(len, kCopyChunk), 1)));
  while (len > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(len, int64_t(buf.size())));
    if (!ReadExact(in, buf.data(), want, inPos)) return false;
    if (!WriteAt(step, out, buf.data(), want, outPos)) return false;
    inPos += int64_t(want);
    outPos += int64_t(want);
    len -= int64_t(want);
  }
  return true;
}

int64_t HandleSize(HANDLE h) {
  LARGE_INTEGER s{};
  return ::GetFileSizeEx(h, &s) ? static_cast<int64_t>(s.QuadPart) : -1;
}

struct FileId {
  DWORD serial = 0;
  uint64_t index = 0;
  DWORD links = 0;
  DWORD attributes = 0;
  bool operator==(const FileId& o) const { return serial == o.serial && index == o.index; }
};

bool IdOf(HANDLE h, FileId& id) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) return errno = LastErrno(), false;
  id.serial = info.dwVolumeSerialNumber;
  id.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  id.links = info.nNumberOfLinks;
  id.attributes = info.dwFileAttributes;
  return true;
}

// The identity of what a path names now (links followed); attribute access
// only, which no share mode keeps out.
bool IdOfPath(const std::wstring& path, FileId& id) {
  Handle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h && IdOf(h.get(), id);
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return L".";
  // "C:\" and "\\?\C:\" keep their backslash.
  if (slash > 0 && path[slash - 1] == L':') return path.substr(0, slash + 1);
  return path.substr(0, slash);
}
std::wstring NameOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}
std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}
std::wstring Companion(const std::wstring& name, const wchar_t* suffix) {
  return journal::CompanionName(name, std::wstring(suffix), 255);
}

// The file a path stands for once symbolic links and junctions are
// followed; a path to nothing stays as it is (the file may be created there).
std::wstring ResolveTarget(std::u16string_view path) {
  std::wstring p = win32::SystemPath(path);
  const DWORD attributes = ::GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return p;
  Handle h(::CreateFileW(p.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return p;
  std::wstring out(MAX_PATH, L'\0');
  for (int tries = 0; tries < 3; ++tries) {
    const DWORD n = ::GetFinalPathNameByHandleW(h.get(), out.data(), static_cast<DWORD>(out.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return p;
    if (n < out.size()) {
      out.resize(n);
      return out;
    }
    out.resize(n + 1);
  }
  return p;
}

std::wstring TempFolder() {
  wchar_t buf[MAX_PATH + 2];
  const DWORD n = ::GetTempPathW(MAX_PATH + 2, buf);
  if (n == 0 || n > MAX_PATH + 1) return L".";
  std::wstring t(buf, n);
  while (t.size() > 3 && t.back() == L'\\') t.pop_back();
  return t;
}

bool FolderRefusesNewFiles(int e) { return e == EACCES || e == EPERM || e == EROFS; }

// --- Console interrupts -----------------------------------------------------------
// While a temporary file exists, Ctrl+C, Ctrl+Break and closing the console
// remove it before the process ends (the handler runs on a thread of its
// own; the file goes when the process's handle of it closes).
wchar_t gTempPath[32768];
std::atomic<bool> gTempArmed{false};
std::atomic<bool> gSlotTaken{false};

BOOL WINAPI RemoveTempOnInterrupt(DWORD) {
  if (gTempArmed.exchange(false)) ::DeleteFileW(gTempPath);
  return FALSE;  // the next handler (the default one ends the process)
}

class TempFileInterruptGuard {
 public:
  ~TempFileInterruptGuard() { Disarm(); }
  void Arm(const std::wstring& path) {
    if (owner_ || path.size() >= sizeof gTempPath / sizeof gTempPath[0]) return;
    if (gSlotTaken.exchange(true)) return;  // another thread's save holds it
    owner_ = true;
    std::memcpy(gTempPath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    gTempArmed = true;
    ::SetConsoleCtrlHandler(RemoveTempOnInterrupt, TRUE);
  }
  void Disarm() {
    if (!owner_) return;
    gTempArmed = false;
    ::SetConsoleCtrlHandler(RemoveTempOnInterrupt, FALSE);
    owner_ = false;
    gSlotTaken = false;
  }

 private:
  bool owner_ = false;
};

}  // namespace

// --- The session -----------------------------------------------------------------------

struct SaveSession::Impl : SaveFailureState {
  bool HasFile() const { return file.valid(); }
  using Range = journal::Range;

  SaveOptions options;
  std::wstring target;  // the file, links followed, in the form the wide calls take
  std::wstring folder;
  std::wstring name;
  Handle file;
  bool canRename = false;  // the handle has DELETE access
  FileId id;
  bool created = false;
  bool finished = false;
  bool committed = false;
  bool renamedAway = false;  // the original handle's file is no longer under the name
  SaveMethod method = SaveMethod::None;
  InputFile source;

  HANDLE originalH = INVALID_HANDLE_VALUE;
  int64_t originalSize = 0;
  HANDLE outH = INVALID_HANDLE_VALUE;
  int64_t outPos = 0;

  std::wstring journalPath;
  Handle journalFile;

  ~Impl() { Finish(); }

  void Finish() {
    journalFile.Reset();
    if (created && !committed && file && !renamedAway && StillSameFile()) DeleteOnClose(file.get());
    source.Close();
    file.Reset();
  }


  std::wstring TempName() const { return Join(folder, Companion(name, L".ordana-save.tmp")); }
  std::wstring OldName() const { return Join(folder, Companion(name, L".ordana-old")); }
  std::wstring FolderJournal() const { return Join(folder, Companion(name, L".ordana-journal")); }
  std::wstring TempFolderJournal() const {
    wchar_t n[80];
    std::swprintf(n, 80, L"ordana-journal-%lx-%llx", static_cast<unsigned long>(id.serial),
                  static_cast<unsigned long long>(id.index));
    return Join(TempFolder(), n);
  }

  bool StillSameFile() const {
    FileId now;
    return IdOfPath(target, now) && now == id;
  }

  bool Open(std::u16string_view path);
  bool OpenOnce(bool& retry);
  bool Lock(bool& unsupported);
  void RecoverSwap();
  bool Recover();
  enum class JournalPlace { OwnName, OtherName, TempFolder };
  bool RecoverFrom(const std::wstring& journal, JournalPlace place);
  void RemoveLeftover(const std::wstring& path);

  bool BeginCommit();
  bool Rewrite(const std::function<bool(OutputFile&)>& produce);
  bool RewriteReplacing(const std::function<bool(OutputFile&)>& produce, bool& inPlaceInstead);
  bool RewriteInPlace(const std::function<bool(OutputFile&)>& produce);
  bool Patch(const std::vector<FilePatch>& patches);
  bool CarryOver(HANDLE temp, bool& attributesLost);
  bool HasAlternateStreams() const;

  bool WriteJournal(const std::vector<Range>& ranges);
  bool RemoveJournal();
  bool UndoStuckCommit(const char* what);
  bool RestoreFromJournal();

  bool OutWrite(const char* p, size_t n) {
    if (!WriteAt(SaveStep::Write, outH, p, n, outPos)) return false;
    outPos += int64_t(n);
    return true;
  }
  int64_t ReadOriginal(int64_t pos, void* buf, size_t n) const {
    if (pos < 0) return -1;
    if (pos >= originalSize) return 0;
    n = static_cast<size_t>(std::min<int64_t>(int64_t(n), originalSize - pos));
    return ReadSome(originalH, buf, n, pos);
  }
  bool CopyOriginal(int64_t from, int64_t len) {
    if (from < 0 || from > originalSize) return errno = EINVAL, false;
    if (len < 0) len = originalSize - from;
    if (len > originalSize - from) return errno = EINVAL, false;
    std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(len, 1), kCopyChunk)));
    while (len > 0) {
      const size_t want = static_cast<size_t>(std::min<int64_t>(len, int64_t(buf.size())));
      if (!ReadExact(originalH, buf.data(), want, from)) return false;
      if (!OutWrite(buf.data(), want)) return false;
      from += int64_t(want);
      len -= int64_t(want);
    }
    return true;
  }
};

bool SaveSession::Impl::Open(std::u16string_view path) {
  if (path.empty()) return Fail(SaveFailure::NotFound, ENOENT, "no file name");
  target = ResolveTarget(path);
  if (target.empty()) return Fail(SaveFailure::NotFound, ENOENT, "no file name");
  if (win32::NamesDevice(target)) return Fail(SaveFailure::NotRegular, EINVAL, "not a regular file");
  folder = FolderOf(target);
  name = NameOf(target);
  RecoverSwap();
  for (int attempt = 0; attempt < 100; ++attempt) {
    bool retry = false;
    if (OpenOnce(retry)) break;
    if (!retry) return false;
  }
  if (!file) return Fail(SaveFailure::Changed, 0, "the file keeps being replaced by other programs");
  auto notOpened = [&] {
    Finish();
    return false;
  };
  if (int e = InjectedSaveFault(SaveStep::Locked)) {
    Fail(SaveFailure::IoError, e, "cannot start the save");
    return notOpened();
  }
  if (!Recover()) return notOpened();
  RemoveLeftover(TempName());
  RemoveLeftover(OldName());
  if (!IdOf(file.get(), id) || (originalSize = HandleSize(file.get())) < 0) {
    FailErrno("cannot look at the file");
    return notOpened();
  }
  HANDLE view = INVALID_HANDLE_VALUE;
  if (!::DuplicateHandle(::GetCurrentProcess(), file.get(), ::GetCurrentProcess(), &view, GENERIC_READ, FALSE, 0)) {
    Fail(SaveFailure::IoError, LastErrno(), "cannot read the file");
    return notOpened();
  }
  source = SaveSession::ReadView(reinterpret_cast<intptr_t>(view));
  originalH = file.get();
  status = SaveStatus{};
  CurrentSaveStatus() = status;
  return true;
}

bool SaveSession::Impl::OpenOnce(bool& retry) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, options.lockWaitMs));
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(SaveFailure::NotRegular, EISDIR, "not a regular file");
      if (attributes & FILE_ATTRIBUTE_DEVICE) return Fail(SaveFailure::NotRegular, EINVAL, "not a regular file");
      if (attributes & FILE_ATTRIBUTE_READONLY) return FailWith(SaveFailure::ReadOnly, EACCES, "read-only");
    }
    canRename = true;
    file.Reset(OpenAs(SaveStep::Open, target, GENERIC_READ | GENERIC_WRITE | DELETE, kShareDenyWrite, OPEN_EXISTING));
    if (!file && errno == EACCES) {
      // Write access without the right to delete: the file can still be
      // written in place.
      canRename = false;
      file.Reset(OpenAs(SaveStep::Open, target, GENERIC_READ | GENERIC_WRITE, kShareDenyWrite, OPEN_EXISTING));
    }
    if (file) break;
    const int e = errno;
    if (e == ENOENT && options.createIfMissing) {
      canRename = true;
      file.Reset(OpenAs(SaveStep::Open, target, GENERIC_READ | GENERIC_WRITE | DELETE, kShareDenyWrite, CREATE_NEW));
      if (!file && errno == EEXIST) return retry = true, false;
      if (!file) return Fail(SaveFailure::CreateFailed, errno, "cannot create the file");
      created = true;
      break;
    }
    if (e == ENOENT) return Fail(SaveFailure::NotFound, e, "no such file");
    if (e == EBUSY) {
      // Another saver (or another program writing it) has the file open:
      // wait for it, as for a lock.
      if (int he = InjectedSaveFault(SaveStep::LockBusy))
        return FailWith(SaveFailure::Busy, he, "file is busy: another program is saving it");
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return FailWith(SaveFailure::Busy, EBUSY, "file is busy: another program is saving it");
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(50));
      continue;
    }
    const DWORD now = ::GetFileAttributesW(target.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY))
      return FailWith(SaveFailure::ReadOnly, EACCES, "read-only");
    return Fail(e == EISDIR ? SaveFailure::NotRegular : SaveFailure::Denied, e, "cannot open for writing");
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
    file.Reset();
    return Fail(SaveFailure::NotRegular, EINVAL, "not a regular file");
  }
  bool unsupported = false;
  if (!Lock(unsupported)) {
    if (created) DeleteOnClose(file.get());
    created = false;
    file.Reset();
    return false;
  }
  if (!IdOf(file.get(), id)) {
    const int e = errno;
    file.Reset();
    return Fail(SaveFailure::IoError, e, "cannot look at the file");
  }
  if (!StillSameFile()) {
    file.Reset();
    created = false;
    return retry = true, false;
  }
  if (id.attributes & FILE_ATTRIBUTE_READONLY) {
    file.Reset();
    return FailWith(SaveFailure::ReadOnly, EACCES, "read-only");
  }
  if (unsupported)
    std::fprintf(stderr,
                 "ordana: %s: the file system does not support file locks; saving with the "
                 "identity check only\n",
                 Utf16ToUtf8(win32::Utf16(target)).bytes().c_str());
  return true;
}

bool SaveSession::Impl::Lock(bool& unsupported) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, options.lockWaitMs));
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    int e = InjectedSaveFault(SaveStep::Lock);
    if (!e) {
      OVERLAPPED ov{};
      if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &ov))
        return true;
      const DWORD code = ::GetLastError();
      e = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? EWOULDBLOCK : win32::ErrnoFromWin32(code);
    }
    if (e == ENOLCK || e == ENOTSUP || e == EOPNOTSUPP || e == EINVAL) return unsupported = true;
    if (e != EWOULDBLOCK && e != EBUSY) return Fail(SaveFailure::IoError, e, "cannot lock the file");
    if (int he = InjectedSaveFault(SaveStep::LockBusy))
      return FailWith(SaveFailure::Busy, he, "file is busy: another program is saving it");
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return FailWith(SaveFailure::Busy, EWOULDBLOCK, "file is busy: another program is saving it");
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

// A crash between the two renames of a replace left the old file under the
// ".ordana-old" name and nothing under the file's own: it goes back. (A
// saver in the middle of its replace holds that file open for writing, so
// the open below fails and it is left alone.)
void SaveSession::Impl::RecoverSwap() {
  if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  Handle old(::CreateFileW(OldName().c_str(), GENERIC_READ | DELETE, kShareDenyWrite, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (old) RenameHandle(old.get(), target, false);
}

bool SaveSession::Impl::Recover() {
  if (!RecoverFrom(FolderJournal(), JournalPlace::OwnName)) return false;
  if (id.links > 1) {
    // A save through another name of the file may have left its journal here.
    const std::wstring own = Companion(name, L".ordana-journal");
    static const std::wstring suffix = L".ordana-journal";
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW fd{};
    HANDLE find = ::FindFirstFileExW(Join(folder, L".*" + suffix).c_str(), FindExInfoBasic, &fd,
                                     FindExSearchNameMatch, nullptr, 0);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring n = fd.cFileName;
        if (n.size() > suffix.size() + 1 && n[0] == L'.' && n != own &&
            n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
          found.push_back(Join(folder, n));
      } while (::FindNextFileW(find, &fd));
      ::FindClose(find);
    }
    for (const std::wstring& j : found)
      if (!RecoverFrom(j, JournalPlace::OtherName)) return false;
  }
  return RecoverFrom(TempFolderJournal(), JournalPlace::TempFolder);
}

bool SaveSession::Impl::RecoverFrom(const std::wstring& journalName, JournalPlace place) {
  const bool inTempFolder = place == JournalPlace::TempFolder;
  // Read and delete access with writers denied: a journal that a running
  // save is writing (or holding) cannot be opened so, and stays.
  Handle j(OpenAs(SaveStep::Open, journalName, GENERIC_READ | DELETE, kShareDenyWrite, OPEN_EXISTING));
  if (!j) {
    if (errno == ENOENT || errno == ENOTDIR || errno == EBUSY) return true;
    return inTempFolder ? true : FailErrno("cannot open the journal " + Utf16ToUtf8(win32::Utf16(journalName)).bytes());
  }
  if (::GetFileType(j.get()) != FILE_TYPE_DISK) return true;
  journal::Info info;
  const int64_t size = HandleSize(j.get());
  const bool complete = journal::ReadIndex(
      [&](void* buf, size_t n, int64_t pos) { return ReadExact(j.get(), buf, n, pos); }, size, info);
  const bool ours = complete && info.dev == uint64_t(id.serial) && info.ino == id.index;
  if (complete && !ours && place != JournalPlace::OwnName) return true;  // another file's
  if (ours) {
    // An interrupted save of this file: put the old bytes back.
    int64_t at = 0;
    for (const Range& r : info.ranges) {
      if (!CopyPositional(SaveStep::Write, j.get(), at, file.get(), r.offset, r.length))
        return Fail(SaveFailure::IoError, errno ? errno : EIO, "an interrupted earlier save could not be undone");
      at += r.length;
    }
    if (!SetSize(file.get(), int64_t(info.size)) || !FlushAs(SaveStep::Sync, file.get()))
      return Fail(SaveFailure::IoError, errno ? errno : EIO, "an interrupted earlier save could not be undone");
  }
  if (!DeleteOnClose(j.get()))
    return FailErrno("cannot remove the journal " + Utf16ToUtf8(win32::Utf16(journalName)).bytes());
  return true;
}

// A temporary or old file of an earlier save that no saver holds goes.
void SaveSession::Impl::RemoveLeftover(const std::wstring& path) {
  Handle h(OpenAs(SaveStep::Open, path, GENERIC_READ | DELETE, kShareDenyWrite, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!h) return;
  FileId leftover;
  if (::GetFileType(h.get()) == FILE_TYPE_DISK && IdOf(h.get(), leftover) &&
      !(leftover.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) && !(leftover == id))
    DeleteOnClose(h.get());
}

bool SaveSession::Impl::BeginCommit() {
  if (!file || finished) {
    if (!file && status.ok()) return Fail(SaveFailure::IoError, EBADF, "the file is not open");
    if (!file) return CurrentSaveStatus() = status, false;
    return Fail(SaveFailure::IoError, EALREADY, "the save is already finished");
  }
  finished = true;
  if (int e = InjectedSaveFault(SaveStep::Committing)) return Fail(SaveFailure::IoError, e, "cannot save");
  if (!StillSameFile()) return Fail(SaveFailure::Changed, 0, "another program replaced the file during the save");
  return true;
}

bool SaveSession::Impl::HasAlternateStreams() const {
  WIN32_FIND_STREAM_DATA data{};
  HANDLE find = ::FindFirstStreamW(target.c_str(), FindStreamInfoStandard, &data, 0);
  if (find == INVALID_HANDLE_VALUE) return false;  // none, or not supported here
  bool other = false;
  do other = other || std::wstring_view(data.cStreamName) != L"::$DATA";
  while (!other && ::FindNextStreamW(find, &data));
  ::FindClose(find);
  return other;
}

// The original's attributes (hidden, system, archive, ...) and its access
// control list onto the temporary file. attributesLost: something could not
// be carried over (the caller then writes in place, which keeps it all).
bool SaveSession::Impl::CarryOver(HANDLE temp, bool& attributesLost) {
  if (int e = InjectedSaveFault(SaveStep::CopyAttributes)) {
    errno = e;
    return attributesLost = true;
  }
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) return attributesLost = true;
  FILE_BASIC_INFO onto{};
  onto.FileAttributes = basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
  if (onto.FileAttributes == 0) onto.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(temp, FileBasicInfo, &onto, sizeof onto)) return attributesLost = true;
  if (InjectedSaveFault(SaveStep::CopyAttributes)) return attributesLost = true;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
      ERROR_SUCCESS)
    return true;  // no access control lists here
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(sd, &control, &revision);
  // An inherited list comes again from the folder; an own one is copied.
  bool ok = true;
  if (control & SE_DACL_PROTECTED)
    ok = ::SetSecurityInfo(temp, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
  ::LocalFree(sd);
  if (!ok) attributesLost = true;
  return true;
}

bool SaveSession::Impl::Rewrite(const std::function<bool(OutputFile&)>& produce) {
  if (!BeginCommit()) return false;
  bool inPlace = id.links > 1 || !canRename || created || HasAlternateStreams();
  if (!inPlace) {
    if (RewriteReplacing(produce, inPlace)) return true;
    if (!inPlace) return false;
    status = SaveStatus{};
  }
  return RewriteInPlace(produce);
}

bool SaveSession::Impl::RewriteReplacing(const std::function<bool(OutputFile&)>& produce, bool& inPlaceInstead) {
  const std::wstring temp = TempName();
  TempFileInterruptGuard guard;
  Handle t;
  for (int attempt = 0; attempt < 2 && !t; ++attempt) {
    t.Reset(OpenAs(SaveStep::Open, temp, GENERIC_READ | GENERIC_WRITE | DELETE, kShareDenyWrite, CREATE_NEW));
    if (!t && errno == EEXIST) RemoveLeftover(temp);
  }
  if (!t) {
    if (FolderRefusesNewFiles(errno)) return inPlaceInstead = true, false;
    return FailErrno("cannot create a temporary file");
  }
  guard.Arm(temp);
  auto abandon = [&](SaveFailure failure, int code, std::string what) {
    if (!DeleteOnClose(t.get())) ::DeleteFileW(temp.c_str());
    t.Reset();
    if (failure == SaveFailure::None) return false;
    return Fail(failure, code, std::move(what));
  };
  outH = t.get();
  outPos = 0;
  OutputFile out(this);
  if (ProducerOutcome run = RunProducer(produce, out); run.failure != SaveFailure::None)
    return abandon(run.failure, run.code, std::move(run.what));
  bool attributesLost = false;
  if (!CarryOver(t.get(), attributesLost)) return abandon(status.failure, status.code, status.reason);
  if (attributesLost) {
    abandon(SaveFailure::None, 0, "");
    return inPlaceInstead = true, false;
  }
  if (!FlushAs(SaveStep::Sync, t.get())) return abandon(SaveFailure::IoError, errno, "sync failed");
  if (!StillSameFile()) return abandon(SaveFailure::Changed, 0, "another program replaced the file during the save");
  // The old file steps aside through its own handle (it stays open, locked
  // and closed to writers), then the new one takes the name.
  const std::wstring old = OldName();
  if (int e = InjectedSaveFault(SaveStep::Rename)) return abandon(SaveFailure::IoError, e, "cannot replace the file");
  if (!RenameHandle(file.get(), old, true)) {
    if (errno == EACCES || errno == EBUSY) {
      // Another program holds the file without letting it be renamed.
      abandon(SaveFailure::None, 0, "");
      return inPlaceInstead = true, false;
    }
    return abandon(SaveFailure::IoError, errno, "cannot replace the file");
  }
  renamedAway = true;
  int e = InjectedSaveFault(SaveStep::Rename);
  if (!e && !RenameHandle(t.get(), target, false)) e = errno ? errno : EIO;
  if (e) {
    if (RenameHandle(file.get(), target, false)) renamedAway = false;
    return abandon(SaveFailure::IoError, e, "cannot replace the file");
  }
  guard.Disarm();
  committed = true;
  method = SaveMethod::Replaced;
  // The rename is on disk once the new file's metadata is flushed; the
  // content is in place when that fails, so the save stands.
  FlushAs(SaveStep::Sync, t.get());
  t.Reset();
  DeleteOnClose(file.get());
  return true;
}

bool SaveSession::Impl::WriteJournal(const std::vector<Range>& ranges) {
  journalPath = FolderJournal();
  journalFile.Reset(OpenAs(SaveStep::JournalWrite, journalPath, GENERIC_READ | GENERIC_WRITE | DELETE,
                           kShareDenyWrite, CREATE_NEW));
  if (!journalFile && FolderRefusesNewFiles(errno)) {
    journalPath = TempFolderJournal();
    journalFile.Reset(OpenAs(SaveStep::JournalWrite, journalPath, GENERIC_READ | GENERIC_WRITE | DELETE,
                             kShareDenyWrite, CREATE_NEW));
  }
  if (!journalFile) {
    const int e = errno;
    journalPath.clear();
    return Fail(SaveFailure::IoError, e, "cannot create the journal");
  }
  auto fail = [&](const char* what) {
    const int e = errno ? errno : EIO;
    if (!DeleteOnClose(journalFile.get())) ::DeleteFileW(journalPath.c_str());
    journalFile.Reset();
    journalPath.clear();
    return Fail(SaveFailure::IoError, e, what);
  };
  int64_t at = 0;
  for (const Range& r : ranges) {
    if (!CopyPositional(SaveStep::JournalWrite, file.get(), r.offset, journalFile.get(), at, r.length))
      return fail("cannot write the journal");
    at += r.length;
  }
  const std::string index =
      journal::BuildIndex(ranges, id.serial, id.index, uint64_t(originalSize), Utf16ToUtf8(win32::Utf16(target)).bytes());
  if (!WriteAt(SaveStep::JournalWrite, journalFile.get(), index.data(), index.size(), at) ||
      !FlushAs(SaveStep::JournalSync, journalFile.get()))
    return fail("cannot write the journal");
  // The commit marker: from here on the journal is what a crash is undone from.
  if (!WriteAt(SaveStep::JournalWrite, journalFile.get(), journal::kMarker, journal::kMarkerSize,
               at + int64_t(index.size())) ||
      !FlushAs(SaveStep::JournalSync, journalFile.get()))
    return fail("cannot write the journal");
  return true;
}

// Removes the finished commit's journal. When it cannot be removed, its
// commit marker is wiped instead, so that the next save does not undo this
// one. False (the journal still open and complete) when neither works.
bool SaveSession::Impl::RemoveJournal() {
  if (journalPath.empty()) return true;
  if (!DeleteOnClose(journalFile.get())) {
    const int64_t size = HandleSize(journalFile.get());
    const bool wiped = size >= int64_t(journal::kMarkerSize) &&
                       WriteAt(SaveStep::JournalWrite, journalFile.get(), "\0\0\0\0\0\0\0\0", journal::kMarkerSize,
                               size - int64_t(journal::kMarkerSize)) &&
                       FlushAs(SaveStep::JournalSync, journalFile.get());
    if (!wiped) return false;
  }
  journalFile.Reset();
  journalPath.clear();
  return true;
}

bool SaveSession::Impl::UndoStuckCommit(const char* what) {
  const int e = errno ? errno : EIO;
  RestoreFromJournal();
  journalFile.Reset();
  journalPath.clear();
  return Fail(SaveFailure::IoError, e, what);
}

bool SaveSession::Impl::RestoreFromJournal() {
  journal::Info info;
  if (!journalFile || !journal::ReadIndex(
                          [&](void* buf, size_t n, int64_t pos) { return ReadExact(journalFile.get(), buf, n, pos); },
                          HandleSize(journalFile.get()), info))
    return false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool ok = true;
    int64_t at = 0;
    for (const Range& r : info.ranges) {
      ok = ok && CopyPositional(SaveStep::Write, journalFile.get(), at, file.get(), r.offset, r.length);
      at += r.length;
    }
    ok = ok && SetSize(file.get(), int64_t(info.size)) && FlushAs(SaveStep::Sync, file.get());
    if (ok) return true;
  }
  return false;
}

bool SaveSession::Impl::RewriteInPlace(const std::function<bool(OutputFile&)>& produce) {
  if (!WriteJournal({{0, originalSize}})) return false;
  // The producer reads the old content from the journal from now on.
  originalH = journalFile.get();
  outH = file.get();
  outPos = 0;
  OutputFile out(this);
  ProducerOutcome run = RunProducer(produce, out);
  bool ok = run.failure == SaveFailure::None;
  int e = run.code;
  SaveFailure failure = run.failure;
  std::string what = std::move(run.what);
  if (ok) {
    if (!SetSize(file.get(), outPos)) {
      e = errno;
      ok = false, failure = SaveFailure::IoError, what = "cannot set the file's size";
    } else if (!FlushAs(SaveStep::Sync, file.get())) {
      e = errno;
      ok = false, failure = SaveFailure::IoError, what = "sync failed";
    }
  }
  originalH = file.get();
  if (!ok) {
    if (RestoreFromJournal()) RemoveJournal();
    else journalFile.Reset();  // the next save restores the file from it
    return Fail(failure, failure == SaveFailure::IoError ? (e ? e : EIO) : 0, what);
  }
  if (!RemoveJournal()) return UndoStuckCommit("cannot remove the journal");
  committed = true;
  method = SaveMethod::InPlace;
  return true;
}

bool SaveSession::Impl::Patch(const std::vector<FilePatch>& patches) {
  if (!BeginCommit()) return false;
  std::vector<Range> ranges;
  if (const char* wrong = CheckPatches(patches, originalSize, &ranges))
    return Fail(SaveFailure::IoError, EINVAL, wrong);
  bool same = true;
  for (const FilePatch& p : patches) {
    std::string old(p.bytes.size(), '\0');
    if (!ReadExact(file.get(), old.data(), old.size(), p.offset)) return FailErrno("cannot read the file");
    same = same && old == p.bytes;
  }
  if (same) {
    committed = true;
    method = SaveMethod::Unchanged;
    return true;
  }
  if (!WriteJournal(ranges)) return false;
  bool ok = true;
  for (const FilePatch& p : patches)
    ok = ok && WriteAt(SaveStep::Write, file.get(), p.bytes.data(), p.bytes.size(), p.offset);
  ok = ok && FlushAs(SaveStep::Sync, file.get());
  if (!ok) {
    const int e = errno ? errno : EIO;
    if (RestoreFromJournal()) RemoveJournal();
    else journalFile.Reset();
    return Fail(SaveFailure::IoError, e, "write failed");
  }
  if (!RemoveJournal()) return UndoStuckCommit("cannot remove the journal");
  committed = true;
  method = SaveMethod::Patched;
  return true;
}

std::string SaveErrorText(int code) { return SystemMessage(code); }

}  // namespace ordana

// The public face is the same on every system.
#include "platform/SaveSessionFacade.h"
