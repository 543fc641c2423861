#include "support/System.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/TextCodec.h"

// Starting a program is the one thing the standard library cannot do with
// arguments kept intact (Cyrillic text, spaces, quotes), so it is written here
// once for each system.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace ordana::test {

namespace fs = std::filesystem;

fs::path Utf8Path(std::string_view utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathText(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::string BuiltProgram(std::string_view relativePath) {
  fs::path p = Utf8Path(ORDANA_BINARY_DIR) / Utf8Path(relativePath);
  if (kHostIsWindows) {
    p += ".exe";
    p = fs::absolute(p).make_preferred();  // a drive letter, backslashes
  }
  return PathText(p);
}

namespace {

// A name for a file that takes a program's standard error, unique to this call.
fs::path ScratchFile() {
  static std::atomic<unsigned> counter{0};
  static const unsigned long long seed =
      std::random_device{}() ^ static_cast<unsigned long long>(
                                   std::chrono::steady_clock::now().time_since_epoch().count());
  return fs::temp_directory_path() /
         ("ordana-run-" + std::to_string(seed % 1000000007) + "-" + std::to_string(counter++) + ".txt");
}

std::string ReadAndRemove(const fs::path& p) {
  std::string text;
  {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    text = s.str();
  }
  std::error_code ec;
  fs::remove(p, ec);
  return text;
}

#ifdef _WIN32

// One argument as the C runtime's command-line parser reads it back.
std::u16string QuoteArgument(std::u16string_view arg) {
  if (!arg.empty() && arg.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) return std::u16string(arg);
  std::u16string out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, u'\\');
  return out + u"\"";
}

std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() { Close(); }
  void Close() {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
};

#endif

}  // namespace

#ifdef _WIN32

int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out,
               std::string* err) {
  std::u16string commandLine = QuoteArgument(Utf8ToUtf16(program));
  for (const std::string& a : args) commandLine += u" " + QuoteArgument(Utf8ToUtf16(a));
  std::wstring line = Wide(commandLine);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle readEnd, writeEnd, input, errFile;
  if (!CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0)) return -1;
  SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);
  input.h = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  const fs::path errPath = err ? ScratchFile() : fs::path();
  if (err) {
    errFile.h = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (errFile.h == INVALID_HANDLE_VALUE) return -1;
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input.h;
  si.hStdOutput = writeEnd.h;
  si.hStdError = err ? errFile.h : writeEnd.h;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -1;
  Handle process, thread;
  process.h = pi.hProcess;
  thread.h = pi.hThread;
  writeEnd.Close();  // the pipe ends when the program (and what it started) closes it
  errFile.Close();
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(readEnd.h, buf, sizeof buf, &n, nullptr) && n > 0)
    if (out) out->append(buf, n);
  WaitForSingleObject(process.h, INFINITE);
  DWORD status = 0;
  if (!GetExitCodeProcess(process.h, &status)) return -1;
  if (err) *err += ReadAndRemove(errPath);
  return static_cast<int>(status);
}

int Run(const std::string& command, std::string* output) {
  // cmd /c drops the outermost pair of quotes; the extra pair keeps the
  // command's own quotes.
  const std::wstring line =
      Wide(u"\"" + Utf8ToUtf16(command) + (output ? u" 2>&1" : u" >NUL 2>&1") + u"\"");
  FILE* p = _wpopen(line.c_str(), L"rb");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (output) output->append(buf, n);
  return _pclose(p);
}

std::string ShellQuote(std::string_view s) { return Utf16ToUtf8(QuoteArgument(Utf8ToUtf16(s))); }

bool MakeFifo(const std::string&) { return false; }
bool FifoHasNoReader(const std::string&) { return false; }
std::optional<int64_t> AllocatedBytes(const std::string&) { return std::nullopt; }
bool RunningAsRoot() { return false; }
bool ChangeOwner(const std::string&, unsigned, unsigned) { return false; }
std::optional<std::pair<unsigned, unsigned>> OwnerOf(const std::string&) { return std::nullopt; }
int RunAsUser(unsigned, unsigned, const std::function<int()>&) { return -1; }

#else

int Run(const std::string& command, std::string* output) {
  std::string cmd = command + (output ? " 2>&1" : " >/dev/null 2>&1");
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (output) output->append(buf, n);
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(std::string_view s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out,
               std::string* err) {
  std::string command = ShellQuote(program);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  command += " </dev/null";
  if (!err) return Run(command, out);
  const fs::path errPath = ScratchFile();
  std::string discard;
  const int status = Run("( " + command + " 2>" + ShellQuote(errPath.native()) + " )", out ? out : &discard);
  *err += ReadAndRemove(errPath);
  return status;
}

bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

bool FifoHasNoReader(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == ENXIO;
}

std::optional<int64_t> AllocatedBytes(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<int64_t>(st.st_blocks) * 512;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

bool ChangeOwner(const std::string& path, unsigned uid, unsigned gid) {
  return ::chown(path.c_str(), uid, gid) == 0;
}

std::optional<std::pair<unsigned, unsigned>> OwnerOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::pair<unsigned, unsigned>{st.st_uid, st.st_gid};
}

int RunAsUser(unsigned uid, unsigned gid, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(3);
    ::_exit(body());
  }
  int status = -1;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace ordana::test
