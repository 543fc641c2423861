#pragma once
// For the save layer's operating-system backends only: a session's
// algorithm, written once (SaveCore.cpp) over the few primitives that each
// backend supplies. The session's open (the retries, the lock and its wait,
// the checks after it, recovery), both commits, the in-place rewrite, the
// journal's writing, removal and restoring, and the output's reads and
// writes live here; the backend opens, locks, names and replaces files with
// its system's calls (platform/<os>/SafeWrite.cpp).
//
// The backend's SaveSession::Impl derives from SaveCore and overrides every
// pure virtual member below. A file is named by the backend's own handle
// value (a POSIX descriptor, a Windows HANDLE) as a SaveFile; kNoFile is
// none. Primitives set errno (<cerrno>) when they fail. The plain I/O ones
// do not ask the test hook (the core asks InjectedSaveFault before each step
// it runs with them); the others ask it before each system step they take
// themselves (opening, renaming, removing, carrying attributes over).
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SaveBackend.h"

namespace ordana {

using SaveFile = intptr_t;
inline constexpr SaveFile kNoFile = -1;

// Two of the fixed reasons of SafeWrite.h.
inline constexpr char kBusyReason[] = "file is busy: another program is saving it";
inline constexpr char kChangedReason[] = "another program replaced the file during the save";

class SaveCore : public SaveFailureState {
 public:
  virtual ~SaveCore() = default;

  // --- What SaveSessionFacade.h uses ---------------------------------------------
  SaveOptions options;
  bool created = false;   // the session created the file
  bool finished = false;  // committed, refused or given up
  bool committed = false;
  SaveMethod method = SaveMethod::None;
  InputFile source;
  // The old content: the file itself, or the journal during an in-place rewrite.
  SaveFile original = kNoFile;
  int64_t originalSize = 0;
  // The new content's destination, written at outPos (at the file's own
  // position when not outPositional).
  SaveFile out = kNoFile;
  bool outPositional = true;
  int64_t outPos = 0;

  bool HasFile() const { return File() != kNoFile; }
  // Steps 1 to 5 of SafeWrite.h; false with the status set.
  bool Open(std::u16string_view path);
  bool Rewrite(const std::function<bool(OutputFile&)>& produce);
  bool Patch(const std::vector<FilePatch>& patches);
  // Unlocks and closes everything (a created file that was never committed
  // goes again); safe to call more than once.
  virtual void Finish() = 0;

  bool OutWrite(const char* p, size_t n);
  bool CopyOriginal(int64_t from, int64_t len);
  int64_t ReadOriginal(int64_t pos, void* buf, size_t n) const;

 protected:
  // The journal of the running commit (kNoFile when there is none).
  SaveFile journalFile = kNoFile;

  // An error that says the folder takes no new files (a journal or a
  // temporary file then goes elsewhere, or the content over the file).
  static bool FolderRefusesNewFiles(int e) { return e == EACCES || e == EPERM || e == EROFS; }

  // --- Primitives: plain I/O -------------------------------------------------------
  // Up to n bytes at pos (one call: fewer at the end); 0 at the end, -1 on an error.
  virtual int64_t ReadOnce(SaveFile f, void* buf, size_t n, int64_t pos) const = 0;
  // Up to n bytes at pos, or at the file's own position when pos < 0 (one
  // call); the count written, -1 on an error.
  virtual int64_t WriteOnce(SaveFile f, const void* p, size_t n, int64_t pos) = 0;
  virtual int64_t SizeOf(SaveFile f) const = 0;  // -1 on an error
  virtual bool SetSize(SaveFile f, int64_t size) = 0;
  virtual bool Flush(SaveFile f) = 0;

  // --- Primitives: the session's file ------------------------------------------------
  virtual SaveFile File() const = 0;
  // Follows the path to the file to save (see SafeWrite.h, step 1) and
  // readies the names beside it. False with the status set.
  virtual bool FindTarget(std::u16string_view path) = 0;
  // Opens the file once (creating it when options.createIfMissing allows),
  // before its lock: false with the status set, or with retry when the
  // file changed under the open. Waits for another saver's open with
  // WaitForSaver where the system makes one wait there.
  virtual bool OpenFile(bool& retry) = 0;
  // One attempt at the lock: 0 when held, EWOULDBLOCK (or EBUSY) while
  // another holds it, else the system's error.
  virtual int TryLock() = 0;
  virtual void CloseFile() = 0;
  // Removes the file this session created (a lock failed).
  virtual void RemoveCreated() = 0;
  // Reads the open file's identity, link count and attributes again, and
  // originalSize.
  virtual bool LookAtFile() = 0;
  // The path names the file that is open (identity of step 4).
  virtual bool StillSameFile() const = 0;
  virtual bool ReadOnly() const = 0;
  // The file's path, for messages and the journal (UTF-8).
  virtual std::string TargetText() const = 0;
  // The file's number of names (hard links).
  virtual int64_t Links() const = 0;
  // Where an interrupted save's journal may stand: under this file's own
  // name in its folder, under another name there (a hard link's), or in the
  // temporary folder.
  enum class JournalPlace { OwnName, OtherName, TempFolder };
  // Finishes the interrupted earlier saves whose journals stand there
  // (step 5). False with the status set.
  virtual bool RecoverAt(JournalPlace place) = 0;
  // Removes the temporary files of earlier saves that no saver holds.
  virtual void RemoveLeftovers() = 0;
  // Sets source to a reader of its own of the file.
  virtual bool OpenSource() = 0;

  // --- Primitives: commits ------------------------------------------------------------
  // The new content must be written over the file (its links, streams or
  // handle do not allow a new file).
  virtual bool MustRewriteInPlace() = 0;
  // Writes the new content into a new file that takes the file's name (see
  // WriteTemp); false with the status set, or with inPlaceInstead (and the
  // status untouched) when the content must go over the file instead.
  virtual bool RewriteReplacing(const std::function<bool(OutputFile&)>& produce, bool& inPlaceInstead) = 0;
  // Owner, permissions, attributes and access lists onto a new file;
  // attributesLost when something could not be carried. False with the
  // status set.
  virtual bool CarryOver(SaveFile temp, bool& attributesLost) = 0;
  // A faster copy of the old content into a sequential output, where the
  // system has one: copies what it can of [from, from + len) and moves both
  // on. False on an error.
  virtual bool CopyFast(int64_t& from, int64_t& len);
  // Interrupt signals wait while the file is changed in place (POSIX).
  virtual void HoldInterrupts(bool hold);
  // The size is set after a failed commit's bytes are put back, with or
  // without asking the hook about SaveStep::Truncate.
  virtual bool AskTruncateOnRestore() const { return true; }

  // --- Primitives: the journal --------------------------------------------------------
  // Creates a new journal beside the file or (inTempFolder) in the user's
  // temporary folder; sets journalFile and keeps its path.
  virtual bool CreateJournal(bool inTempFolder) = 0;
  // Removes the journal being written (never completed) and closes it.
  virtual void DiscardJournal() = 0;
  // Removes the finished journal's name (and makes that last).
  virtual bool DeleteJournal() = 0;
  virtual void CloseJournal() = 0;
  // Makes the journal's folder entry last (POSIX).
  virtual bool SyncJournalFolder() { return true; }
  // The identity the journal names the file by.
  virtual void Identity(uint64_t& volume, uint64_t& file) const = 0;

  // --- For the backend: steps that ask the hook --------------------------------------
  bool WriteAll(SaveStep step, SaveFile f, const void* p, size_t n, int64_t pos);
  bool Sync(SaveStep step, SaveFile f);
  bool Truncate(SaveFile f, int64_t size);  // SaveStep::Truncate
  int64_t ReadSome(SaveFile f, void* buf, size_t n, int64_t pos) const;
  bool ReadExact(SaveFile f, void* buf, size_t n, int64_t pos) const;
  bool CopyPositional(SaveStep step, SaveFile in, int64_t inPos, SaveFile to, int64_t toPos, int64_t len);
  // Parses the index of the journal j of size bytes (journal::ReadIndex).
  bool ReadJournal(SaveFile j, int64_t size, journal::Info& info) const;

  // Waiting for another saver (a lock or, on Windows, an open), at most
  // options.lockWaitMs from the first attempt.
  struct Waiter {
    explicit Waiter(int waitMs);
    std::chrono::steady_clock::time_point deadline;
    std::chrono::milliseconds pause{2};
  };
  // Asks SaveStep::LockBusy, then pauses a little and returns true (try
  // again); once the time is up, fails with Busy (code) and returns false.
  bool WaitForSaver(Waiter& waiter, int code);

  // Writes the new content into temp (from its start; at its own position
  // unless positional), carries the original's attributes over and flushes
  // it. Returns what failed (failure None and inPlaceInstead when the
  // attributes cannot be carried over); the backend removes temp first.
  struct TempOutcome {
    SaveFailure failure = SaveFailure::None;
    int code = 0;
    std::string what;
    bool inPlaceInstead = false;
    bool ok() const { return failure == SaveFailure::None && !inPlaceInstead; }
  };
  TempOutcome WriteTemp(SaveFile temp, bool positional, const std::function<bool(OutputFile&)>& produce);

  // Puts a journal's old bytes back into the file, sets its old size and
  // flushes it: the restore of an interrupted earlier save (status set on
  // failure).
  bool UndoInterrupted(SaveFile j, const journal::Info& info);

 private:
  // Interrupts wait while one lives (HoldInterrupts).
  class InterruptsHeld {
   public:
    explicit InterruptsHeld(SaveCore& core) : core_(core) { core_.HoldInterrupts(true); }
    ~InterruptsHeld() { core_.HoldInterrupts(false); }

   private:
    SaveCore& core_;
  };
  bool OpenOnce(bool& retry);
  bool Recover();
  bool Lock(bool& unsupported);
  bool BeginCommit();
  bool RewriteInPlace(const std::function<bool(OutputFile&)>& produce);
  bool WriteJournal(const std::vector<journal::Range>& ranges);
  bool RemoveJournal();
  bool RestoreFromJournal();
  bool UndoStuckCommit(const char* what);
  bool PutBack(SaveFile j, const journal::Info& info, bool askTruncate);
};

}  // namespace ordana
