#pragma once
// For the save layer's operating-system backends only (src/platform/posix,
// src/platform/win32): the portable state every backend shares. Callers of
// the save layer use SafeWrite.h.
#include "platform/SafeWrite.h"

namespace ordana {

// The calling thread's last save status, for the backend to set (what
// LastSaveStatus() returns).
SaveStatus& CurrentSaveStatus();

// Asks the test hook about a step: 0 lets it run, a nonzero error code makes
// the backend fail that step with it (as if the system had returned it).
// Cheap when no hook is installed. A backend calls it before every step that
// SaveStep names, and at each milestone.
int InjectedSaveFault(SaveStep step);

}  // namespace ordana
