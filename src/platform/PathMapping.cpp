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
// Each mapping's Windows prefix lower-cased, computed once per setting.
std::vector<std::u16string>& LoweredPrefixes() {
  static std::vector<std::u16string> p;
  return p;
}
}  // namespace

PathMapping ParsePathMapping(std::u16string_view text) {
  size_t eq = text.find(u'=');
  if (eq == std::u16string_view::npos || eq == 0)
    throw std::invalid_argument("a path mapping is written FROM=TO, for example 'N:\\Music\\=/srv/music/'");
  return PathMapping{std::u16string(text.substr(0, eq)), std::u16string(text.substr(eq + 1))};
}

void SetPathMappings(std::vector<PathMapping> mappings) {
  std::vector<std::u16string> lowered;
  lowered.reserve(mappings.size());
  for (const PathMapping& m : mappings) lowered.push_back(LowerCase(m.windowsPrefix));
  Mappings() = std::move(mappings);
  LoweredPrefixes() = std::move(lowered);
}
const std::vector<PathMapping>& PathMappings() { return Mappings(); }

std::u16string MapPath(std::u16string_view path) {
  const std::vector<PathMapping>& mappings = Mappings();
  for (size_t i = 0; i < mappings.size(); ++i) {
    const PathMapping& m = mappings[i];
    if (m.windowsPrefix.size() > path.size()) continue;
    if (LowerCase(path.substr(0, m.windowsPrefix.size())) != LoweredPrefixes()[i]) continue;
    std::u16string out;
    out.reserve(m.localPrefix.size() + path.size() - m.windowsPrefix.size());
    out += m.localPrefix;
    out += path.substr(m.windowsPrefix.size());
    for (auto& c : out)
      if (c == u'\\') c = u'/';
    return out;
  }
  return std::u16string(path);
}

}  // namespace ordana
