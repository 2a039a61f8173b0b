// The fixture of the Windows tests that walk folder trees: a fresh scan
// state with the memory scan over, and a hidden window standing in for the
// progress dialog, whose traffic the tests read back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/scan_state.h"
#include "tests/support/progress_window.h"

class WalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scanState = ScanState{};
    scanState.memoryScanActive = 0;
    scanState.progressWindow = window_.Handle();
    ClearProgressMessages();
  }
  void TearDown() override { scanState = ScanState{}; }

  // The texts of one of the two messages, in the order sent.
  static std::vector<std::string> Texts(unsigned message) {
    std::vector<std::string> texts;
    for (const ProgressMessage& m : ProgressMessages()) {
      if (m.message == message) texts.push_back(m.text);
    }
    return texts;
  }
  static std::vector<std::string> Shown() { return Texts(ShowObjectMessage); }
  static std::vector<std::string> Lines() { return Texts(AppendLineMessage); }

  ProgressWindowStandIn window_;
};
