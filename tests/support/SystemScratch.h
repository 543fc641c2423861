#pragma once
// Scratch files for a program's standard error, shared by each system's way
// of starting programs (System_posix.cpp, System_win32.cpp).
#include <filesystem>
#include <string>

namespace ordana::test {

// A name for a file that takes a program's standard error, unique to this call.
std::filesystem::path ScratchFile();
// The file's bytes; the file is removed.
std::string ReadAndRemove(const std::filesystem::path& p);

}  // namespace ordana::test
