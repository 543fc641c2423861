// The parent's side of a helper process on Windows: CreateProcessW with the
// client end of a duplex pipe as the helper's standard input and output
// (the only handles it inherits, besides standard error), inside a job
// object that holds its memory, lets it start no process of its own and
// kills it when the job is closed. The parent's end of the pipe is read with
// overlapped I/O, so that a wait for an answer can time out. The system
// calls under the portable part (platform/HelperProcess.cpp).
#include "platform/HelperProcess.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/FileIO.h"
#include "platform/HelperProcessSystem.h"
#include "platform/TextCodec.h"
#include "platform/win32/ChannelFraming.h"
#include "platform/win32/WinFiles.h"

namespace ordana {

bool HelperMemoryLimitApplied() { return true; }

namespace {
bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}
}  // namespace

// Wine keeps a job's process memory limit (it reads back as set) but does
// not hold the process to it.
bool HelperMemoryLimitEnforced() { return !UnderWine(); }

// Wine's GetProcessTimes gives zero times for processes other than the caller.
bool HelperCpuTimeMeasured() { return !UnderWine(); }

struct HelperProcess::State {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  HANDLE pipe = INVALID_HANDLE_VALUE;  // our end, overlapped
  DWORD pid = 0;
  uint64_t memoryLimit = 0;  // as read back from the job
  OVERLAPPED read{};         // read.hEvent: set when a pending read completes
  bool reading = false;
  char buffer[4096];
  std::string inbox;

  ~State() {
    CancelRead();
    if (pipe != INVALID_HANDLE_VALUE) ::CloseHandle(pipe);
    if (read.hEvent) ::CloseHandle(read.hEvent);
    if (process) ::CloseHandle(process);
    if (job) ::CloseHandle(job);  // kills whatever is still in it
  }
  // A pending read writes into `buffer` until it is cancelled and done.
  void CancelRead() {
    if (!reading) return;
    ::CancelIoEx(pipe, &read);
    DWORD ignored = 0;
    ::GetOverlappedResult(pipe, &read, &ignored, TRUE);
    reading = false;
  }
};

void HelperProcess::StateDeleter::operator()(State* s) const noexcept { delete s; }

namespace {

// The errno value for why a program could not be started: the file layer's
// mapping, plus the codes for a file that is no program.
int StartErrno(DWORD error) {
  switch (error) {
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_BAD_FORMAT:
    case ERROR_INVALID_EXE_SIGNATURE: return ENOEXEC;
    default: {
      const int err = win32::ErrnoFromWin32(error);
      return err ? err : EIO;
    }
  }
}

// How a process that ended by itself ended, from its exit code: codes of
// the NTSTATUS error range are the exceptions that killed it.
std::string DescribeEnd(DWORD code) {
  if (code >= 0xC0000000u) {
    const char* name = nullptr;
    switch (code) {
      case 0xC0000005u: name = "access violation"; break;
      case 0xC000001Du: name = "illegal instruction"; break;
      case 0xC0000094u: name = "integer division by zero"; break;
      case 0xC00000FDu: name = "stack overflow"; break;
      case 0xC0000017u: name = "out of memory"; break;
      case 0xC0000409u: name = "fast fail"; break;
      case 0xC000013Au: name = "interrupted"; break;
      default: break;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return std::string("it crashed (exception ") + hex + (name ? std::string(", ") + name : std::string()) + ")";
  }
  return "it exited with status " + std::to_string(code);
}

// Quotes one argument so that the C runtime's command-line parser gives it
// back unchanged.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') line.append(backslashes * 2 + 1, L'\\');
    else line.append(backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// The job's limits for a helper: one process (it may start none of its
// own), killed when the job is closed (so also when this process ends),
// ended without an error dialog when it crashes, and its committed memory
// held to limits.memoryBytes.
JOBOBJECT_EXTENDED_LIMIT_INFORMATION JobLimits(const HelperLimits& limits) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
  info.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  info.BasicLimitInformation.ActiveProcessLimit = 1;
  if (limits.memoryBytes > 0) {
    info.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    info.ProcessMemoryLimit = static_cast<SIZE_T>(limits.memoryBytes);
  }
  return info;
}

// The memory limit the job holds its processes to, read back; 0 for none.
// A job always has KILL_ON_JOB_CLOSE here, so limits that read back as none
// at all mean the system does not report them (Wine answers the query with
// zeros): then the limit it accepted, `accepted`, is what applies.
uint64_t JobMemoryLimit(HANDLE job, const JOBOBJECT_EXTENDED_LIMIT_INFORMATION& accepted) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
  if (!::QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info, nullptr)) return 0;
  if (info.BasicLimitInformation.LimitFlags == 0) info = accepted;
  if (!(info.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_PROCESS_MEMORY)) return 0;
  return info.ProcessMemoryLimit;
}

std::wstring UniquePipeName() {
  static std::atomic<unsigned> counter{0};
  wchar_t name[96];
  std::swprintf(name, sizeof name / sizeof name[0], L"\\\\.\\pipe\\ordana-helper-%lu-%u-%llu",
                static_cast<unsigned long>(::GetCurrentProcessId()), counter.fetch_add(1),
                static_cast<unsigned long long>(::GetTickCount64()));
  return name;
}

}  // namespace

HelperProcess HelperProcess::Start(const std::u16string& program, const std::vector<std::string>& args,
                                   const HelperLimits& limits, std::string* error) {
  auto fail = [&](int err) {
    if (error) *error = SystemMessage(err);
    return HelperProcess();
  };
  auto failLast = [&]() { return fail(StartErrno(::GetLastError())); };
  const std::wstring path = win32::SystemPath(program);
  if (path.empty()) return fail(ENOENT);
  std::wstring commandLine;
  AppendQuoted(commandLine, path);
  for (const std::string& a : args) AppendQuoted(commandLine, win32::Wide(Utf8ToUtf16(Utf8View(a))));

  // The channel: a duplex pipe of one instance, connected at once by our
  // own open of its client end (nobody else can take that place).
  const std::wstring pipeName = UniquePipeName();
  win32::Handle server(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                  static_cast<DWORD>(kMaxHelperMessage * 2), static_cast<DWORD>(kMaxHelperMessage * 2),
                                  0, nullptr));
  if (!server) return failLast();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  win32::Handle client(::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
  if (!client) return failLast();
  win32::Handle readEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!readEvent) return failLast();

  win32::Handle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return failLast();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION jobLimits = JobLimits(limits);
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &jobLimits, sizeof jobLimits))
    return failLast();

  // Standard error is shared with us, through a copy that may be inherited.
  win32::Handle errCopy;
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  HANDLE copy = nullptr;
  if (err && err != INVALID_HANDLE_VALUE &&
      ::DuplicateHandle(::GetCurrentProcess(), err, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    errCopy.Reset(copy);

  // Only the channel and standard error are inherited, whatever else this
  // process holds inheritable.
  HANDLE inherited[2] = {client.get(), errCopy.get()};
  const DWORD inheritedCount = errCopy ? 2 : 1;
  SIZE_T attrSize = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
  std::string attrStore(attrSize, '\0');
  auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrStore.data());
  if (!::InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize)) return failLast();
  struct AttrsGuard {
    LPPROC_THREAD_ATTRIBUTE_LIST a;
    ~AttrsGuard() { ::DeleteProcThreadAttributeList(a); }
  } attrsGuard{attrs};
  if (!::UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   inheritedCount * sizeof(HANDLE), nullptr, nullptr))
    return failLast();

  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = client.get();
  si.StartupInfo.hStdOutput = client.get();
  si.StartupInfo.hStdError = errCopy ? errCopy.get() : nullptr;
  si.lpAttributeList = attrs;
  // Started suspended, so that it runs no instruction outside the job. A
  // program without a console of its own opens no console window for it.
  DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT;
  if (!::GetConsoleWindow()) flags |= CREATE_NO_WINDOW;
  // A crash ends the helper at once instead of showing an error box (the
  // error mode is inherited).
  const UINT savedMode = ::GetErrorMode();
  ::SetErrorMode(savedMode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  PROCESS_INFORMATION pi{};
  const BOOL created = ::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                        nullptr, &si.StartupInfo, &pi);
  const DWORD createError = ::GetLastError();
  ::SetErrorMode(savedMode);
  if (!created) return fail(StartErrno(createError));
  win32::Handle process(pi.hProcess);
  win32::Handle thread(pi.hThread);
  if (!::AssignProcessToJobObject(job.get(), pi.hProcess)) {
    const DWORD e = ::GetLastError();
    ::TerminateProcess(pi.hProcess, 1);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    return fail(StartErrno(e));
  }
  ::ResumeThread(pi.hThread);

  HelperProcess h;
  h.state_.reset(new State);
  State& s = *h.state_;
  s.memoryLimit = JobMemoryLimit(job.get(), jobLimits);
  s.process = process.Release();
  s.job = job.Release();
  s.pipe = server.Release();
  s.read.hEvent = readEvent.Release();
  s.pid = pi.dwProcessId;
  return h;
}

int64_t HelperProcess::ProcessId() const { return Running() ? state_->pid : 0; }

uint64_t HelperProcess::AppliedMemoryLimit() const { return Running() ? state_->memoryLimit : 0; }

bool HelperProcess::Send(std::string_view message, const InputFile* file) {
  if (!Running()) return false;
  State& s = *state_;
  if (message.size() > kMaxHelperMessage) return false;
  // The file goes into the helper's handle table first, read-only; the
  // frame names the copy, which the helper then owns.
  HANDLE remote = nullptr;
  if (file) {
    const auto native = reinterpret_cast<HANDLE>(file->NativeHandle());
    if (file->NativeHandle() == -1 ||
        !::DuplicateHandle(::GetCurrentProcess(), native, s.process, &remote,
                           FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FALSE, 0))
      return false;
  }
  const auto dropRemote = [&] {
    if (remote) ::DuplicateHandle(s.process, remote, nullptr, nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
  };
  const std::string frame = channel_framing::EncodeFrame(
      message, remote ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(remote)) : channel_framing::kNoHandle);
  OVERLAPPED ov{};
  win32::Handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ov.hEvent = done.get();
  if (!done) {
    dropRemote();
    return false;
  }
  DWORD wrote = 0;
  if (!::WriteFile(s.pipe, frame.data(), static_cast<DWORD>(frame.size()), &wrote, &ov)) {
    if (::GetLastError() != ERROR_IO_PENDING) {
      dropRemote();
      return false;
    }
    // The pipe's buffer holds a whole frame, so the write completes at once
    // unless the helper is stuck with earlier ones unread: then it, or its
    // end, is waited for.
    HANDLE waits[2] = {done.get(), s.process};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      ::CancelIoEx(s.pipe, &ov);
      ::GetOverlappedResult(s.pipe, &ov, &wrote, TRUE);
      dropRemote();
      return false;
    }
    if (!::GetOverlappedResult(s.pipe, &ov, &wrote, FALSE)) {
      dropRemote();
      return false;
    }
  }
  return wrote == frame.size();
}

HelperProcess::System::Frame HelperProcess::System::TakeMessage(State& s, std::string& message) {
  uint64_t handle = channel_framing::kNoHandle;
  const auto frame = channel_framing::TakeFrame(s.inbox, message, &handle);
  // A helper hands no handles back: a frame that names one breaks the rules.
  if (frame == channel_framing::Frame::kWhole && handle == channel_framing::kNoHandle) return Frame::kWhole;
  return frame == channel_framing::Frame::kPartial ? Frame::kPartial : Frame::kBroken;
}

HelperProcess::System::Read HelperProcess::System::ReadMore(State& s, std::chrono::steady_clock::time_point deadline) {
  DWORD got = 0;
  if (!s.reading) {
    ::ResetEvent(s.read.hEvent);
    if (!::ReadFile(s.pipe, s.buffer, sizeof s.buffer, nullptr, &s.read) && ::GetLastError() != ERROR_IO_PENDING)
      return Read::kEnded;
    s.reading = true;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  const DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
  if (::WaitForSingleObject(s.read.hEvent, wait) != WAIT_OBJECT_0) return Read::kTimedOut;
  s.reading = false;
  if (!::GetOverlappedResult(s.pipe, &s.read, &got, FALSE) || got == 0) return Read::kEnded;
  s.inbox.append(s.buffer, got);
  return Read::kBytes;
}

double HelperProcess::CpuSeconds() const {
  if (!Running()) return -1;
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(state_->process, &created, &exited, &kernel, &user)) return -1;
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;  // 100-ns units
}

namespace {

// True when the process has ended within `ms`; `cause` then tells how.
bool EndedWithin(HANDLE process, DWORD ms, std::string& cause) {
  if (::WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  cause = DescribeEnd(code);
  return true;
}

}  // namespace

bool HelperProcess::System::Ended(State& s, std::string& cause) { return EndedWithin(s.process, 0, cause); }

bool HelperProcess::System::EndsAfterClose(State& s, std::string& cause) {
  return EndedWithin(s.process, 1000, cause);
}

bool HelperProcess::System::CloseChannelAndWait(State& s) {
  s.CancelRead();
  ::CloseHandle(s.pipe);
  s.pipe = INVALID_HANDLE_VALUE;
  return ::WaitForSingleObject(s.process, 200) == WAIT_OBJECT_0;
}

void HelperProcess::System::Terminate(State& s) {
  if (!::TerminateJobObject(s.job, 1)) ::TerminateProcess(s.process, 1);
  ::WaitForSingleObject(s.process, INFINITE);
}

}  // namespace ordana
