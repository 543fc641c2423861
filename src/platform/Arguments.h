#pragma once
// A program's command-line arguments as the code takes them: UTF-8 text,
// without the program's own name. On POSIX main's arguments are that
// already; on Windows wmain's UTF-16 arguments are converted (an unpaired
// surrogate, which no file name typed or passed by Explorer holds, becomes
// U+FFFD).
#include <string>
#include <vector>

#include "platform/Console.h"

namespace ordana {

std::vector<std::string> ArgumentsAsUtf8(int argc, const wchar_t* const* argv);

}  // namespace ordana

// The entry point of a command-line program: ORDANA_COMMAND_LINE_MAIN(Run)
// defines main (POSIX) or wmain (Windows), which sets up the console output
// and returns Run(the arguments as UTF-8).
#ifdef _WIN32
#define ORDANA_COMMAND_LINE_MAIN(run)                        \
  int wmain(int argc, wchar_t** argv) {                      \
    ::ordana::SetUpConsoleOutput();                          \
    return run(::ordana::ArgumentsAsUtf8(argc, argv));       \
  }
#else
#define ORDANA_COMMAND_LINE_MAIN(run)                        \
  int main(int argc, char** argv) {                          \
    ::ordana::SetUpConsoleOutput();                          \
    return run(std::vector<std::string>(argv + 1, argv + argc)); \
  }
#endif
