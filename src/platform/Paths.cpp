#include "platform/Paths.h"

namespace ordana {

bool IsPathDelimiter(char16_t c) { return c == u'\\' || c == u'/' || c == u':'; }

namespace {
// Index just past the last delimiter (0 when there is none).
size_t NameStart(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsPathDelimiter(path[i - 1])) return i;
  return 0;
}
}  // namespace

std::u16string ExtractFileName(std::u16string_view path) {
  return std::u16string(path.substr(NameStart(path)));
}

std::u16string ExtractFileDir(std::u16string_view path) {
  return std::u16string(path.substr(0, NameStart(path)));
}

std::u16string ExtractFileExt(std::u16string_view path) {
  std::u16string_view name = path.substr(NameStart(path));
  size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return {};
  return std::u16string(name.substr(dot));
}

std::u16string IncludeTrailingDelimiter(std::u16string_view path) {
  std::u16string r(path);
  if (!r.empty() && !IsPathDelimiter(r.back())) r += u'/';
  return r;
}

}  // namespace ordana
