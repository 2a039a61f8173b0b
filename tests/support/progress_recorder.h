// Records what the engine sends to the progress window, as the window would
// see it: the status text for ShowObjectMessage, the line for AppendLineMessage.
#pragma once

#include <string>
#include <vector>

struct ProgressMessage {
  unsigned message;
  std::string text;
};

// Natively: attaches the recorder as the progress window's stand-in
// (scanState.progressWindow is set). On Windows the tests use a real window.
void RecordProgress();

// Messages received since the last call of ClearProgressMessages().
const std::vector<ProgressMessage>& ProgressMessages();
void ClearProgressMessages();
