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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/SaveCore.h"
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

}  // namespace

// --- The session -----------------------------------------------------------------------
// The algorithm is the portable one (SaveCore.h); here are its system calls.

struct SaveSession::Impl : SaveCore {
  std::string target;  // the file, links followed
  std::string folder;
  std::string name;
  int fd = -1;
  struct stat st {};
  std::string journalPath;  // the journal's, while it is open
  std::optional<SignalsHeld> signalsHeld;

  ~Impl() override { Finish(); }

  // Ends the session: a file it created and never committed goes again,
  // and closing every descriptor of the file releases the lock.
  void Finish() override {
    CloseJournal();
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

  // Plain I/O.
  int64_t ReadOnce(SaveFile f, void* buf, size_t n, int64_t pos) const override {
    return CurrentSaveOps().PRead(int(f), buf, n, static_cast<off_t>(pos));
  }
  int64_t WriteOnce(SaveFile f, const void* p, size_t n, int64_t pos) override {
    return pos < 0 ? CurrentSaveOps().Write(int(f), p, n) : CurrentSaveOps().PWrite(int(f), p, n, off_t(pos));
  }
  int64_t SizeOf(SaveFile f) const override {
    struct stat s {};
    return CurrentSaveOps().Fstat(int(f), &s) == 0 ? int64_t(s.st_size) : -1;
  }
  bool SetSize(SaveFile f, int64_t size) override { return CurrentSaveOps().Ftruncate(int(f), off_t(size)) == 0; }
  bool Flush(SaveFile f) override { return CurrentSaveOps().Fsync(int(f)) == 0; }

  // The file.
  SaveFile File() const override { return fd; }
  bool FindTarget(std::u16string_view path) override;
  bool OpenFile(bool& retry) override;
  int TryLock() override { return CurrentSaveOps().Flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno; }
  void CloseFile() override { CloseFd(fd); }
  void RemoveCreated() override { CurrentSaveOps().Unlink(target.c_str()); }
  bool LookAtFile() override {
    if (CurrentSaveOps().Fstat(fd, &st) != 0) return false;
    originalSize = st.st_size;
    return true;
  }
  bool StillSameFile() const override {
    struct stat now {};
    return CurrentSaveOps().Stat(target.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
           now.st_ino == st.st_ino;
  }
  bool ReadOnly() const override { return !(st.st_mode & S_IWUSR); }
  std::string TargetText() const override { return target; }
  int64_t Links() const override { return int64_t(st.st_nlink); }
  bool RecoverAt(JournalPlace place) override;
  bool RecoverFrom(const std::string& journalName, JournalPlace place);
  void RemoveLeftovers() override { RemoveLeftoverTemp(); }
  void RemoveLeftoverTemp();
  bool OpenSource() override {
    const int view = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (view < 0) return false;
    source = SaveSession::ReadView(view);
    return true;
  }

  // Commits.
  bool MustRewriteInPlace() override { return Links() > 1; }  // a new file would split the links
  bool RewriteReplacing(const std::function<bool(OutputFile&)>& produce, bool& inPlaceInstead) override;
  bool CarryOver(SaveFile temp, bool& attributesLost) override;
  bool CopyFast(int64_t& from, int64_t& len) override;
  void HoldInterrupts(bool hold) override {
    if (hold) signalsHeld.emplace();
    else signalsHeld.reset();
  }
  // The size put back after a failed commit was never asked about here.
  bool AskTruncateOnRestore() const override { return false; }

  // The journal.
  bool CreateJournal(bool inTempFolder) override {
    journalPath = inTempFolder ? TempFolderJournal() : FolderJournal();
    const int jfd = OpenAs(SaveStep::JournalWrite, journalPath.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (jfd < 0) return journalPath.clear(), false;
    // Held while it is written, so that no other save takes it for a leftover.
    CurrentSaveOps().Flock(jfd, LOCK_EX | LOCK_NB);
    journalFile = jfd;
    return true;
  }
  void DiscardJournal() override {
    const std::string path = journalPath;
    CloseJournal();
    UnlinkFile(path.c_str());
  }
  bool DeleteJournal() override {
    if (UnlinkFile(journalPath.c_str()) != 0) return false;
    SyncFolder(FolderOf(journalPath));
    return true;
  }
  void CloseJournal() override {
    if (journalFile != kNoFile) CurrentSaveOps().Close(int(journalFile));
    journalFile = kNoFile;
    journalPath.clear();
  }
  bool SyncJournalFolder() override { return SyncFolder(FolderOf(journalPath)); }
  // The journal's layout is shared with the other systems (SaveJournal.h);
  // here the file's identity is its device and inode.
  void Identity(uint64_t& volume, uint64_t& file) const override {
    volume = uint64_t(st.st_dev);
    file = uint64_t(st.st_ino);
  }
};

bool SaveSession::Impl::FindTarget(std::u16string_view path) {
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
  return true;
}

bool SaveSession::Impl::OpenFile(bool& retry) {
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
  return true;
}

bool SaveSession::Impl::RecoverAt(JournalPlace place) {
  if (place == JournalPlace::OwnName) return RecoverFrom(FolderJournal(), place);
  if (place == JournalPlace::TempFolder) return RecoverFrom(TempFolderJournal(), place);
  const std::string own = NameOf(FolderJournal());
  std::vector<std::string> found;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (journal::IsOtherJournal(std::string(e->d_name), own, std::string(".ordana-journal")))
        found.push_back(Join(folder, e->d_name));
    ::closedir(d);
  }
  return std::all_of(found.begin(), found.end(), [&](const std::string& j) { return RecoverFrom(j, place); });
}

bool SaveSession::Impl::RecoverFrom(const std::string& journalName, JournalPlace place) {
  const bool inTempFolder = place == JournalPlace::TempFolder;
  int jfd = OpenAs(SaveStep::Open, journalName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (jfd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return true;
    // Something of that name that cannot be opened: in the way of a
    // journal, but it may hold what a crash left; leave it and say so.
    return inTempFolder ? true : FailErrno("cannot open the journal " + journalName);
  }
  struct stat js {};
  if (CurrentSaveOps().Fstat(jfd, &js) != 0 || !S_ISREG(js.st_mode) ||
      (inTempFolder && js.st_uid != ::geteuid())) {
    CloseFd(jfd);
    return true;  // not a journal of ours
  }
  journal::Info info;
  const bool complete = ReadJournal(jfd, js.st_size, info);
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
    UnlinkFile(journalName.c_str());
    return true;
  }
  if (ours) {
    // An interrupted save of this file: put the old bytes back.
    SignalsHeld hold;
    if (!UndoInterrupted(jfd, info)) {
      CloseFd(jfd);
      return false;
    }
  }
  CloseFd(jfd);
  if (UnlinkFile(journalName.c_str()) != 0 && errno != ENOENT)
    return FailErrno("cannot remove the journal " + journalName);
  SyncFolder(FolderOf(journalName));
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

// In-kernel copy where the file system offers it.
bool SaveSession::Impl::CopyFast(int64_t& from, int64_t& len) {
  if (int e = InjectedSaveFault(SaveStep::Write)) return errno = e, false;
  off_t in = off_t(from);
  while (len > 0) {
    const ssize_t n = CurrentSaveOps().CopyRange(int(original), &in, int(out),
                                                 size_t(std::min<int64_t>(len, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // not supported here, or the end: the plain copy goes on
    len -= n;
    outPos += n;
  }
  from = int64_t(in);
  return true;
}

// Owner, group, permissions and extended attributes (ACLs among them) of the
// file, onto the temporary file. The owner first: changing it may clear
// set-user-ID bits and capabilities, which the mode and the attributes then
// put back. When owner and group cannot both be kept, no set-user-ID or
// set-group-ID bit is carried over. attributesLost: an attribute could not be
// copied (the caller then writes in place, which keeps them all).
bool SaveSession::Impl::CarryOver(SaveFile temp, bool& attributesLost) {
  const int tempFd = int(temp);
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

  if (TempOutcome written = WriteTemp(tfd, false, produce); !written.ok()) {
    inPlaceInstead = written.inPlaceInstead;
    return abandon(written.failure, written.code, std::move(written.what));
  }
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
  if (!StillSameFile()) return abandon(SaveFailure::Changed, 0, kChangedReason);
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

std::string SaveErrorText(int code) { return Errno(code); }

}  // namespace ordana

// The public face is the same on every system.
#include "platform/SaveSessionFacade.h"
