#pragma once
// A program's command-line arguments as the code takes them: UTF-8 text,
// without the program's own name. On POSIX main's arguments are that
// already; on Windows wmain's UTF-16 arguments are converted (an unpaired
// surrogate, which no file name typed or passed by Explorer holds, becomes
// U+FFFD).
#include <string>
#include <vector>

namespace ordana {

std::vector<std::string> ArgumentsAsUtf8(int argc, const wchar_t* const* argv);

}  // namespace ordana
