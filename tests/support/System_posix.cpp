#include "support/System.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "support/SystemScratch.h"

// Starting a program with its arguments kept intact: each one quoted for the
// shell that popen runs.
namespace ordana::test {

namespace fs = std::filesystem;

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

}  // namespace ordana::test
