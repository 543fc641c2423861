#pragma once
// For the save layer's operating-system backends only (src/platform/posix,
// src/platform/win32): the portable state every backend shares. Callers of
// the save layer use SafeWrite.h.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/SafeWrite.h"
#include "platform/SaveJournal.h"

namespace ordana {

// The calling thread's last save status, for the backend to set (what
// LastSaveStatus() returns).
SaveStatus& CurrentSaveStatus();

// Asks the test hook about a step: 0 lets it run, a nonzero error code makes
// the backend fail that step with it (as if the system had returned it).
// Cheap when no hook is installed. A backend calls it before every step that
// SaveStep names, and at each milestone.
int InjectedSaveFault(SaveStep step);

// The system's words for an error code of the save layer (an errno value);
// each backend gives its own.
std::string SaveErrorText(int code);

// A session's failure, recorded alike on every system: the session's status
// and the calling thread's last status are set together. Each returns false,
// for `return Fail(...)`.
struct SaveFailureState {
  SaveStatus status;
  // A code (when nonzero) adds the system's words for it to what.
  bool Fail(SaveFailure failure, int code, std::string what);
  // A failure whose words say it all; code still tells callers the error
  // the system would have given.
  bool FailWith(SaveFailure failure, int code, std::string what);
  // An I/O failure with errno's code (EIO when errno holds none).
  bool FailErrno(std::string what);
};

// What a writer's run into an output came to: failure None when it
// succeeded; else Refused (with the writer's reason), IoError (the errno it
// left, "write failed") or Cancelled ("the writer gave up").
struct ProducerOutcome {
  SaveFailure failure = SaveFailure::None;
  int code = 0;
  std::string what;
};
ProducerOutcome RunProducer(const std::function<bool(OutputFile&)>& produce, OutputFile& out);

// Checks changes to a file of `size` bytes: each inside the file, none
// overlapping another. Null when they are sound (the non-empty ones, the
// ranges a journal keeps, are then in *ranges), else what is wrong.
const char* CheckPatches(const std::vector<FilePatch>& patches, int64_t size, std::vector<journal::Range>* ranges);

}  // namespace ordana
