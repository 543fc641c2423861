#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <string>

#include "platform/FileIO.h"
#include "platform/Opener.h"

namespace ordana {

bool OpenWithDesktop(std::u16string_view path) {
  // The shell may hand the file to a COM component; it wants COM set up.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::wstring file(reinterpret_cast<const wchar_t*>(path.data()), path.size());
  const HINSTANCE r = ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (SUCCEEDED(com)) CoUninitialize();
  return reinterpret_cast<INT_PTR>(r) > 32;
}

}  // namespace ordana
