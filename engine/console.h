// A console standing in for the progress window, for the programs that run
// without one: result lines on standard output and, when that is a
// terminal, one progress line under them that is redrawn in place and
// cleared at the end. Portable.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/scan_state.h"

// What the output shows text in: a UTF-8 terminal (Linux), where C1 controls
// and bytes that are not UTF-8 are escaped too, or a Windows console, whose
// code page gives every byte a character.
enum class ConsoleText { Utf8, CodePage };

class Console final : public ProgressReceiver {
 public:
  // terminal: draw the progress line; width: the terminal's columns.
  Console(std::FILE* out, bool terminal, int width, ConsoleText text);

  // One result line; the progress line moves below it.
  void Line(const char* text);
  // Files scanned so far and the folder being walked; drawn at most every
  // 100 ms, cut to the terminal's width.
  void Progress(int filesScanned, const std::string& folder);
  // Removes the progress line.
  void ClearProgress();

  // The progress window's two messages. A result line is printed; the
  // status line (the file being examined, at the end the final status) is
  // kept, and Finish prints its last text.
  void ShowObject(const char* text) override { status_ = text; }
  void AppendLine(const char* line) override { Line(line); }
  // Clears the progress line and prints the last status ("Scanning
  // completed" or "Scanning terminated" once the report is done).
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  void Draw();

  std::string Shown(const std::string& text) const;

  std::FILE* out_;
  bool terminal_;
  ConsoleText text_;
  int width_;
  Clock::time_point started_;
  Clock::time_point drawnAt_{};
  bool shown_ = false;
  int files_ = 0;
  std::string folder_;
  std::string status_;
};

// Keeps every result line (for a record of the run) and passes both
// messages on.
class LineKeeper final : public ProgressReceiver {
 public:
  explicit LineKeeper(ProgressReceiver& next) : next_(next) {}
  void ShowObject(const char* text) override { next_.ShowObject(text); }
  void AppendLine(const char* line) override {
    lines.push_back(line);
    next_.AppendLine(line);
  }
  std::vector<std::string> lines;

 private:
  ProgressReceiver& next_;
};
