#pragma once
// Opening a file with the program the desktop associates with its kind (the
// written report in the web browser): xdg-open on POSIX, the shell's "open"
// verb (ShellExecuteW) on Windows. Returns without waiting for that program.
#include <string_view>

namespace ordana {

// False when no program could be started for it.
bool OpenWithDesktop(std::u16string_view path);

}  // namespace ordana
