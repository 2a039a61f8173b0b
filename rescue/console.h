// The rescue program's output: result lines on standard output and, when
// that is a terminal, one progress line under them that is redrawn in place
// and cleared at the end.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class Console {
 public:
  // terminal: draw the progress line; width: the terminal's columns.
  Console(std::FILE* out, bool terminal, int width);

  // One result line; the progress line moves below it.
  void Line(const char* text);
  // Files scanned so far and the folder being walked; drawn at most every
  // 100 ms, cut to the terminal's width.
  void Progress(int filesScanned, const std::string& folder);
  // Removes the progress line.
  void ClearProgress();

 private:
  using Clock = std::chrono::steady_clock;
  void Draw();

  std::FILE* out_;
  bool terminal_;
  int width_;
  Clock::time_point started_;
  Clock::time_point drawnAt_{};
  bool shown_ = false;
  int files_ = 0;
  std::string folder_;
};
