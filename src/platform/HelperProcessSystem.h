#pragma once
// For the helper-process backends only (src/platform/posix,
// src/platform/win32): the system calls that HelperProcess's portable part
// (platform/HelperProcess.cpp) makes on a backend's State. Callers use
// HelperProcess.h.
//
// A State exists exactly while its helper runs: the portable part resets it
// once the helper is reaped, and destroying it releases the parent's
// handles (the channel's end among them).
#include <chrono>
#include <string>

#include "platform/HelperProcess.h"

namespace ordana {

struct HelperProcess::System {
  enum class Frame { kWhole, kPartial, kBroken };
  // Moves the first whole message out of the bytes received so far;
  // kPartial when more bytes are needed, kBroken when the helper broke the
  // framing.
  static Frame TakeMessage(State& s, std::string& message);

  enum class Read { kBytes, kTimedOut, kEnded, kFailed };
  // Waits until `deadline` for more bytes from the helper and keeps them
  // with the bytes received so far. kEnded when the channel has closed,
  // kFailed when the wait itself cannot be made.
  static Read ReadMore(State& s, std::chrono::steady_clock::time_point deadline);

  // True when the helper has already ended, without waiting: it is then
  // reaped and `cause` tells how it ended.
  static bool Ended(State& s, std::string& cause);
  // The same for a helper whose channel has closed, given a moment to
  // finish ending.
  static bool EndsAfterClose(State& s, std::string& cause);
  // Closes the parent's end of the channel, the helper's signal to end, and
  // gives it a moment to end; true when it has (it is then reaped).
  static bool CloseChannelAndWait(State& s);
  // Ends the helper at once; returns once it is gone.
  static void Terminate(State& s);
};

}  // namespace ordana
