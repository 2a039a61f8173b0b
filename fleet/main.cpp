// scourix-fleet [--csv] [--html FILE] DIR
//
// Summarises the records that scourix-cli /record:DIR wrote, one per
// machine: a line per machine, the machines needing attention first, and
// the totals. Exit status: 0 no machine needs attention, 1 some do (exit 2
// or 3, or a record that cannot be read), 2 a usage error or a folder that
// cannot be read.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "fleet/summary.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kLargestRecord = 16 * 1024 * 1024;

int Usage(const char* problem) {
  std::fprintf(stderr, "scourix-fleet: %s\nusage: scourix-fleet [--csv] [--html FILE] DIR\n", problem);
  return 2;
}

// The record files of folder: *.json, regular files only (a link is not
// followed), in no particular order.
bool ReadRecords(const fs::path& folder, std::vector<FleetEntry>& entries, std::string& problem) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) {
    problem = folder.string() + ": " + error.message();
    return false;
  }
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) {
      problem = folder.string() + ": " + error.message();
      return false;
    }
    const fs::path path = it->path();
    if (path.extension() != ".json") continue;
    const std::string name = path.filename().string();
    const fs::file_status status = it->symlink_status(error);
    std::uintmax_t size = 0;
    if (error || !fs::is_regular_file(status) || (size = fs::file_size(path, error), error) || size > kLargestRecord) {
      FleetEntry entry;
      entry.file = name;
      entry.problem = "not a regular file of at most 16 MiB";
      entries.push_back(entry);
      continue;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    entries.push_back(ReadEntry(name, text.str()));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool csv = false;
  std::string html, folder;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--csv") {
      csv = true;
    } else if (arg == "--html") {
      if (++i == argc) return Usage("--html needs a file name");
      html = argv[i];
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option");
    } else if (folder.empty()) {
      folder = arg;
    } else {
      return Usage("one folder, please");
    }
  }
  if (folder.empty()) return Usage("no folder given");

  std::vector<FleetEntry> entries;
  std::string problem;
  if (!ReadRecords(folder, entries, problem)) {
    std::fprintf(stderr, "scourix-fleet: %s\n", problem.c_str());
    return 2;
  }
  SortEntries(entries);
  const std::string summary = csv ? SummaryCsv(entries) : SummaryText(entries);
  std::fwrite(summary.data(), 1, summary.size(), stdout);
  if (!html.empty()) {
    std::ofstream page(html, std::ios::binary | std::ios::trunc);
    page << SummaryHtml(entries);
    if (!page.flush()) {
      std::fprintf(stderr, "scourix-fleet: cannot write %s\n", html.c_str());
      return 2;
    }
  }
  return AnyNeedsAttention(entries) ? 1 : 0;
}
