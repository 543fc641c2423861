#include "support/PeakMemory.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ordana::test {

namespace {
int64_t PeakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;  // KiB on Linux
}
}  // namespace

std::optional<int64_t> PeakGrowthKiB(const std::function<void()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return std::nullopt;
  }
  if (pid == 0) {
    close(fds[0]);
    const int64_t before = PeakKiB();
    work();
    const int64_t growth = PeakKiB() - before;
    const ssize_t n = write(fds[1], &growth, sizeof growth);
    _exit(n == static_cast<ssize_t>(sizeof growth) ? 0 : 1);
  }
  close(fds[1]);
  int64_t growth = -1;
  const ssize_t n = read(fds[0], &growth, sizeof growth);
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      n != static_cast<ssize_t>(sizeof growth))
    return std::nullopt;
  return growth;
}

bool PeakMemoryMeasured() { return true; }

}  // namespace ordana::test
