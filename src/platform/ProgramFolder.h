#pragma once
#include <string>

namespace ordana {

// The folder of the running program file, with a trailing '/'.
std::u16string ProgramFolder();

}  // namespace ordana
