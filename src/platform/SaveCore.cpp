// The save layer's algorithm, the same on every system (SaveCore.h).
#include "platform/SaveCore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

namespace ordana {

namespace {
constexpr size_t kCopyChunk = 1 << 20;
}  // namespace

// --- Steps that ask the hook ---------------------------------------------------------

bool SaveCore::WriteAll(SaveStep step, SaveFile f, const void* data, size_t n, int64_t pos) {
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    if (int e = InjectedSaveFault(step)) return errno = e, false;
    const int64_t w = WriteOnce(f, p, n, pos);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    p += w;
    if (pos >= 0) pos += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool SaveCore::Sync(SaveStep step, SaveFile f) {
  if (int e = InjectedSaveFault(step)) return errno = e, false;
  return Flush(f);
}

bool SaveCore::Truncate(SaveFile f, int64_t size) {
  if (int e = InjectedSaveFault(SaveStep::Truncate)) return errno = e, false;
  return SetSize(f, size);
}

int64_t SaveCore::ReadSome(SaveFile f, void* buf, size_t n, int64_t pos) const {
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    const int64_t r = ReadOnce(f, p + done, n - done, pos + int64_t(done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

bool SaveCore::ReadExact(SaveFile f, void* buf, size_t n, int64_t pos) const {
  const int64_t got = ReadSome(f, buf, n, pos);
  if (got == static_cast<int64_t>(n)) return true;
  if (got >= 0) errno = EIO;
  return false;
}

// Copies len bytes from in at inPos to `to` at toPos (positional writes).
bool SaveCore::CopyPositional(SaveStep step, SaveFile in, int64_t inPos, SaveFile to, int64_t toPos, int64_t len) {
  std::vector<char> buf(static_cast<size_t>(std::max<int64_t>(std::min<int64_t>(len, kCopyChunk), 1)));
  while (len > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(len, int64_t(buf.size())));
    if (!ReadExact(in, buf.data(), want, inPos)) return false;
    if (!WriteAll(step, to, buf.data(), want, toPos)) return false;
    inPos += int64_t(want);
    toPos += int64_t(want);
    len -= int64_t(want);
  }
  return true;
}

bool SaveCore::ReadJournal(SaveFile j, int64_t size, journal::Info& info) const {
  return journal::ReadIndex([&](void* buf, size_t n, int64_t pos) { return ReadExact(j, buf, n, pos); }, size,
                            info);
}

SaveCore::Waiter::Waiter(int waitMs)
    : deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, waitMs))) {}

bool SaveCore::WaitForSaver(Waiter& waiter, int code) {
  if (int e = InjectedSaveFault(SaveStep::LockBusy)) return FailWith(SaveFailure::Busy, e, kBusyReason);
  const auto now = std::chrono::steady_clock::now();
  if (now >= waiter.deadline) return FailWith(SaveFailure::Busy, code, kBusyReason);
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(waiter.pause, waiter.deadline - now));
  waiter.pause = std::min(waiter.pause * 2, std::chrono::milliseconds(50));
  return true;
}

bool SaveCore::CopyFast(int64_t&, int64_t&) { return true; }
void SaveCore::HoldInterrupts(bool) {}

// --- Opening -------------------------------------------------------------------------

bool SaveCore::Open(std::u16string_view path) {
  if (!FindTarget(path)) return false;
  // Another saver may replace the file while this one waits for its lock;
  // then the new file is opened and waited for in turn.
  for (int attempt = 0; attempt < 100; ++attempt) {
    bool retry = false;
    if (OpenOnce(retry)) break;
    if (!retry) return false;
  }
  if (!HasFile()) return Fail(SaveFailure::Changed, 0, "the file keeps being replaced by other programs");
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
  RemoveLeftovers();
  if (!LookAtFile()) {
    FailErrno("cannot look at the file");
    return notOpened();
  }
  if (!OpenSource()) {
    FailErrno("cannot read the file");
    return notOpened();
  }
  original = File();
  status = SaveStatus{};
  CurrentSaveStatus() = status;
  return true;
}

bool SaveCore::OpenOnce(bool& retry) {
  if (!OpenFile(retry)) return false;
  bool unsupported = false;
  if (!Lock(unsupported)) {
    if (created) RemoveCreated();
    created = false;
    CloseFile();
    return false;
  }
  // The lock may have been waited for: look again.
  if (!LookAtFile()) {
    const int e = errno;
    CloseFile();
    return Fail(SaveFailure::IoError, e, "cannot look at the file");
  }
  if (!StillSameFile()) {
    CloseFile();
    created = false;
    return retry = true, false;
  }
  if (ReadOnly()) {
    CloseFile();
    return FailWith(SaveFailure::ReadOnly, EACCES, "read-only");
  }
  if (unsupported)
    std::fprintf(stderr,
                 "ordana: %s: the file system does not support file locks; saving with the "
                 "identity check only\n",
                 TargetText().c_str());
  return true;
}

bool SaveCore::Recover() {
  if (!RecoverAt(JournalPlace::OwnName)) return false;
  // A save through another name of the file may have left its journal here.
  if (Links() > 1 && !RecoverAt(JournalPlace::OtherName)) return false;
  return RecoverAt(JournalPlace::TempFolder);
}

bool SaveCore::Lock(bool& unsupported) {
  Waiter waiter(options.lockWaitMs);
  for (;;) {
    int e = InjectedSaveFault(SaveStep::Lock);
    if (!e) e = TryLock();
    if (e == 0) return true;
    if (e == EINTR) continue;
    if (e == ENOLCK || e == EOPNOTSUPP || e == ENOTSUP || e == EINVAL) return unsupported = true;
    if (e != EWOULDBLOCK && e != EBUSY) return Fail(SaveFailure::IoError, e, "cannot lock the file");
    if (!WaitForSaver(waiter, EWOULDBLOCK)) return false;
  }
}

// --- Committing ----------------------------------------------------------------------

bool SaveCore::BeginCommit() {
  if (!HasFile() || finished) {
    if (!HasFile() && status.ok()) return Fail(SaveFailure::IoError, EBADF, "the file is not open");
    if (!HasFile()) return CurrentSaveStatus() = status, false;
    return Fail(SaveFailure::IoError, EALREADY, "the save is already finished");
  }
  finished = true;
  if (int e = InjectedSaveFault(SaveStep::Committing)) return Fail(SaveFailure::IoError, e, "cannot save");
  if (!StillSameFile()) return Fail(SaveFailure::Changed, 0, kChangedReason);
  return true;
}

bool SaveCore::Rewrite(const std::function<bool(OutputFile&)>& produce) {
  if (!BeginCommit()) return false;
  bool inPlace = MustRewriteInPlace();
  if (!inPlace) {
    if (RewriteReplacing(produce, inPlace)) return true;
    if (!inPlace) return false;
    status = SaveStatus{};
  }
  return RewriteInPlace(produce);
}

SaveCore::TempOutcome SaveCore::WriteTemp(SaveFile temp, bool positional,
                                          const std::function<bool(OutputFile&)>& produce) {
  out = temp;
  outPositional = positional;
  outPos = 0;
  OutputFile output(this);
  if (ProducerOutcome run = RunProducer(produce, output); run.failure != SaveFailure::None)
    return {run.failure, run.code, std::move(run.what)};
  bool attributesLost = false;
  if (!CarryOver(temp, attributesLost)) return {status.failure, status.code, status.reason};
  if (attributesLost) return {SaveFailure::None, 0, "", true};
  if (!Sync(SaveStep::Sync, temp)) return {SaveFailure::IoError, errno, "sync failed"};
  return {};
}

bool SaveCore::RewriteInPlace(const std::function<bool(OutputFile&)>& produce) {
  if (!WriteJournal({{0, originalSize}})) return false;
  InterruptsHeld hold(*this);
  // The producer reads the old content from the journal from now on.
  original = journalFile;
  out = File();
  outPositional = true;
  outPos = 0;
  OutputFile output(this);
  ProducerOutcome run = RunProducer(produce, output);
  bool ok = run.failure == SaveFailure::None;
  int e = run.code;
  SaveFailure failure = run.failure;
  std::string what = std::move(run.what);
  if (ok) {
    if (!Truncate(File(), outPos)) {
      e = errno;
      ok = false, failure = SaveFailure::IoError, what = "cannot set the file's size";
    } else if (!Sync(SaveStep::Sync, File())) {
      e = errno;
      ok = false, failure = SaveFailure::IoError, what = "sync failed";
    }
  }
  original = File();
  if (!ok) {
    if (RestoreFromJournal()) RemoveJournal();
    else CloseJournal();  // the next save restores the file from it
    return Fail(failure, failure == SaveFailure::IoError ? (e ? e : EIO) : 0, what);
  }
  if (!RemoveJournal()) return UndoStuckCommit("cannot remove the journal");
  committed = true;
  method = SaveMethod::InPlace;
  return true;
}

bool SaveCore::Patch(const std::vector<FilePatch>& patches) {
  if (!BeginCommit()) return false;
  std::vector<journal::Range> ranges;
  if (const char* wrong = CheckPatches(patches, originalSize, &ranges))
    return Fail(SaveFailure::IoError, EINVAL, wrong);
  bool same = true;
  for (const FilePatch& p : patches) {
    std::string old(p.bytes.size(), '\0');
    if (!ReadExact(File(), old.data(), old.size(), p.offset)) return FailErrno("cannot read the file");
    same = same && old == p.bytes;
  }
  if (same) {
    committed = true;
    method = SaveMethod::Unchanged;
    return true;
  }
  if (!WriteJournal(ranges)) return false;
  InterruptsHeld hold(*this);
  bool ok = true;
  for (const FilePatch& p : patches)
    ok = ok && WriteAll(SaveStep::Write, File(), p.bytes.data(), p.bytes.size(), p.offset);
  ok = ok && Sync(SaveStep::Sync, File());
  if (!ok) {
    const int e = errno ? errno : EIO;
    if (RestoreFromJournal()) RemoveJournal();
    else CloseJournal();
    return Fail(SaveFailure::IoError, e, "write failed");
  }
  if (!RemoveJournal()) return UndoStuckCommit("cannot remove the journal");
  committed = true;
  method = SaveMethod::Patched;
  return true;
}

// --- The journal ---------------------------------------------------------------------

bool SaveCore::WriteJournal(const std::vector<journal::Range>& ranges) {
  if (!CreateJournal(false) && (!FolderRefusesNewFiles(errno) || !CreateJournal(true))) {
    const int e = errno;
    return Fail(SaveFailure::IoError, e, "cannot create the journal");
  }
  auto fail = [&](const char* what) {
    const int e = errno ? errno : EIO;
    DiscardJournal();
    return Fail(SaveFailure::IoError, e, what);
  };
  int64_t at = 0;
  for (const journal::Range& r : ranges) {
    if (!CopyPositional(SaveStep::JournalWrite, File(), r.offset, journalFile, at, r.length))
      return fail("cannot write the journal");
    at += r.length;
  }
  uint64_t volume = 0, file = 0;
  Identity(volume, file);
  const std::string index = journal::BuildIndex(ranges, volume, file, uint64_t(originalSize), TargetText());
  if (!WriteAll(SaveStep::JournalWrite, journalFile, index.data(), index.size(), at) ||
      !Sync(SaveStep::JournalSync, journalFile))
    return fail("cannot write the journal");
  // The commit marker: from here on the journal is what a crash is undone from.
  if (!WriteAll(SaveStep::JournalWrite, journalFile, journal::kMarker, journal::kMarkerSize, at + int64_t(index.size())) ||
      !Sync(SaveStep::JournalSync, journalFile) || !SyncJournalFolder())
    return fail("cannot write the journal");
  return true;
}

// Removes the finished commit's journal. When it cannot be removed, its
// commit marker is wiped instead, so that the next save does not undo this
// one. False (the journal still open and complete) when neither works.
bool SaveCore::RemoveJournal() {
  if (journalFile == kNoFile) return true;
  if (!DeleteJournal()) {
    const int64_t size = SizeOf(journalFile);
    const bool wiped = size >= int64_t(journal::kMarkerSize) &&
                       WriteAll(SaveStep::JournalWrite, journalFile, "\0\0\0\0\0\0\0\0", journal::kMarkerSize,
                                size - int64_t(journal::kMarkerSize)) &&
                       Sync(SaveStep::JournalSync, journalFile);
    if (!wiped) return false;
  }
  CloseJournal();
  return true;
}

// A commit whose journal can be neither removed nor disarmed: the new
// content is taken back out (the journal, complete, would restore it at the
// next save anyway), so that the failure leaves the file as it was.
bool SaveCore::UndoStuckCommit(const char* what) {
  const int e = errno ? errno : EIO;
  RestoreFromJournal();
  CloseJournal();
  return Fail(SaveFailure::IoError, e, what);
}

// Puts the journal's old bytes back into the file (an in-place commit that
// failed half-way).
bool SaveCore::RestoreFromJournal() {
  journal::Info info;
  if (journalFile == kNoFile || !ReadJournal(journalFile, SizeOf(journalFile), info)) return false;
  for (int attempt = 0; attempt < 3; ++attempt)
    if (PutBack(journalFile, info, AskTruncateOnRestore())) return true;
  return false;
}

bool SaveCore::UndoInterrupted(SaveFile j, const journal::Info& info) {
  if (!PutBack(j, info, true))
    return Fail(SaveFailure::IoError, errno ? errno : EIO, "an interrupted earlier save could not be undone");
  return true;
}

bool SaveCore::PutBack(SaveFile j, const journal::Info& info, bool askTruncate) {
  int64_t at = 0;
  for (const journal::Range& r : info.ranges) {
    if (!CopyPositional(SaveStep::Write, j, at, File(), r.offset, r.length)) return false;
    at += r.length;
  }
  const int64_t size = int64_t(info.size);
  return (askTruncate ? Truncate(File(), size) : SetSize(File(), size)) && Sync(SaveStep::Sync, File());
}

// --- The output ----------------------------------------------------------------------

bool SaveCore::OutWrite(const char* p, size_t n) {
  if (!WriteAll(SaveStep::Write, out, p, n, outPositional ? outPos : -1)) return false;
  outPos += int64_t(n);
  return true;
}

int64_t SaveCore::ReadOriginal(int64_t pos, void* buf, size_t n) const {
  if (pos < 0) return -1;
  if (pos >= originalSize) return 0;
  n = static_cast<size_t>(std::min<int64_t>(int64_t(n), originalSize - pos));
  return ReadSome(original, buf, n, pos);
}

bool SaveCore::CopyOriginal(int64_t from, int64_t len) {
  if (from < 0 || from > originalSize) return errno = EINVAL, false;
  if (len < 0) len = originalSize - from;
  if (len > originalSize - from) return errno = EINVAL, false;
  if (!outPositional && !CopyFast(from, len)) return false;
  std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(len, 1), kCopyChunk)));
  while (len > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(len, int64_t(buf.size())));
    if (!ReadExact(original, buf.data(), want, from)) return false;
    if (!OutWrite(buf.data(), want)) return false;
    from += int64_t(want);
    len -= int64_t(want);
  }
  return true;
}

}  // namespace ordana
