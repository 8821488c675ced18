// The dialog program's entry on Windows: the string pair table first, then the main dialog, run until it
// closes. Linked as a window program (-mwindows): no console opens beside the dialog.
#include <objbase.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "app/drop_run.h"
#include "app/string_pairs.h"
#include "app/update_check_run.h"
#include "gui/win32/OceloDg.h"
#include "platform/fs.h"

int main() {
  ocelo::sys::IgnoreFileSizeSignal();  // a file-size limit is a failed save, not the end of the program
  // The shell (the folder window opened after the first drop) wants a single-threaded apartment.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  // The table holds its rows before the dialog is built, so its texts are Japanese from the first paint.
  ocelo::AddProgramStringPairs();
  int status = 0;
  {
    ocelo::OceloDg dialog;
    if (dialog.Create()) {
      dialog.Run();  // every way of closing ends the program the same way
    } else {
      status = 1;
    }
  }
  ocelo::FinishDropRuns();
  if (ocelo::UpdateCheckRun::AnyRunning()) {
    // The update check still waits for the network on its own thread; the process ends without tearing
    // down the objects that thread may use. Everything the exit does for the user is done above.
    std::fflush(nullptr);
    std::_Exit(status);
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return status;
}
