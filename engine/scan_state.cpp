#include "engine/scan_state.h"

#include <cstdarg>
#include <string>

#include "engine/result_log.h"
#include "engine/text.h"

ScanState scanState;

namespace {

ProgressReceiver* attachedReceiver = nullptr;
// The address stands for the attached receiver in progressWindow.
char receiverHandle;

WindowHandle ReceiverHandle() { return reinterpret_cast<WindowHandle>(&receiverHandle); }

void Deliver(unsigned message) {
  if (scanState.progressWindow == nullptr) return;
  if (attachedReceiver != nullptr && scanState.progressWindow == ReceiverHandle()) {
    if (message == AppendLineMessage) {
      attachedReceiver->AppendLine(FullResultLine());
    } else {
      attachedReceiver->ShowObject(scanState.currentObject);
    }
    return;
  }
  NotifyProgressWindow(message);
}

}  // namespace

void AttachProgressReceiver(ProgressReceiver* receiver) {
  attachedReceiver = receiver;
  scanState.progressWindow = receiver != nullptr ? ReceiverHandle() : nullptr;
}

void ShowCurrentObject() { Deliver(ShowObjectMessage); }

namespace {
std::string fullResultLine;
}  // namespace

const char* FullResultLine() { return fullResultLine.c_str(); }

void AppendResultLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fullResultLine = FormatTextV(format, args);
  va_end(args);
  CopyText(scanState.lineBuffer, sizeof scanState.lineBuffer, fullResultLine.c_str());
  resultLog.Add(fullResultLine.c_str());
  Deliver(AppendLineMessage);
}
