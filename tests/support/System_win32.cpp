#include "support/System.h"

#include <windows.h>

#include <cstdio>

#include "platform/TextCodec.h"
#include "support/SystemScratch.h"

// Starting a program with its arguments kept intact (Cyrillic text, spaces,
// quotes): CreateProcessW with a command line the C runtime splits back.
namespace ordana::test {

namespace fs = std::filesystem;

namespace {

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

}  // namespace


int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out,
               std::string* err) {
  std::u16string commandLine = QuoteArgument(Utf8ToUtf16(Utf8View(program)));
  for (const std::string& a : args) commandLine += u" " + QuoteArgument(Utf8ToUtf16(Utf8View(a)));
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
      Wide(u"\"" + Utf8ToUtf16(Utf8View(command)) + (output ? u" 2>&1" : u" >NUL 2>&1") + u"\"");
  FILE* p = _wpopen(line.c_str(), L"rb");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (output) output->append(buf, n);
  return _pclose(p);
}

std::string ShellQuote(std::string_view s) { return Utf16ToUtf8(QuoteArgument(Utf8ToUtf16(Utf8View(s)))).bytes(); }

bool MakeFifo(const std::string&) { return false; }
bool FifoHasNoReader(const std::string&) { return false; }
std::optional<int64_t> AllocatedBytes(const std::string&) { return std::nullopt; }
bool RunningAsRoot() { return false; }
bool ChangeOwner(const std::string&, unsigned, unsigned) { return false; }
std::optional<std::pair<unsigned, unsigned>> OwnerOf(const std::string&) { return std::nullopt; }
int RunAsUser(unsigned, unsigned, const std::function<int()>&) { return -1; }

}  // namespace ordana::test
