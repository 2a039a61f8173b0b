// The native stand-in for the progress window: NotifyProgressWindow records
// the message and the text it carries.
#include "tests/support/progress_recorder.h"

#include "engine/scan_state.h"

namespace {
std::vector<ProgressMessage>& Messages() {
  static std::vector<ProgressMessage> messages;
  return messages;
}
}  // namespace

const std::vector<ProgressMessage>& ProgressMessages() { return Messages(); }
void ClearProgressMessages() { Messages().clear(); }

void NotifyProgressWindow(unsigned message) {
  const char* text = message == AppendLineMessage ? scanState.lineBuffer : scanState.currentObject;
  Messages().push_back({message, text});
}
