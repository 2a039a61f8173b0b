// The application: a single-instance chain of modal dialogs, intro first.
#pragma once

#include "framework/application.h"

class CMainApp : public CApplication {
 public:
  BOOL InitInstance() override;
};
