#include <windows.h>

#include <string>

#include "platform/ProgramFolder.h"

namespace ordana {

// The folder of the running .exe with its trailing separator as Windows
// writes it ('\'); ".\" when the system cannot tell.
std::u16string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return u".\\";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768 * 2) return u".\\";  // longer than any Windows path
    path.resize(path.size() * 2);  // cut short: try a larger buffer
  }
  const size_t sep = path.find_last_of(L"\\/");
  if (sep == std::wstring::npos) return u".\\";
  return std::u16string(reinterpret_cast<const char16_t*>(path.data()), sep + 1);
}

}  // namespace ordana
