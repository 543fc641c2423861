#pragma once
// What the tests ask of the operating system, asked the same way on each:
// paths from UTF-8 text and back, the programs this project builds, running a
// program with its arguments (no shell between), and whether the Debian
// tools that encode independent fixtures are at hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Host.h"

namespace ordana::test {

// A path from UTF-8 text, and a path as UTF-8 text (on Windows the narrow
// forms of std::filesystem::path use the ANSI code page instead).
std::filesystem::path Utf8Path(std::string_view utf8);
std::string PathText(const std::filesystem::path& p);

// A program this project builds, by its place in the build folder
// ("apps/ordana-tags"), with this system's suffix for programs.
std::string BuiltProgram(std::string_view relativePath);

// Runs `program` with `args` (UTF-8) and waits for it; returns its exit
// status, or -1 when it could not be started or did not exit normally. Its
// standard output is appended to *out (discarded when null); its standard
// error goes to *err when given, else to *out as well. Standard input is empty.
int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out = nullptr,
               std::string* err = nullptr);

// Runs a command line through the system's shell (sh -c, or cmd /c on
// Windows); returns its exit status. Output goes to *output when given, else
// is discarded. Quote words with ShellQuote.
int Run(const std::string& command, std::string* output = nullptr);
std::string ShellQuote(std::string_view s);

// What only POSIX systems have. On Windows each of these says it cannot
// (false, -1 or no value); the tests that use them skip there first.
// A FIFO at `path`.
bool MakeFifo(const std::string& path);
// True when opening the FIFO for writing without waiting is refused because
// nothing holds it open for reading (nobody left a reader behind).
bool FifoHasNoReader(const std::string& path);
// The bytes the file takes on the disk (to check that a file is sparse).
std::optional<int64_t> AllocatedBytes(const std::string& path);
// Whether this process runs as root (which no permission bit stops).
bool RunningAsRoot();
// chown, and the file's owner and group.
bool ChangeOwner(const std::string& path, unsigned uid, unsigned gid);
std::optional<std::pair<unsigned, unsigned>> OwnerOf(const std::string& path);
// Runs `body` in a child process under the given user and group; returns the
// child's exit status (body's result), 3 when it could not change user.
int RunAsUser(unsigned uid, unsigned gid, const std::function<int()>& body);

// Whether the Debian tools (sox, lame, flac, oggenc, ffmpeg, python3-mutagen,
// a POSIX shell) that encode and check independent fixtures can run here:
// only on the Linux side.
inline constexpr bool kHaveLinuxTools = !kHostIsWindows;

}  // namespace ordana::test

// Skips a test that needs a Debian tool when this system has none of them
// (Windows), saying which tool; the Linux build runs it.
#define ORDANA_SKIP_WITHOUT_LINUX_TOOLS(tool)                                                   \
  do {                                                                                          \
    if (!::ordana::test::kHaveLinuxTools)                                                       \
      GTEST_SKIP() << "needs " << (tool)                                                        \
                   << " on the Linux side (the fixture is made and checked by that tool)";      \
  } while (0)

// Skips a test (or the rest of one) that checks what only POSIX systems have.
#define ORDANA_SKIP_ON_WINDOWS(reason)                 \
  do {                                                 \
    if (::ordana::kHostIsWindows) GTEST_SKIP() << (reason); \
  } while (0)
