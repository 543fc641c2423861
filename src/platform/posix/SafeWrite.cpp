// The save layer on POSIX systems (Linux first: O_TMPFILE, flock, xattrs).
#include "platform/SafeWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/SaveBackend.h"
#include "platform/SaveJournal.h"
#include "platform/posix/SaveOps.h"

namespace ordana {

// --- The system calls ---------------------------------------------------------------

namespace posix {

int SaveOps::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int SaveOps::Close(int fd) { return ::close(fd); }
ssize_t SaveOps::PRead(int fd, void* buf, size_t n, off_t pos) { return ::pread(fd, buf, n, pos); }
ssize_t SaveOps::Write(int fd, const void* buf, size_t n) { return ::write(fd, buf, n); }
ssize_t SaveOps::PWrite(int fd, const void* buf, size_t n, off_t pos) {
  return ::pwrite(fd, buf, n, pos);
}
ssize_t SaveOps::CopyRange(int in, off_t* inPos, int out, size_t n) {
  return ::copy_file_range(in, inPos, out, nullptr, n, 0);
}
int SaveOps::Fsync(int fd) { return ::fsync(fd); }
int SaveOps::Ftruncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int SaveOps::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int SaveOps::Stat(const char* path, struct stat* st) { return ::stat(path, st); }
int SaveOps::Rename(const char* from, const char* to) { return ::rename(from, to); }
int SaveOps::LinkTemp(int fd, const char* to) {
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, proc, AT_FDCWD, to, AT_SYMLINK_FOLLOW);
}
int SaveOps::Unlink(const char* path) { return ::unlink(path); }
int SaveOps::Flock(int fd, int operation) { return ::flock(fd, operation); }
int SaveOps::Fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }
int SaveOps::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
ssize_t SaveOps::Flistxattr(int fd, char* list, size_t n) { return ::flistxattr(fd, list, n); }
ssize_t SaveOps::Fgetxattr(int fd, const char* name, void* value, size_t n) {
  return ::fgetxattr(fd, name, value, n);
}
int SaveOps::Fsetxattr(int fd, const char* name, const void* value, size_t n) {
  return ::fsetxattr(fd, name, value, n, 0);
}

namespace {
SaveOps gRealOps;
std::atomic<SaveOps*> gOps{&gRealOps};
}  // namespace

SaveOps& CurrentSaveOps() { return *gOps.load(); }
void SetSaveOps(SaveOps* ops) { gOps.store(ops ? ops : &gRealOps); }

}  // namespace posix

namespace {

using posix::CurrentSaveOps;

// Each wrapper asks the hook first: a nonzero answer is the call's errno.
#define ORDANA_INJECT(step) \
  if (int injected_ = InjectedSaveFault(step)) return (errno = injected_, -1)

int OpenAs(SaveStep step, const char* path, int flags, mode_t mode = 0) {
  ORDANA_INJECT(step);
  int fd;
  do fd = CurrentSaveOps().Open(path, flags, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}
int SyncAs(SaveStep step, int fd) {
  ORDANA_INJECT(step);
  return CurrentSaveOps().Fsync(fd);
}
int UnlinkFile(const char* path) {
  ORDANA_INJECT(SaveStep::Unlink);
  return CurrentSaveOps().Unlink(path);
}
void CloseFd(int& fd) {
  if (fd >= 0) CurrentSaveOps().Close(fd);
  fd = -1;
}

bool WriteAllAs(SaveStep step, int fd, const char* p, size_t n) {
  while (n > 0) {
    if (int e = InjectedSaveFault(step)) return errno = e, false;
    const ssize_t w = CurrentSaveOps().Write(fd, p, n);
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

bool PWriteAllAs(SaveStep step, int fd, const char* p, size_t n, int64_t pos) {
  while (n > 0) {
    if (int e = InjectedSaveFault(step)) return errno = e, false;
    const ssize_t w = CurrentSaveOps().PWrite(fd, p, n, static_cast<off_t>(pos));
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

// Reads up to n bytes at pos; the count read, -1 on an error.
int64_t PReadSome(int fd, void* buf, size_t n, int64_t pos) {
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    const ssize_t r =
        CurrentSaveOps().PRead(fd, p + done, n - done, static_cast<off_t>(pos + int64_t(done)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

bool PReadExact(int fd, void* buf, size_t n, int64_t pos) {
  const int64_t got = PReadSome(fd, buf, n, pos);
  if (got == static_cast<int64_t>(n)) return true;
  if (got >= 0) errno = EIO;
  return false;
}

constexpr size_t kCopyChunk = 1 << 20;

// Copies len bytes from in at inPos to out at outPos (positional writes).
bool CopyPositional(SaveStep step, int in, int64_t inPos, int out, int64_t outPos, int64_t len) {
  std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(len, kCopyChunk)));
  while (len > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(len, int64_t(buf.size())));
    if (!PReadExact(in, buf.data(), want, inPos)) return false;
    if (!PWriteAllAs(step, out, buf.data(), want, outPos)) return false;
    inPos += int64_t(want);
    outPos += int64_t(want);
    len -= int64_t(want);
  }
  return true;
}

std::string Errno(int e) { return std::strerror(e); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The file a path stands for once symbolic links are followed: an absolute
// path whose folder has no links left. A path to nothing stays as it is
// (the file may be created there).
bool ResolveTarget(const std::string& path, std::string& out, int& err) {
  std::string p = path;
  for (int hops = 0;; ++hops) {
    if (hops > 40) return err = ELOOP, false;
    struct stat ls {};
    if (::lstat(p.c_str(), &ls) != 0) {
      if (errno != ENOENT) return err = errno, false;
      break;
    }
    if (!S_ISLNK(ls.st_mode)) break;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
    if (n < 0) return err = errno, false;
    link.resize(static_cast<size_t>(n));
    p = !link.empty() && link[0] == '/' ? link : Join(FolderOf(p), link);
  }
  char* folder = ::realpath(FolderOf(p).c_str(), nullptr);
  if (!folder) return err = errno, false;
  out = Join(folder, NameOf(p));
  std::free(folder);
  return true;
}

// A name for the save's own files beside the file: ".<name><suffix>", with a
// very long name shortened (and made unique again by a hash of it).
std::string CompanionName(const std::string& name, const char* suffix) {
  std::string base = name;
  const size_t limit = NAME_MAX - 1 - std::strlen(suffix);
  if (base.size() > limit) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    char hex[20];
    std::snprintf(hex, sizeof hex, "-%016llx", static_cast<unsigned long long>(h));
    base = base.substr(0, limit - std::strlen(hex)) + hex;
  }
  return "." + base + suffix;
}

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? std::string(t) : std::string("/tmp");
}

bool SyncFolder(const std::string& folder) {
  const int fd = OpenAs(SaveStep::Open, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int fdCopy = fd;
  const bool ok = SyncAs(SaveStep::JournalSync, fd) == 0;
  CloseFd(fdCopy);
  return ok;
}

bool FolderRefusesNewFiles(int e) { return e == EACCES || e == EPERM || e == EROFS; }

// --- Signals ----------------------------------------------------------------------
// While a named temporary file exists, SIGINT, SIGTERM and SIGHUP remove it
// before the process ends the way it would have (the earlier disposition is
// put back and the signal raised again). While a file is being changed in
// place with a journal, the same signals wait until the change is complete
// or undone.

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
char gTempPath[PATH_MAX + 1];
volatile sig_atomic_t gTempArmed = 0;
struct sigaction gOldActions[3];
bool gInstalled[3];
std::atomic<bool> gSignalSlotTaken{false};

extern "C" void RemoveTempOnSignal(int sig) {
  if (gTempArmed) ::unlink(gTempPath);
  gTempArmed = 0;
  for (int i = 0; i < 3; ++i)
    if (kSignals[i] == sig) ::sigaction(sig, &gOldActions[i], nullptr);
  ::raise(sig);
}

class TempFileSignalGuard {
 public:
  TempFileSignalGuard() = default;
  ~TempFileSignalGuard() { Disarm(); }
  void Arm(const std::string& path) {
    if (owner_ || path.size() > PATH_MAX) return;
    if (gSignalSlotTaken.exchange(true)) return;  // another thread's save holds it
    owner_ = true;
    std::memcpy(gTempPath, path.c_str(), path.size() + 1);
    gTempArmed = 1;
    struct sigaction sa {};
    sa.sa_handler = RemoveTempOnSignal;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; ++i) {
      gInstalled[i] = false;
      struct sigaction old {};
      if (::sigaction(kSignals[i], nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
      gOldActions[i] = old;
      gInstalled[i] = ::sigaction(kSignals[i], &sa, nullptr) == 0;
    }
  }
  void Disarm() {
    if (!owner_) return;
    gTempArmed = 0;
    for (int i = 0; i < 3; ++i)
      if (gInstalled[i]) ::sigaction(kSignals[i], &gOldActions[i], nullptr);
    owner_ = false;
    gSignalSlotTaken.store(false);
  }

 private:
  bool owner_ = false;
};

class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

// --- Journal ------------------------------------------------------------------------
// Its layout is shared with the other systems' save layer (SaveJournal.h);
// here the file's identity is its device and inode.

using journal::kMarkerSize;
using journal::Range;
using JournalInfo = journal::Info;
constexpr const char* kJournalMarker = journal::kMarker;

// Parses a journal's index. False when the journal has no commit marker or
// does not hang together (it was never completed: the file was not touched).
bool ReadJournalIndex(int fd, int64_t journalSize, JournalInfo& info) {
  return journal::ReadIndex(
      [fd](char* buf, size_t n, int64_t pos) { return PReadExact(fd, buf, n, pos); }, journalSize, info);
}

}  // namespace

// --- The session -----------------------------------------------------------------------

struct SaveSession::Impl : SaveFailureState {
  bool HasFile() const { return fd >= 0; }
  SaveOptions options;
  std::string target;  // the file, links followed
  std::string folder;
  std::string name;
  int fd = -1;
  struct stat st {};
  bool created = false;
  bool finished = false;
  bool committed = false;
  SaveMethod method = SaveMethod::None;
  InputFile source;

  // Where the old content is read from during a commit: the file itself, or
  // the journal holding it during an in-place rewrite.
  int originalFd = -1;
  int64_t originalSize = 0;
  // The new content's destination.
  int outFd = -1;
  bool outPositional = false;
  int64_t outPos = 0;

  // The journal of the running commit.
  std::string journalPath;
  int journalFd = -1;

  ~Impl() { Finish(); }

  // Ends the session: a file it created and never committed goes again,
  // and closing every descriptor of the file releases the lock.
  void Finish() {
    CloseFd(journalFd);
    if (created && !committed && fd >= 0 && StillSameFile()) CurrentSaveOps().Unlink(target.c_str());
    source.Close();
    CloseFd(fd);
  }


  std::string TempName() const { return Join(folder, CompanionName(name, ".ordana-save.tmp")); }
  std::string FolderJournal() const { return Join(folder, CompanionName(name, ".ordana-journal")); }
  std::string TempFolderJournal() const {
    char n[80];
    std::snprintf(n, sizeof n, "ordana-journal-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return Join(TempFolder(), n);
  }

  bool StillSameFile() const {
    struct stat now {};
    return CurrentSaveOps().Stat(target.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
           now.st_ino == st.st_ino;
  }

  bool Open(std::u16string_view path);
  bool OpenOnce(bool& retry);
  bool Lock(bool& unsupported);
  bool Recover();
  // Where a journal was found: under this file's own name in its folder,
  // under another name there (a hard link's), or in the temporary folder.
  enum class JournalPlace { OwnName, OtherName, TempFolder };
  bool RecoverFrom(const std::string& journal, JournalPlace place);
  void RemoveLeftoverTemp();

  bool BeginCommit();
  bool Rewrite(const std::function<bool(OutputFile&)>& produce);
  bool RewriteReplacing(const std::function<bool(OutputFile&)>& produce, bool& inPlaceInstead);
  bool RewriteInPlace(const std::function<bool(OutputFile&)>& produce);
  bool Patch(const std::vector<FilePatch>& patches);
  bool CarryOver(int tempFd, bool& attributesLost);

  bool WriteJournal(const std::vector<Range>& ranges);
  bool RemoveJournal();
  bool UndoStuckCommit(const char* what);
  bool RestoreFromJournal();

  // OutputFile's side.
  bool OutWrite(const char* p, size_t n) {
    if (outPositional) {
      if (!PWriteAllAs(SaveStep::Write, outFd, p, n, outPos)) return false;
    } else if (!WriteAllAs(SaveStep::Write, outFd, p, n)) {
      return false;
    }
    outPos += int64_t(n);
    return true;
  }
  int64_t ReadOriginal(int64_t pos, void* buf, size_t n) const {
    if (pos < 0) return -1;
    if (pos >= originalSize) return 0;
    n = static_cast<size_t>(std::min<int64_t>(int64_t(n), originalSize - pos));
    return PReadSome(originalFd, buf, n, pos);
  }
  bool CopyOriginal(int64_t from, int64_t len);
};

bool SaveSession::Impl::Open(std::u16string_view path) {
  const std::string native = NativePath(path);
  if (native.empty()) return Fail(SaveFailure::NotFound, ENOENT, "no file name");
  int err = 0;
  if (!ResolveTarget(native, target, err)) {
    if (options.createIfMissing && (err == ENOENT || err == ENOTDIR))
      return Fail(SaveFailure::CreateFailed, err, "cannot create the file");
    return Fail(err == ENOENT ? SaveFailure::NotFound : SaveFailure::IoError, err,
                "cannot follow the path");
  }
  folder = FolderOf(target);
  name = NameOf(target);
  // Another saver may replace the file while this one waits for its lock;
  // then the new file is opened and waited for in turn.
  for (int attempt = 0; attempt < 100; ++attempt) {
    bool retry = false;
    if (OpenOnce(retry)) break;
    if (!retry) return false;
  }
  if (fd < 0) return Fail(SaveFailure::Changed, 0, "the file keeps being replaced by other programs");
  // From here a failure closes the file again: a session that did not open
  // must not be committed through.
  auto notOpened = [&] {
    Finish();
    return false;
  };
  if (int e = InjectedSaveFault(SaveStep::Locked)) {
    Fail(SaveFailure::IoError, e, "cannot start the save");
    return notOpened();
  }
  if (!Recover()) return notOpened();
  RemoveLeftoverTemp();
  if (CurrentSaveOps().Fstat(fd, &st) != 0) {
    FailErrno("cannot look at the file");
    return notOpened();
  }
  const int view = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (view < 0) {
    FailErrno("cannot read the file");
    return notOpened();
  }
  source = SaveSession::ReadView(view);
  originalFd = fd;
  originalSize = st.st_size;
  status = SaveStatus{};
  CurrentSaveStatus() = status;
  return true;
}

bool SaveSession::Impl::OpenOnce(bool& retry) {
  struct stat before {};
  if (CurrentSaveOps().Stat(target.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
    return Fail(SaveFailure::NotRegular, S_ISDIR(before.st_mode) ? EISDIR : EINVAL,
                "not a regular file");
  fd = OpenAs(SaveStep::Open, target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT && options.createIfMissing) {
      fd = OpenAs(SaveStep::Open, target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                  0666);
      if (fd < 0 && errno == EEXIST) return retry = true, false;
      if (fd < 0) return Fail(SaveFailure::CreateFailed, errno, "cannot create the file");
      created = true;
    } else if (e == ENOENT) {
      return Fail(SaveFailure::NotFound, e, "no such file");
    } else {
      struct stat now {};
      if (CurrentSaveOps().Stat(target.c_str(), &now) == 0 && S_ISREG(now.st_mode) &&
          !(now.st_mode & S_IWUSR))
        return FailWith(SaveFailure::ReadOnly, EACCES, "read-only");
      return Fail(e == EISDIR ? SaveFailure::NotRegular : SaveFailure::Denied, e,
                  "cannot open for writing");
    }
  }
  if (CurrentSaveOps().Fstat(fd, &st) != 0) {
    const int e = errno;
    CloseFd(fd);
    return Fail(SaveFailure::IoError, e, "cannot look at the file");
  }
  if (!S_ISREG(st.st_mode)) {
    CloseFd(fd);
    return Fail(SaveFailure::NotRegular, EINVAL, "not a regular file");
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  bool unsupported = false;
  if (!Lock(unsupported)) {
    if (created) CurrentSaveOps().Unlink(target.c_str());
    created = false;
    CloseFd(fd);
    return false;
  }
  if (!StillSameFile()) {
    CloseFd(fd);
    created = false;
    return retry = true, false;
  }
  // The lock may have been waited for: look again.
  if (CurrentSaveOps().Fstat(fd, &st) != 0) {
    const int e = errno;
    CloseFd(fd);
    return Fail(SaveFailure::IoError, e, "cannot look at the file");
  }
  if (!(st.st_mode & S_IWUSR)) {
    CloseFd(fd);
    return FailWith(SaveFailure::ReadOnly, EACCES, "read-only");
  }
  if (unsupported)
    std::fprintf(stderr,
                 "ordana: %s: the file system does not support file locks; saving with the "
                 "identity check only\n",
                 target.c_str());
  return true;
}

bool SaveSession::Impl::Lock(bool& unsupported) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, options.lockWaitMs));
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    int r;
    if (int e = InjectedSaveFault(SaveStep::Lock)) errno = e, r = -1;
    else r = CurrentSaveOps().Flock(fd, LOCK_EX | LOCK_NB);
    if (r == 0) return true;
    const int e = errno;
    if (e == EINTR) continue;
    if (e == ENOLCK || e == EOPNOTSUPP || e == ENOTSUP || e == EINVAL) return unsupported = true;
    if (e != EWOULDBLOCK) return Fail(SaveFailure::IoError, e, "cannot lock the file");
    if (int he = InjectedSaveFault(SaveStep::LockBusy)) return FailWith(SaveFailure::Busy, he, "file is busy: another program is saving it");
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
      return FailWith(SaveFailure::Busy, EWOULDBLOCK, "file is busy: another program is saving it");
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

bool SaveSession::Impl::Recover() {
  if (!RecoverFrom(FolderJournal(), JournalPlace::OwnName)) return false;
  if (st.st_nlink > 1) {
    // A save through another name of the file may have left its journal here.
    const std::string own = NameOf(FolderJournal());
    if (DIR* d = ::opendir(folder.c_str())) {
      std::vector<std::string> found;
      while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        static const std::string suffix = ".ordana-journal";
        if (n.size() > suffix.size() + 1 && n[0] == '.' && n != own &&
            n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
          found.push_back(Join(folder, n));
      }
      ::closedir(d);
      for (const std::string& j : found)
        if (!RecoverFrom(j, JournalPlace::OtherName)) return false;
    }
  }
  return RecoverFrom(TempFolderJournal(), JournalPlace::TempFolder);
}

bool SaveSession::Impl::RecoverFrom(const std::string& journal, JournalPlace place) {
  const bool inTempFolder = place == JournalPlace::TempFolder;
  int jfd = OpenAs(SaveStep::Open, journal.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (jfd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return true;
    // Something of that name that cannot be opened: in the way of a
    // journal, but it may hold what a crash left; leave it and say so.
    return inTempFolder ? true : FailErrno("cannot open the journal " + journal);
  }
  struct stat js {};
  if (CurrentSaveOps().Fstat(jfd, &js) != 0 || !S_ISREG(js.st_mode) ||
      (inTempFolder && js.st_uid != ::geteuid())) {
    CloseFd(jfd);
    return true;  // not a journal of ours
  }
  JournalInfo info;
  const bool complete = ReadJournalIndex(jfd, js.st_size, info);
  if (!complete && CurrentSaveOps().Flock(jfd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    CloseFd(jfd);
    return true;  // being written by a save running now
  }
  const bool ours = complete && info.dev == uint64_t(st.st_dev) && info.ino == uint64_t(st.st_ino);
  if (complete && !ours && place != JournalPlace::OwnName) {
    CloseFd(jfd);
    return true;  // another file's
  }
  if (complete && !ours) {
    CloseFd(jfd);
    // A journal for a file that no longer has this name: nothing to restore here.
    UnlinkFile(journal.c_str());
    return true;
  }
  if (ours) {
    // An interrupted save of this file: put the old bytes back.
    SignalsHeld hold;
    int64_t at = 0;
    for (const Range& r : info.ranges) {
      if (!CopyPositional(SaveStep::Write, jfd, at, fd, r.offset, r.length)) {
        const int e = errno;
        CloseFd(jfd);
        return Fail(SaveFailure::IoError, e, "an interrupted earlier save could not be undone");
      }
      at += r.length;
    }
    if (int e = InjectedSaveFault(SaveStep::Truncate); e || CurrentSaveOps().Ftruncate(fd, off_t(info.size)) != 0 ||
                                                SyncAs(SaveStep::Sync, fd) != 0) {
      if (e) errno = e;
      const int err = errno;
      CloseFd(jfd);
      return Fail(SaveFailure::IoError, err, "an interrupted earlier save could not be undone");
    }
  }
  CloseFd(jfd);
  if (UnlinkFile(journal.c_str()) != 0 && errno != ENOENT)
    return FailErrno("cannot remove the journal " + journal);
  SyncFolder(FolderOf(journal));
  return true;
}

void SaveSession::Impl::RemoveLeftoverTemp() {
  const std::string temp = TempName();
  int tfd = OpenAs(SaveStep::Open, temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (tfd < 0) return;
  struct stat ts {};
  // Removed only when it is a regular file that no saver holds.
  if (CurrentSaveOps().Fstat(tfd, &ts) == 0 && S_ISREG(ts.st_mode) &&
      CurrentSaveOps().Flock(tfd, LOCK_EX | LOCK_NB) == 0)
    UnlinkFile(temp.c_str());
  CloseFd(tfd);
}

bool SaveSession::Impl::BeginCommit() {
  if (fd < 0 || finished) {
    if (fd < 0 && status.ok()) return Fail(SaveFailure::IoError, EBADF, "the file is not open");
    if (fd < 0) return CurrentSaveStatus() = status, false;
    return Fail(SaveFailure::IoError, EALREADY, "the save is already finished");
  }
  finished = true;
  if (int e = InjectedSaveFault(SaveStep::Committing)) return Fail(SaveFailure::IoError, e, "cannot save");
  if (!StillSameFile())
    return Fail(SaveFailure::Changed, 0, "another program replaced the file during the save");
  return true;
}

bool SaveSession::Impl::CopyOriginal(int64_t from, int64_t len) {
  if (from < 0 || from > originalSize) return errno = EINVAL, false;
  if (len < 0) len = originalSize - from;
  if (len > originalSize - from) return errno = EINVAL, false;
  if (!outPositional) {
    // In-kernel copy where the file system offers it.
    if (int e = InjectedSaveFault(SaveStep::Write)) return errno = e, false;
    off_t in = off_t(from);
    while (len > 0) {
      const ssize_t n = CurrentSaveOps().CopyRange(originalFd, &in, outFd,
                                                   size_t(std::min<int64_t>(len, 1 << 30)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // not supported here, or the end: the plain copy goes on
      len -= n;
      outPos += n;
    }
    from = int64_t(in);
    if (len == 0) return true;
  }
  std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(len, 1), kCopyChunk)));
  while (len > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(len, int64_t(buf.size())));
    if (!PReadExact(originalFd, buf.data(), want, from)) return false;
    if (!OutWrite(buf.data(), want)) return false;
    from += int64_t(want);
    len -= int64_t(want);
  }
  return true;
}

// Owner, group, permissions and extended attributes (ACLs among them) of the
// file, onto the temporary file. The owner first: changing it may clear
// set-user-ID bits and capabilities, which the mode and the attributes then
// put back. When owner and group cannot both be kept, no set-user-ID or
// set-group-ID bit is carried over. attributesLost: an attribute could not be
// copied (the caller then writes in place, which keeps them all).
bool SaveSession::Impl::CarryOver(int tempFd, bool& attributesLost) {
  bool ownerKept = false;
  if (!InjectedSaveFault(SaveStep::Chown)) {
    ownerKept = CurrentSaveOps().Fchown(tempFd, st.st_uid, st.st_gid) == 0;
    if (!ownerKept && st.st_uid == ::geteuid())
      ownerKept = CurrentSaveOps().Fchown(tempFd, uid_t(-1), st.st_gid) == 0;
  }
  const mode_t mode = st.st_mode & (ownerKept ? 07777 : 0777);
  if (CurrentSaveOps().Fchmod(tempFd, mode) != 0) return FailErrno("cannot set the permissions");

  if (int e = InjectedSaveFault(SaveStep::CopyAttributes)) {
    errno = e;
    return attributesLost = true;
  }
  ssize_t n = CurrentSaveOps().Flistxattr(fd, nullptr, 0);
  if (n < 0) {
    if (errno == ENOTSUP || errno == EOPNOTSUPP) return true;  // none on this file system
    return attributesLost = true;
  }
  std::string names(static_cast<size_t>(n), '\0');
  if (n > 0) {
    n = CurrentSaveOps().Flistxattr(fd, names.data(), names.size());
    if (n < 0) return attributesLost = true;
    names.resize(static_cast<size_t>(n));
  }
  for (size_t at = 0; at < names.size();) {
    const char* attr = names.c_str() + at;
    at += std::strlen(attr) + 1;
    if (InjectedSaveFault(SaveStep::CopyAttributes)) return attributesLost = true;
    ssize_t len = CurrentSaveOps().Fgetxattr(fd, attr, nullptr, 0);
    if (len < 0) return attributesLost = true;
    std::string value(static_cast<size_t>(len), '\0');
    len = CurrentSaveOps().Fgetxattr(fd, attr, value.data(), value.size());
    if (len < 0) return attributesLost = true;
    value.resize(static_cast<size_t>(len));
    if (CurrentSaveOps().Fsetxattr(tempFd, attr, value.data(), value.size()) != 0)
      return attributesLost = true;
  }
  return true;
}

bool SaveSession::Impl::Rewrite(const std::function<bool(OutputFile&)>& produce) {
  if (!BeginCommit()) return false;
  bool inPlace = st.st_nlink > 1;  // a new file would split the links
  if (!inPlace) {
    if (RewriteReplacing(produce, inPlace)) return true;
    if (!inPlace) return false;
    status = SaveStatus{};
  }
  return RewriteInPlace(produce);
}

bool SaveSession::Impl::RewriteReplacing(const std::function<bool(OutputFile&)>& produce,
                                         bool& inPlaceInstead) {
  const std::string temp = TempName();
  TempFileSignalGuard guard;
  bool anonymous = false, named = false;
  int tfd = -1;
  // Unnamed first: nothing is left behind if the process dies.
  if (::access("/proc/self/fd", X_OK) == 0) {
    tfd = OpenAs(SaveStep::Open, folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (tfd >= 0) anonymous = true;
    else if (FolderRefusesNewFiles(errno)) return inPlaceInstead = true, false;
  }
  if (tfd < 0) {
    for (int attempt = 0; attempt < 2 && tfd < 0; ++attempt) {
      tfd = OpenAs(SaveStep::Open, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                   0600);
      if (tfd < 0 && errno == EEXIST) RemoveLeftoverTemp();
    }
    if (tfd < 0) {
      if (FolderRefusesNewFiles(errno)) return inPlaceInstead = true, false;
      return FailErrno("cannot create a temporary file");
    }
    named = true;
    guard.Arm(temp);
  }
  // Held while it exists, so that a later save can tell it from a leftover.
  CurrentSaveOps().Flock(tfd, LOCK_EX | LOCK_NB);

  auto abandon = [&](SaveFailure failure, int code, std::string what) {
    CloseFd(tfd);
    if (named) UnlinkFile(temp.c_str());
    if (failure == SaveFailure::None) return false;
    return Fail(failure, code, std::move(what));
  };

  outFd = tfd;
  outPositional = false;
  outPos = 0;
  OutputFile out(this);
  if (ProducerOutcome run = RunProducer(produce, out); run.failure != SaveFailure::None)
    return abandon(run.failure, run.code, std::move(run.what));
  bool attributesLost = false;
  if (!CarryOver(tfd, attributesLost)) return abandon(status.failure, status.code, status.reason);
  if (attributesLost) {
    abandon(SaveFailure::None, 0, "");
    return inPlaceInstead = true, false;
  }
  if (SyncAs(SaveStep::Sync, tfd) != 0) return abandon(SaveFailure::IoError, errno, "sync failed");
  if (anonymous) {
    int r = -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (int e = InjectedSaveFault(SaveStep::Link)) errno = e, r = -1;
      else r = CurrentSaveOps().LinkTemp(tfd, temp.c_str());
      if (r == 0 || errno != EEXIST) break;
      RemoveLeftoverTemp();
    }
    if (r != 0) return abandon(SaveFailure::IoError, errno, "cannot name the new file");
    named = true;
    guard.Arm(temp);
  }
  if (!StillSameFile())
    return abandon(SaveFailure::Changed, 0, "another program replaced the file during the save");
  {
    int r;
    if (int e = InjectedSaveFault(SaveStep::Rename)) errno = e, r = -1;
    else r = CurrentSaveOps().Rename(temp.c_str(), target.c_str());
    if (r != 0) return abandon(SaveFailure::IoError, errno, "cannot replace the file");
  }
  guard.Disarm();
  committed = true;
  method = SaveMethod::Replaced;
  CloseFd(tfd);
  // The new name survives a crash once the folder is synced; the content is
  // already in place when that fails, so the save stands.
  const int dfd = OpenAs(SaveStep::Open, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    int d = dfd;
    SyncAs(SaveStep::Sync, d);
    CloseFd(d);
  }
  return true;
}

bool SaveSession::Impl::WriteJournal(const std::vector<Range>& ranges) {
  journalPath = FolderJournal();
  journalFd = OpenAs(SaveStep::JournalWrite, journalPath.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (journalFd < 0 && FolderRefusesNewFiles(errno)) {
    journalPath = TempFolderJournal();
    journalFd = OpenAs(SaveStep::JournalWrite, journalPath.c_str(),
                       O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  }
  if (journalFd < 0) {
    const int e = errno;
    journalPath.clear();
    return Fail(SaveFailure::IoError, e, "cannot create the journal");
  }
  // Held while it is written, so that no other save takes it for a leftover.
  CurrentSaveOps().Flock(journalFd, LOCK_EX | LOCK_NB);
  auto fail = [&](const char* what) {
    const int e = errno ? errno : EIO;
    CloseFd(journalFd);
    UnlinkFile(journalPath.c_str());
    journalPath.clear();
    return Fail(SaveFailure::IoError, e, what);
  };
  int64_t at = 0;
  for (const Range& r : ranges) {
    if (!CopyPositional(SaveStep::JournalWrite, fd, r.offset, journalFd, at, r.length))
      return fail("cannot write the journal");
    at += r.length;
  }
  const std::string index =
      journal::BuildIndex(ranges, uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size), target);
  if (!PWriteAllAs(SaveStep::JournalWrite, journalFd, index.data(), index.size(), at) ||
      SyncAs(SaveStep::JournalSync, journalFd) != 0)
    return fail("cannot write the journal");
  // The commit marker: from here on the journal is what a crash is undone from.
  if (!PWriteAllAs(SaveStep::JournalWrite, journalFd, kJournalMarker, kMarkerSize,
                   at + int64_t(index.size())) ||
      SyncAs(SaveStep::JournalSync, journalFd) != 0 || !SyncFolder(FolderOf(journalPath)))
    return fail("cannot write the journal");
  return true;
}

// Removes the finished commit's journal. When it cannot be removed, its
// commit marker is wiped instead, so that the next save does not undo this
// one. False (the journal still open and complete) when neither works.
bool SaveSession::Impl::RemoveJournal() {
  if (journalPath.empty()) return true;
  bool ok = UnlinkFile(journalPath.c_str()) == 0;
  if (ok) {
    SyncFolder(FolderOf(journalPath));
  } else {
    struct stat js {};
    ok = journalFd >= 0 && CurrentSaveOps().Fstat(journalFd, &js) == 0 &&
         js.st_size >= off_t(kMarkerSize) &&
         PWriteAllAs(SaveStep::JournalWrite, journalFd, "\0\0\0\0\0\0\0\0", kMarkerSize,
                     js.st_size - off_t(kMarkerSize)) &&
         SyncAs(SaveStep::JournalSync, journalFd) == 0;
    if (!ok) return false;
  }
  CloseFd(journalFd);
  journalPath.clear();
  return true;
}

// A commit whose journal can be neither removed nor disarmed: the new
// content is taken back out (the journal, complete, would restore it at the
// next save anyway), so that the failure leaves the file as it was.
bool SaveSession::Impl::UndoStuckCommit(const char* what) {
  const int e = errno ? errno : EIO;
  RestoreFromJournal();
  CloseFd(journalFd);
  journalPath.clear();
  return Fail(SaveFailure::IoError, e, what);
}

// Puts the journal's old bytes back into the file (an in-place commit that
// failed half-way).
bool SaveSession::Impl::RestoreFromJournal() {
  JournalInfo info;
  struct stat js {};
  if (journalFd < 0 || CurrentSaveOps().Fstat(journalFd, &js) != 0 ||
      !ReadJournalIndex(journalFd, js.st_size, info))
    return false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool ok = true;
    int64_t at = 0;
    for (const Range& r : info.ranges) {
      ok = ok && CopyPositional(SaveStep::Write, journalFd, at, fd, r.offset, r.length);
      at += r.length;
    }
    ok = ok && CurrentSaveOps().Ftruncate(fd, off_t(info.size)) == 0 && SyncAs(SaveStep::Sync, fd) == 0;
    if (ok) return true;
  }
  return false;
}

bool SaveSession::Impl::RewriteInPlace(const std::function<bool(OutputFile&)>& produce) {
  if (!WriteJournal({{0, int64_t(st.st_size)}})) return false;
  SignalsHeld hold;
  // The producer reads the old content from the journal from now on.
  originalFd = journalFd;
  originalSize = st.st_size;
  outFd = fd;
  outPositional = true;
  outPos = 0;
  OutputFile out(this);
  ProducerOutcome run = RunProducer(produce, out);
  bool ok = run.failure == SaveFailure::None;
  int e = run.code;
  SaveFailure failure = run.failure;
  std::string what = std::move(run.what);
  if (ok) {
    if (int inj = InjectedSaveFault(SaveStep::Truncate); inj || CurrentSaveOps().Ftruncate(fd, off_t(outPos)) != 0) {
      e = inj ? inj : errno;
      ok = false, failure = SaveFailure::IoError, what = "cannot set the file's size";
    } else if (SyncAs(SaveStep::Sync, fd) != 0) {
      e = errno;
      ok = false, failure = SaveFailure::IoError, what = "sync failed";
    }
  }
  if (!ok) {
    originalFd = fd;
    if (RestoreFromJournal()) RemoveJournal();
    else CloseFd(journalFd);  // the next save restores the file from it
    return Fail(failure, failure == SaveFailure::IoError ? (e ? e : EIO) : 0, what);
  }
  originalFd = fd;
  if (!RemoveJournal()) return UndoStuckCommit("cannot remove the journal");
  committed = true;
  method = SaveMethod::InPlace;
  return true;
}

bool SaveSession::Impl::Patch(const std::vector<FilePatch>& patches) {
  if (!BeginCommit()) return false;
  std::vector<Range> ranges;
  if (const char* wrong = CheckPatches(patches, st.st_size, &ranges))
    return Fail(SaveFailure::IoError, EINVAL, wrong);
  bool same = true;
  for (const FilePatch& p : patches) {
    std::string old(p.bytes.size(), '\0');
    if (!PReadExact(fd, old.data(), old.size(), p.offset)) return FailErrno("cannot read the file");
    same = same && old == p.bytes;
  }
  if (same) {
    committed = true;
    method = SaveMethod::Unchanged;
    return true;
  }
  if (!WriteJournal(ranges)) return false;
  SignalsHeld hold;
  bool ok = true;
  for (const FilePatch& p : patches)
    ok = ok && PWriteAllAs(SaveStep::Write, fd, p.bytes.data(), p.bytes.size(), p.offset);
  ok = ok && SyncAs(SaveStep::Sync, fd) == 0;
  if (!ok) {
    const int e = errno ? errno : EIO;
    if (RestoreFromJournal()) RemoveJournal();
    else CloseFd(journalFd);
    return Fail(SaveFailure::IoError, e, "write failed");
  }
  if (!RemoveJournal()) return UndoStuckCommit("cannot remove the journal");
  committed = true;
  method = SaveMethod::Patched;
  return true;
}

std::string SaveErrorText(int code) { return Errno(code); }

}  // namespace ordana

// The public face is the same on every system.
#include "platform/SaveSessionFacade.h"
