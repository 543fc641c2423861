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
#include <cstdio>
#include <cstring>

#include "platform/SaveCore.h"
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

SaveFile Ref(HANDLE h) { return reinterpret_cast<SaveFile>(h); }
HANDLE H(SaveFile f) { return reinterpret_cast<HANDLE>(f); }

// An OVERLAPPED that places a read or write at pos.
OVERLAPPED At(int64_t pos) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(uint64_t(pos) & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(uint64_t(pos) >> 32);
  return ov;
}

constexpr size_t kMaxCall = size_t{1} << 30;  // bytes one ReadFile or WriteFile moves at most

}  // namespace

// --- The session -----------------------------------------------------------------------
// The algorithm is the portable one (SaveCore.h); here are its system calls.

struct SaveSession::Impl : SaveCore {
  std::wstring target;  // the file, links followed, in the form the wide calls take
  std::wstring folder;
  std::wstring name;
  Handle file;
  bool canRename = false;  // the handle has DELETE access
  FileId id;
  bool renamedAway = false;  // the original handle's file is no longer under the name
  std::wstring journalPath;  // the journal's, while it is open

  ~Impl() override { Finish(); }

  void Finish() override {
    CloseJournal();
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

  // Plain I/O.
  int64_t ReadOnce(SaveFile f, void* buf, size_t n, int64_t pos) const override {
    OVERLAPPED ov = At(pos);
    DWORD got = 0;
    if (::ReadFile(H(f), buf, static_cast<DWORD>(std::min(n, kMaxCall)), &got, &ov)) return got;
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    errno = LastErrno();
    return -1;
  }
  // Always at pos: every output here is positional.
  int64_t WriteOnce(SaveFile f, const void* p, size_t n, int64_t pos) override {
    OVERLAPPED ov = At(pos);
    DWORD put = 0;
    if (::WriteFile(H(f), p, static_cast<DWORD>(std::min(n, kMaxCall)), &put, &ov)) return put;
    errno = LastErrno();
    return -1;
  }
  int64_t SizeOf(SaveFile f) const override {
    LARGE_INTEGER s{};
    return ::GetFileSizeEx(H(f), &s) ? static_cast<int64_t>(s.QuadPart) : -1;
  }
  bool SetSize(SaveFile f, int64_t size) override {
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = size;
    if (::SetFileInformationByHandle(H(f), FileEndOfFileInfo, &eof, sizeof eof)) return true;
    return errno = LastErrno(), false;
  }
  bool Flush(SaveFile f) override {
    if (::FlushFileBuffers(H(f))) return true;
    return errno = LastErrno(), false;
  }

  // The file.
  SaveFile File() const override { return file ? Ref(file.get()) : kNoFile; }
  bool FindTarget(std::u16string_view path) override;
  bool OpenFile(bool& retry) override;
  int TryLock() override {
    OVERLAPPED ov{};
    if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &ov))
      return 0;
    const DWORD code = ::GetLastError();
    return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? EWOULDBLOCK : win32::ErrnoFromWin32(code);
  }
  void CloseFile() override { file.Reset(); }
  void RemoveCreated() override { DeleteOnClose(file.get()); }
  bool LookAtFile() override { return IdOf(file.get(), id) && (originalSize = SizeOf(File())) >= 0; }
  bool StillSameFile() const override {
    FileId now;
    return IdOfPath(target, now) && now == id;
  }
  bool ReadOnly() const override { return id.attributes & FILE_ATTRIBUTE_READONLY; }
  std::string TargetText() const override { return Utf16ToUtf8(win32::Utf16(target)).bytes(); }
  void RecoverSwap();
  int64_t Links() const override { return id.links; }
  bool RecoverAt(JournalPlace place) override;
  bool RecoverFrom(const std::wstring& journalName, JournalPlace place);
  void RemoveLeftovers() override {
    RemoveLeftover(TempName());
    RemoveLeftover(OldName());
  }
  void RemoveLeftover(const std::wstring& path);
  bool OpenSource() override {
    HANDLE view = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), file.get(), ::GetCurrentProcess(), &view, GENERIC_READ, FALSE, 0))
      return errno = LastErrno(), false;
    source = SaveSession::ReadView(reinterpret_cast<intptr_t>(view));
    return true;
  }

  // Commits.
  bool MustRewriteInPlace() override { return Links() > 1 || !canRename || created || HasAlternateStreams(); }
  bool HasAlternateStreams() const;
  bool RewriteReplacing(const std::function<bool(OutputFile&)>& produce, bool& inPlaceInstead) override;
  bool CarryOver(SaveFile temp, bool& attributesLost) override;

  // The journal.
  bool CreateJournal(bool inTempFolder) override {
    journalPath = inTempFolder ? TempFolderJournal() : FolderJournal();
    journalFile = Ref(OpenAs(SaveStep::JournalWrite, journalPath, GENERIC_READ | GENERIC_WRITE | DELETE,
                             kShareDenyWrite, CREATE_NEW));
    if (journalFile == kNoFile) journalPath.clear();
    return journalFile != kNoFile;
  }
  void DiscardJournal() override {
    if (!DeleteOnClose(H(journalFile))) ::DeleteFileW(journalPath.c_str());
    CloseJournal();
  }
  bool DeleteJournal() override { return DeleteOnClose(H(journalFile)); }
  void CloseJournal() override {
    if (journalFile != kNoFile) ::CloseHandle(H(journalFile));
    journalFile = kNoFile;
    journalPath.clear();
  }
  void Identity(uint64_t& volume, uint64_t& fileIndex) const override {
    volume = id.serial;
    fileIndex = id.index;
  }
};

bool SaveSession::Impl::FindTarget(std::u16string_view path) {
  if (path.empty()) return Fail(SaveFailure::NotFound, ENOENT, "no file name");
  target = ResolveTarget(path);
  if (target.empty()) return Fail(SaveFailure::NotFound, ENOENT, "no file name");
  if (win32::NamesDevice(target)) return Fail(SaveFailure::NotRegular, EINVAL, "not a regular file");
  folder = FolderOf(target);
  name = NameOf(target);
  RecoverSwap();
  return true;
}

bool SaveSession::Impl::OpenFile(bool& retry) {
  Waiter waiter(options.lockWaitMs);
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
      if (!WaitForSaver(waiter, EBUSY)) return false;
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
  return true;
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

bool SaveSession::Impl::RecoverAt(JournalPlace place) {
  if (place == JournalPlace::OwnName) return RecoverFrom(FolderJournal(), place);
  if (place == JournalPlace::TempFolder) return RecoverFrom(TempFolderJournal(), place);
  const std::wstring own = Companion(name, L".ordana-journal");
  static const std::wstring suffix = L".ordana-journal";
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW fd{};
  HANDLE find = ::FindFirstFileExW(Join(folder, L".*" + suffix).c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch,
                                   nullptr, 0);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (journal::IsOtherJournal(std::wstring(fd.cFileName), own, suffix)) found.push_back(Join(folder, fd.cFileName));
    } while (::FindNextFileW(find, &fd));
    ::FindClose(find);
  }
  return std::all_of(found.begin(), found.end(), [&](const std::wstring& j) { return RecoverFrom(j, place); });
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
  const bool complete = ReadJournal(Ref(j.get()), SizeOf(Ref(j.get())), info);
  const bool ours = complete && info.dev == uint64_t(id.serial) && info.ino == id.index;
  if (complete && !ours && place != JournalPlace::OwnName) return true;  // another file's
  // An interrupted save of this file: put the old bytes back.
  if (ours && !UndoInterrupted(Ref(j.get()), info)) return false;
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
bool SaveSession::Impl::CarryOver(SaveFile tempFile, bool& attributesLost) {
  const HANDLE temp = H(tempFile);
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
  if (TempOutcome written = WriteTemp(Ref(t.get()), true, produce); !written.ok()) {
    inPlaceInstead = written.inPlaceInstead;
    return abandon(written.failure, written.code, std::move(written.what));
  }
  if (!StillSameFile()) return abandon(SaveFailure::Changed, 0, kChangedReason);
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
  Sync(SaveStep::Sync, Ref(t.get()));
  t.Reset();
  DeleteOnClose(file.get());
  return true;
}

std::string SaveErrorText(int code) { return SystemMessage(code); }

}  // namespace ordana

// The public face is the same on every system.
#include "platform/SaveSessionFacade.h"
