#pragma once
// The save layer: every change to a user's file goes through here.
//
// A save is a SaveSession. Opening one
//   1. follows symbolic links: the file saved is the link's target, and
//      whatever is written goes into the target's own folder;
//   2. opens that file once, for reading and writing, and refuses a file its
//      owner may not write ("read-only": no owner write permission on POSIX,
//      the read-only attribute on Windows) for every caller, the
//      administrator included;
//   3. takes an exclusive lock on the open file (POSIX: flock; Windows:
//      LockFileEx over the whole file), waiting at most
//      SaveOptions::lockWaitMs for another saver before failing with
//      SaveFailure::Busy ("file is busy"). Where the file system refuses
//      locks (some network shares), the session goes on without one and says
//      so on the standard error stream;
//   4. checks, once the lock is held, that the path still names the file
//      that was opened (POSIX: device and inode of the descriptor; Windows:
//      volume serial and file ID). Another saver may have replaced it while
//      this one waited; then the session opens the new file and waits again;
//   5. finishes an interrupted earlier save of the same file: a journal left
//      by a crash is restored (its commit marker present) or removed (absent),
//      and a leftover temporary file that no saver holds is removed.
//
// While the session is open, Size(), ReadAt() and Source() read the file as
// it is now: the writer decides its layout from these reads, under the same
// lock as the write that follows. A session then commits once, in one of two
// ways:
//
//  - Rewrite(produce): produce writes the whole new content into an
//    OutputFile, reading the old content through OutputFile::ReadOriginal and
//    CopyOriginal (never through Source(): the old content may have moved to
//    the journal by then). Normally the content goes into a temporary file in
//    the file's folder (POSIX: O_TMPFILE, linked to a fresh name just before
//    the rename where the file system supports it, otherwise a recognisable
//    name ".<name>.ordana-save.tmp"; Windows: a temporary file and
//    ReplaceFileW), which gets the original's owner and group (when they
//    cannot be kept, no set-user-ID/set-group-ID bit is carried over),
//    permissions, extended attributes and access control lists, is flushed to
//    disk and then takes the original's name in one atomic step. When the
//    file has other hard links, when its folder is not writable, or when its
//    attributes cannot be carried over, the new content is written over the
//    file itself instead, with the old content kept in a journal until the
//    new content is on disk: the file keeps its identity, links, owner and
//    attributes. Interrupt and termination signals during a save remove the
//    temporary file before the process ends.
//  - Patch(patches): byte ranges of the file are overwritten by as many new
//    bytes; the size does not change. Several ranges (an ID3v2 tag at the
//    start and an ID3v1 tag at the end) are written under the one lock, with
//    their old bytes in a journal first, so that after a crash the next save
//    of the file restores them all: never half.
//
// Either commit returns true only when the new content is on disk under the
// file's name; on false the file is byte-identical to what it was (or, after
// a crash, will be made so by the next save) and Status() says why.
//
// Journals are named ".<name>.ordana-journal" in the file's folder, or
// "ordana-journal-<device>-<inode>" (hexadecimal) in the user's temporary
// folder when the file's folder is not writable. A journal holds the old
// bytes, the file's identity and original size, and ends with a commit marker
// written (and synced) before the file is touched.
//
// One process saves one file at a time per thread; sessions on different
// files may run in different threads. Nothing here throws.
//
// --- Contract for a backend (platform/<os>/SafeWrite.cpp) ---------------------
// Callers share this header only. The portable part keeps the per-thread
// status and the test hook (platform/SafeWrite.cpp, SaveBackend.h) and the
// session's algorithm (platform/SaveCore.h/.cpp: the open with its retries,
// lock wait and recovery, both commits, the in-place rewrite and the
// journal), asking the test hook before each step it runs. A backend
// defines SaveSession::Impl as a SaveCore, supplies its primitives (reads
// and writes at an offset, size, flush, the file's identity, a lock
// attempt, the open, the replace of the file by a new one, what a rewrite
// carries over, the journal's creation and removal, recovery of the
// journals it finds), asks the hook before each step of its own, and
// includes SaveSessionFacade.h for the public members. Together they keep
// these rules:
//  - Outcome: every session open and commit sets Status() and, through
//    CurrentSaveStatus(), LastSaveStatus(); success is SaveStatus{}. A
//    failure gives the SaveFailure above, the system's error code (or 0) and
//    a reason in words without the file name. Read-only, Busy and Changed
//    use the fixed reasons "read-only", "file is busy: another program is
//    saving it" and "another program replaced the file during the save".
//  - Identity: the lock and the check of step 4 are taken before the first
//    read the writer sees and held until the commit has ended; a session
//    whose open fails after the lock holds no handle of the file any more.
//  - A commit either puts the whole new content under the file's name, on
//    disk, or leaves the file byte-identical (a crash included: whatever the
//    next session of the same file finds of an interrupted save, it restores
//    or removes before the writer reads). The old content stays readable
//    through OutputFile until the commit ends, also when it is overwritten in
//    place.
//  - Kept across a rewrite: the file's identity when it has other links or
//    its attributes cannot be carried over, otherwise owner, group,
//    permissions, extended attributes and access control lists of the
//    original; never a set-user-ID/set-group-ID bit of another owner.
//  - Test hook: InjectedSaveFault(step) is asked before each step named by
//    SaveStep and at each milestone, on the saving thread; a nonzero answer
//    is an errno value from <cerrno> (the C++ library has them everywhere)
//    and fails that step as the matching system failure would (ENOLCK on
//    Lock: a file system without locks; EACCES on Open: no permission). The
//    portable tests in tests/platform run against any backend through it.
//  - No exceptions escape; one session per file per thread.
// For Win32: LockFileEx (LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
// retried until lockWaitMs) for the lock; GetFileInformationByHandle (volume
// serial number + file index) for the identity; a temporary file created
// with FILE_FLAG_DELETE_ON_CLOSE until the replace, then ReplaceFileW (it
// keeps attributes, ACLs and alternate streams); the read-only attribute for
// ReadOnly; GetTempPathW for journals of files in folders that cannot be
// written (journal layout as in the POSIX backend, keyed by volume serial and
// file index); SaveStatus::code a GetLastError() value (SystemMessage()
// turns it into words).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileIO.h"

namespace ordana {

// Why a save did not happen.
enum class SaveFailure {
  None,
  NotFound,      // the file does not exist (and the session does not create it)
  CreateFailed,  // the file did not exist and could not be created
  NotRegular,    // a folder, device or pipe
  ReadOnly,      // the owner has no write permission: "read-only"
  Denied,        // the system refused to open the file for writing
  Busy,          // another saver holds the file longer than the wait allows
  Changed,       // another program replaced the file during the save
  Refused,       // the writer refused the file's layout (reason says why)
  Cancelled,     // the producer gave up
  IoError        // a read, write, sync, rename or other step failed
};

struct SaveStatus {
  SaveFailure failure = SaveFailure::None;
  // The system's error number of the failing step (errno on POSIX, the
  // backend's own codes on Windows; what SystemMessage() takes); 0 when the
  // failure is not the system's.
  int code = 0;
  // What went wrong, in words for people (UTF-8), without the file name:
  // "read-only", "file is busy: another program is saving it",
  // "write failed: No space left on device", or the writer's reason.
  std::string reason;
  bool ok() const { return failure == SaveFailure::None; }
};

// The status of the last save attempt on this thread: set by every session
// (open and commit) and by writers that refuse a layout before or instead of
// committing. Callers that only get false from a writer read the cause here.
const SaveStatus& LastSaveStatus();
void SetLastSaveStatus(SaveStatus status);
// Records a writer's refusal (SaveFailure::Refused with reason) and returns
// false, for "return RefuseSave(...)".
bool RefuseSave(std::string reason);
// Clears the last status (a save that had nothing to do).
void ClearLastSaveStatus();

struct SaveOptions {
  // A missing file is created empty (the report); otherwise it is NotFound.
  // A file the session created is removed again when no commit succeeds.
  bool createIfMissing = false;
  // How long to wait for another saver's lock.
  int lockWaitMs = 10000;
};

// How a commit was carried out.
enum class SaveMethod {
  None,       // no commit (yet), or it failed
  Replaced,   // a new file took the old one's name
  InPlace,    // the whole content written over the file, with a journal
  Patched,    // byte ranges overwritten, with a journal
  Unchanged   // a patch that changed no byte: nothing was written
};

// Same-size overwrite of [offset, offset + bytes.size()).
struct FilePatch {
  int64_t offset = 0;
  std::string bytes;
};

class SaveSession;
class SaveCore;

// The new content of a rewrite, written from start to end.
class OutputFile {
 public:
  bool Write(const void* data, size_t n);
  bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Copies len bytes of the old content starting at from; len < 0 copies to
  // the old content's end. False when the old content is shorter.
  bool CopyOriginal(int64_t from, int64_t len = -1);
  // Reads up to n bytes of the old content at pos; the count read, -1 on an
  // error.
  int64_t ReadOriginal(int64_t pos, void* buf, size_t n) const;
  // Bytes written so far.
  int64_t Size() const { return size_; }

 private:
  friend class SaveSession;
  friend class SaveCore;
  explicit OutputFile(void* session) : session_(session) {}
  void* session_;
  int64_t size_ = 0;
};

class SaveSession {
 public:
  // Opens, locks and checks the file (see the top of this header). path is
  // UTF-16 as the system holds it; path mappings apply (NativePath).
  explicit SaveSession(std::u16string_view path, const SaveOptions& options = {});
  ~SaveSession();
  SaveSession(const SaveSession&) = delete;
  SaveSession& operator=(const SaveSession&) = delete;

  bool IsOpen() const;
  explicit operator bool() const { return IsOpen(); }
  // Why the session did not open, or why the commit failed.
  const SaveStatus& Status() const;
  // The file did not exist and was created (empty) by this session.
  bool Created() const;

  // The file's current size and content (valid while open, before a commit).
  int64_t Size() const;
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const;
  // The same reads for code written against InputFile. Do not keep it past
  // the commit.
  const InputFile& Source() const;

  // Commits (at most one per session; the session is finished afterwards).
  // produce returns false to give up (SaveFailure::Cancelled, file unchanged;
  // a reason given to RefuseSave() while producing makes it Refused).
  bool Rewrite(const std::function<bool(OutputFile&)>& produce);
  // Every patch must lie inside the file; patches must not overlap.
  bool Patch(const std::vector<FilePatch>& patches);
  // Records a refusal of the writer as this session's outcome (nothing is
  // written) and returns false.
  bool Refuse(std::string reason);

  SaveMethod Method() const;

 private:
  struct Impl;
  friend class OutputFile;
  // An InputFile reading through a handle the session owns a copy of.
  static InputFile ReadView(intptr_t handle);
  std::unique_ptr<Impl> impl_;
};

// --- For tests ----------------------------------------------------------------
// The steps of a save that touch the file system, and milestones between them.
// A test hook sees each step before it runs; returning a nonzero error code
// (an errno value) makes that step fail with it. The hook may also block, to
// hold one saver at a milestone while another runs (deterministic
// interleavings). Hooks run on the saving thread.
enum class SaveStep {
  Open,            // opening the file, a temporary file or a folder
  Lock,            // each attempt to take the file's lock
  Write,           // writing new content (temporary file or in place)
  Sync,            // flushing the file or temporary file
  Truncate,        // setting the size of the file
  Rename,          // the atomic replace
  Link,            // giving an unnamed temporary file its name
  Chown,           // carrying the owner and group over
  CopyAttributes,  // carrying extended attributes and ACLs over
  JournalWrite,    // creating or writing a journal
  JournalSync,     // flushing a journal or a folder
  Unlink,          // removing a journal, temporary file or leftover
  // Milestones (returning an error fails the save at that point).
  LockBusy,        // a lock attempt found another saver (the session waits)
  Locked,          // lock held and identity checked; reading may begin
  Committing       // a commit starts
};
using SaveTestHook = std::function<int(SaveStep)>;
// Installs the hook for every thread (an empty hook removes it).
void SetSaveTestHook(SaveTestHook hook);

}  // namespace ordana
