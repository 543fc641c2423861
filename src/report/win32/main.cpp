// ordana-report-gui.exe: the report window as the program's main window.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "report/ui/StartUp.h"
#include "report/win32/ReportDialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // The component services of this thread, as a single-threaded apartment
  // (the folder selection dialog needs them).
  const HRESULT com = CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES};
  InitCommonControlsEx(&controls);
  int exitCode = 0;
  {
    ordana::TStartUp startUp;
    exitCode = ordana::RunReportDialog(instance, ordana::DefaultDialogServices(), showCommand);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}
