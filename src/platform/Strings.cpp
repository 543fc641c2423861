#include "platform/Strings.h"

#include <limits>

namespace ordana {
namespace {

template <class CharT>
std::basic_string<CharT> TrimImpl(std::basic_string_view<CharT> s, bool left, bool right) {
  size_t b = 0, e = s.size();
  if (left)
    while (b < e && static_cast<std::make_unsigned_t<CharT>>(s[b]) <= 0x20) ++b;
  if (right)
    while (e > b && static_cast<std::make_unsigned_t<CharT>>(s[e - 1]) <= 0x20) --e;
  return std::basic_string<CharT>(s.substr(b, e - b));
}

template <class CharT>
std::optional<int32_t> ParseInt(std::basic_string_view<CharT> s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    neg = s[i] == '-';
    ++i;
  }
  if (i >= s.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    v = v * 10 + (s[i] - '0');
    if (v > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
  }
  if (neg) v = -v;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(v);
}

}  // namespace

std::u16string Trim(std::u16string_view s) { return TrimImpl(s, true, true); }
std::u16string TrimLeft(std::u16string_view s) { return TrimImpl(s, true, false); }
std::u16string TrimRight(std::u16string_view s) { return TrimImpl(s, false, true); }
std::string TrimBytes(std::string_view s) { return TrimImpl(s, true, true); }
std::string TrimRightBytes(std::string_view s) { return TrimImpl(s, false, true); }

std::u16string UpperAscii(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return r;
}

std::string UpperAscii(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

std::optional<int32_t> TryStrToInt(std::u16string_view s) { return ParseInt(s); }
std::optional<int32_t> TryStrToInt(std::string_view s) { return ParseInt(s); }

std::u16string IntToStr(int64_t v) {
  std::string a = std::to_string(v);
  return std::u16string(a.begin(), a.end());
}

}  // namespace ordana
