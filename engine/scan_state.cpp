#include "engine/scan_state.h"

#include <cstdarg>
#include <string>

#include "engine/result_log.h"
#include "engine/text.h"

ScanState scanState;

void ShowCurrentObject() {
  if (scanState.progressWindow != nullptr) NotifyProgressWindow(ShowObjectMessage);
}

namespace {
std::string fullResultLine;
}  // namespace

const char* FullResultLine() { return fullResultLine.c_str(); }

void AppendResultLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fullResultLine = EscapeControlBytes(FormatTextV(format, args));
  va_end(args);
  CopyText(scanState.lineBuffer, sizeof scanState.lineBuffer, fullResultLine.c_str());
  resultLog.Add(fullResultLine.c_str());
  if (scanState.progressWindow != nullptr) NotifyProgressWindow(AppendLineMessage);
}
