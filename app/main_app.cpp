#include "app/main_app.h"

#include "app/intro_dlg.h"
#include "engine/scan_state.h"

CMainApp theApp;

BOOL CMainApp::InitInstance() {
  // Nothing to set up for hosted controls or three-dimensional dialog
  // controls: the dialogs hold only standard controls, which Windows draws
  // in its own style.

  // A window of any program titled like ours, at any stage, stops a second copy.
  if (::FindWindowA(nullptr, scanState.caption) != nullptr) return FALSE;

  CIntroDlg intro;
  SetMainWindow(&intro);
  intro.DoModal();  // OK and Cancel both end the program once it closes
  SetMainWindow(nullptr);
  return FALSE;
}
