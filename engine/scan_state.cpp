#include "engine/scan_state.h"

#include <cstdarg>

#include "engine/result_log.h"
#include "engine/text.h"

ScanState scanState;

void ShowCurrentObject() {
  if (scanState.progressWindow != nullptr) NotifyProgressWindow(ShowObjectMessage);
}

void AppendResultLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(scanState.lineBuffer, sizeof scanState.lineBuffer, format, args);
  va_end(args);
  resultLog.Add(scanState.lineBuffer);
  if (scanState.progressWindow != nullptr) NotifyProgressWindow(AppendLineMessage);
}
