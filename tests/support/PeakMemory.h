#pragma once
// How much memory a piece of work takes at its peak: the work runs in a
// child process (fork), which reports the growth of its peak resident set
// (getrusage) over what it had when it started. Sanitizer builds reserve
// memory of their own, so tests of this kind are skipped there.
#include <cstdint>
#include <functional>
#include <optional>

namespace ordana::test {

// The growth of the peak resident set while work() ran, in KiB; nullopt when
// the child could not be started or did not finish normally.
std::optional<int64_t> PeakGrowthKiB(const std::function<void()>& work);

// True in a build with AddressSanitizer or another sanitizer.
bool UnderSanitizers();

// False where PeakGrowthKiB cannot measure (Windows: no fork).
bool PeakMemoryMeasured();

}  // namespace ordana::test

#define ORDANA_SKIP_UNLESS_PEAK_MEMORY_MEASURED()                                              \
  do {                                                                              \
    if (::ordana::test::UnderSanitizers())                                          \
      GTEST_SKIP() << "peak memory is not measured under sanitizers";              \
    if (!::ordana::test::PeakMemoryMeasured())                                      \
      GTEST_SKIP() << "peak memory is measured in a forked child, POSIX only";     \
  } while (0)
