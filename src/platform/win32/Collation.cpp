// Collation on Windows: CompareStringEx and LCMapStringEx sort keys of the
// user's locale (or the one chosen), ignoring letter case only.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <string>

#include "platform/Collation.h"

namespace ordana {

namespace {

constexpr DWORD kFlags = NORM_IGNORECASE;

struct LocaleHolder {
  std::mutex lock;
  bool userDefault = true;
  std::wstring name;  // "ru-RU"; empty with userDefault false: the invariant locale
};

LocaleHolder& Holder() {
  static LocaleHolder h;
  return h;
}

const wchar_t* LocaleName(const LocaleHolder& h) {
  return h.userDefault ? LOCALE_NAME_USER_DEFAULT : h.name.c_str();
}

// The Win32 calls count in int; a text longer than that (never a title) is
// compared by its first INT_MAX / 2 units.
int Length(std::u16string_view s) { return static_cast<int>(std::min<size_t>(s.size(), INT_MAX / 2)); }

const wchar_t* Wide(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }

std::string KeyOf(const wchar_t* locale, std::u16string_view text) {
  if (text.empty()) return {};
  const int need = LCMapStringEx(locale, LCMAP_SORTKEY | kFlags, Wide(text), Length(text), nullptr, 0,
                                 nullptr, nullptr, 0);
  if (need <= 0) {
    // No key from the system: the code units, big-endian, keep an order.
    std::string key;
    for (char16_t c : text) key += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    return key;
  }
  std::string key(static_cast<size_t>(need), '\0');
  const int got = LCMapStringEx(locale, LCMAP_SORTKEY | kFlags, Wide(text), Length(text),
                                reinterpret_cast<wchar_t*>(key.data()), need, nullptr, nullptr, 0);
  // The key ends with a zero byte; keys compare without it.
  key.resize(got > 0 ? static_cast<size_t>(got) : 0);
  if (!key.empty() && key.back() == '\0') key.pop_back();
  return key;
}

}  // namespace

void SetCollationLocale(const std::string& name) {
  LocaleHolder& h = Holder();
  std::lock_guard<std::mutex> g(h.lock);
  h.name.clear();
  h.userDefault = name.empty();
  if (name == "C" || name == "POSIX" || name == "root") return;  // the invariant order
  // "ru_RU", "de_DE.UTF-8", "sr_RS@latin" -> "ru-RU", "de-DE", "sr-RS".
  for (char c : name) {
    if (c == '.' || c == '@') break;
    h.name.push_back(c == '_' ? L'-' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  if (!h.userDefault && !IsValidLocaleName(h.name.c_str())) h.userDefault = true;
}

std::string CollationSortKey(std::u16string_view text) {
  LocaleHolder& h = Holder();
  std::lock_guard<std::mutex> g(h.lock);
  return KeyOf(LocaleName(h), text);
}

int CompareTextLocale(std::u16string_view a, std::u16string_view b) {
  LocaleHolder& h = Holder();
  std::lock_guard<std::mutex> g(h.lock);
  const int r = CompareStringEx(LocaleName(h), kFlags, Wide(a), Length(a), Wide(b), Length(b), nullptr,
                                nullptr, 0);
  if (r == CSTR_LESS_THAN) return -1;
  if (r == CSTR_GREATER_THAN) return 1;
  if (r == CSTR_EQUAL) return 0;
  return a < b ? -1 : a == b ? 0 : 1;  // the system could not compare them
}

}  // namespace ordana
