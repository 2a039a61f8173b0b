// The engine's text channel on Windows: a synchronous message to the progress
// window, so that the text is consumed before the sender goes on.
#include <windows.h>

#include "engine/scan_state.h"

void NotifyProgressWindow(unsigned message) {
  SendMessageA(scanState.progressWindow, message, 0, 0);
}
