// The native stand-in for the progress window: a receiver that records each
// message and the text it carries.
#include "tests/support/progress_recorder.h"

#include "engine/scan_state.h"

namespace {

std::vector<ProgressMessage>& Messages() {
  static std::vector<ProgressMessage> messages;
  return messages;
}

class Recorder final : public ProgressReceiver {
 public:
  void ShowObject(const char* text) override { Messages().push_back({ShowObjectMessage, text}); }
  void AppendLine(const char* line) override { Messages().push_back({AppendLineMessage, line}); }
};

}  // namespace

const std::vector<ProgressMessage>& ProgressMessages() { return Messages(); }
void ClearProgressMessages() { Messages().clear(); }

void RecordProgress() {
  static Recorder recorder;
  AttachProgressReceiver(&recorder);
}
