#pragma once
// Helper processes: programs of the system's own that the main program
// starts for work it keeps out of its own process (the media probe runs
// FFmpeg in one), and the message channel between the two.
//
// The parent starts a helper under limits the operating system enforces
// (memory), sends it messages with a file attached (the helper receives its
// own handle to a file the parent opened, so it never opens anything by
// name), and waits for each answer as long as it chooses; a helper that
// overruns is killed. The helper finds the channel on its standard input and
// output and has no other files open.
//
// Messages are byte strings of at most kMaxHelperMessage bytes; the channel
// frames them.
//
// What every backend (posix/, and win32/ with a job object) holds to:
// - Start() returns a running helper or none: an error the program cannot
//   be started for (missing, not executable) comes back in *error, not as a
//   helper that dies at once.
// - The helper inherits nothing but the channel and standard error; it ends
//   with its parent (Linux: a death signal; other systems: at its next read
//   of the closed channel; Windows: the job kills it when closed).
// - limits.memoryBytes is enforced by the system for the helper alone
//   (RLIMIT_DATA; on Windows the job's process memory limit) unless
//   HelperMemoryLimitApplied() is false; time limits are the caller's, who
//   waits with Receive() and calls Kill().
// - A handed-over file reaches the helper as a handle of its own to the same
//   open file, read-only (SCM_RIGHTS; on Windows DuplicateHandle into it).
// - Kill() and Stop() return only once the helper is gone, and EndCause()
//   then tells how a helper that ended by itself ended.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ordana {

class InputFile;

inline constexpr size_t kMaxHelperMessage = 64 * 1024;

struct HelperLimits {
  // Memory the helper may allocate (its data segment; on Windows the job's
  // committed memory), 0 for no limit.
  uint64_t memoryBytes = 0;
};

// False in builds that do not apply memory limits: AddressSanitizer reserves
// terabytes of shadow memory, which a data limit would refuse.
bool HelperMemoryLimitApplied();
// True where the system also holds a helper to the memory limit it accepted:
// false under Wine, which keeps a job's memory limit (it reads back as set)
// but lets the process allocate past it.
bool HelperMemoryLimitEnforced();
// True where a helper's CPU time can be read (HelperProcess::CpuSeconds), so
// the CPU limit holds: false under Wine, which reports no CPU time for other
// processes; there only the wall-clock limit stops a spinning helper.
bool HelperCpuTimeMeasured();

// The parent's side of one helper. Move-only; the destructor stops it.
class HelperProcess {
 public:
  HelperProcess();
  ~HelperProcess();
  HelperProcess(HelperProcess&&) noexcept;
  HelperProcess& operator=(HelperProcess&&) noexcept;
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  // Starts `program` (a full path; no search) with `args`. On failure the
  // result is not running and *error holds the cause.
  static HelperProcess Start(const std::u16string& program, const std::vector<std::string>& args,
                             const HelperLimits& limits, std::string* error);

  bool Running() const;
  int64_t ProcessId() const;  // 0 when not running
  // The memory limit the system holds the running helper to, as read back
  // from the system (its RLIMIT_DATA; the job's process memory limit); 0
  // when there is none or the helper is not running.
  uint64_t AppliedMemoryLimit() const;

  // Sends one message; `file`, when given, is handed over with it (it stays
  // open and owned by the caller). False when the helper is gone.
  bool Send(std::string_view message, const InputFile* file = nullptr);

  enum class Received { kMessage, kTimedOut, kClosed };
  // Waits up to `timeout` for the next whole message. kClosed when the
  // helper has ended, or broke the framing (it is then killed).
  Received Receive(std::string& message, std::chrono::milliseconds timeout);

  // CPU time the helper has used so far in seconds; negative when unknown.
  double CpuSeconds() const;

  // Ends the helper at once and reaps it.
  void Kill();
  // How the last helper this object ran ended, when it ended by itself
  // before Kill() or Stop() reaped it: "it crashed (signal 11, Segmentation
  // fault)", "it exited with status 3"; empty when it was still running
  // and was ended by us, or has not ended.
  const std::string& EndCause() const { return endCause_; }
  // Closes the channel and gives the helper a moment to end by itself;
  // kills it when it does not.
  void Stop();

 private:
  // The backend's handles (posix/ or win32/HelperProcess.cpp), and the
  // system calls on them that the portable part (HelperProcess.cpp) makes
  // (platform/HelperProcessSystem.h). state_ exists exactly while a helper
  // runs.
  struct State;
  struct System;
  struct StateDeleter {
    void operator()(State* s) const noexcept;
  };
  std::unique_ptr<State, StateDeleter> state_;
  std::string endCause_;
};

// A file handed over by the parent, read by position. Move-only; closed by
// its destructor.
class ReceivedFile {
 public:
  ReceivedFile() = default;
  explicit ReceivedFile(intptr_t handle) : handle_(handle) {}
  ~ReceivedFile();
  ReceivedFile(ReceivedFile&& o) noexcept : handle_(o.handle_) { o.handle_ = -1; }
  ReceivedFile& operator=(ReceivedFile&& o) noexcept;
  ReceivedFile(const ReceivedFile&) = delete;
  ReceivedFile& operator=(const ReceivedFile&) = delete;

  bool IsOpen() const { return handle_ != -1; }
  int64_t Size() const;  // -1 when unknown
  // Up to n bytes at pos; the count read (short only at the end), or -1.
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const;
  void Close();

 private:
  intptr_t handle_ = -1;
};

// The helper's side of the channel, on its standard input and output.
namespace parent_channel {

// True when this process was started as a helper (its standard input and
// output are the channel), false when someone runs the program by hand. A
// helper calls it first: where the system would otherwise show an error box
// or start a debugger for a crash, it also makes a crash end the helper at
// once (Windows: with the exception's code as its exit code).
bool Present();
// Waits for the next message; false when the parent has closed the channel
// or broke the framing. A file that comes with the message lands in *file
// (closed when none came).
bool Receive(std::string& message, ReceivedFile* file);
bool Send(std::string_view message);

}  // namespace parent_channel

}  // namespace ordana
