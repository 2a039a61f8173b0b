#include "engine/scan_outcome.h"

#include <algorithm>

ScanOutcome scanOutcome;

int ScanOutcome::Count(FileFate fate) const {
  return static_cast<int>(
      std::count_if(files.begin(), files.end(), [fate](const FileOutcome& file) { return file.fate == fate; }));
}

void ScanOutcome::MarkQueued(const std::string& path) {
  for (auto file = files.rbegin(); file != files.rend(); ++file) {
    if (file->path == path && file->fate == FileFate::DeleteFailed) {
      file->fate = FileFate::Queued;
      return;
    }
  }
}
