#include "platform/ProgramFolder.h"

#include <unistd.h>

#include <climits>
#include <string>

#include "platform/FileNames.h"

namespace ordana {

std::u16string ProgramFolder() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./");
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
  return NameFromSystemBytes(folder);
}

}  // namespace ordana
