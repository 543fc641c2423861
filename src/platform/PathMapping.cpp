#include <stdexcept>

#include "platform/FileIO.h"
#include "platform/Strings.h"

namespace ordana {

// --- Path mapping ----------------------------------------------------------

namespace {
std::vector<PathMapping>& Mappings() {
  static std::vector<PathMapping> m;
  return m;
}
}  // namespace

PathMapping ParsePathMapping(std::u16string_view text) {
  size_t eq = text.find(u'=');
  if (eq == std::u16string_view::npos || eq == 0)
    throw std::invalid_argument("a path mapping is written FROM=TO, for example 'N:\\Music\\=/srv/music/'");
  return PathMapping{std::u16string(text.substr(0, eq)), std::u16string(text.substr(eq + 1))};
}

void SetPathMappings(std::vector<PathMapping> mappings) { Mappings() = std::move(mappings); }
const std::vector<PathMapping>& PathMappings() { return Mappings(); }

std::u16string MapPath(std::u16string_view path) {
  for (const PathMapping& m : Mappings()) {
    if (m.windowsPrefix.size() > path.size()) continue;
    if (LowerCase(path.substr(0, m.windowsPrefix.size())) != LowerCase(m.windowsPrefix)) continue;
    std::u16string out = m.localPrefix + std::u16string(path.substr(m.windowsPrefix.size()));
    for (auto& c : out)
      if (c == u'\\') c = u'/';
    return out;
  }
  return std::u16string(path);
}

}  // namespace ordana
