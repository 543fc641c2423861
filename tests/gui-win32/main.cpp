// The native window's tests: one thread with the component services and the
// common controls, as the window program has them.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

int main(int argc, char** argv) {
  const HRESULT com = CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES};
  InitCommonControlsEx(&controls);
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}
