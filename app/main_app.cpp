#include "app/main_app.h"

#include "app/intro_dlg.h"
#include "engine/scan_state.h"

CMainApp theApp;

BOOL CMainApp::InitInstance() {
  // Control hosting and 3-D dialog controls need no set-up on this framework.

  // A window of any program titled like ours, at any stage, stops a second copy.
  if (::FindWindowA(nullptr, scanState.caption) != nullptr) return FALSE;

  CIntroDlg intro;
  SetMainWindow(&intro);
  intro.DoModal();  // OK and Cancel both end the program once it closes
  SetMainWindow(nullptr);
  return FALSE;
}
