#include "platform/Opener.h"

#include <cstdlib>
#include <string>

#include "platform/FileIO.h"

namespace ordana {

bool OpenWithDesktop(std::u16string_view path) {
  std::string cmd = "xdg-open '";
  for (char c : NativePath(path)) cmd += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  cmd += "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace ordana
