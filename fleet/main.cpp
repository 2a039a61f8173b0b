// scourix-fleet [--csv] [--html FILE] [--expect FILE] DIR
//
// Summarises the records that scourix-cli /record:DIR (or scourix-rescue
// --record) wrote, one per machine: a line per machine, the machines
// needing attention first, and the totals. Exit status: 0 no machine needs
// attention, 1 some do (exit 2 or 3, a record that cannot be read, two
// records of one computer, an expected machine without a record), 2 a
// usage error, a folder that cannot be read or holds no record, or a
// summary that could not be written.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fleet/record_files.h"
#include "fleet/summary.h"
#include "record/exit_status.h"

namespace {

int Fail(const std::string& problem) {
  std::fprintf(stderr, "scourix-fleet: %s\n", problem.c_str());
  return kFleetCannotSummarise;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "scourix-fleet: %s\nusage: scourix-fleet [--csv] [--html FILE] [--expect FILE] DIR\n", problem);
  return kFleetCannotSummarise;
}

// All of text to file, then closed: false when any of it could not be
// written (a full disk says so only at the flush or the close).
bool WriteAll(std::FILE* file, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0 &&
         std::ferror(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool csv = false;
  std::string html, expect, folder;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--csv") {
      csv = true;
    } else if (arg == "--html" || arg == "--expect") {
      if (++i == argc) return Usage((arg + " needs a file name").c_str());
      (arg == "--html" ? html : expect) = argv[i];
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option");
    } else if (folder.empty()) {
      folder = arg;
    } else {
      return Usage("one folder, please");
    }
  }
  if (folder.empty()) return Usage("no folder given");

  std::vector<std::string> expected;
  if (!expect.empty()) {
    std::string text, problem;
    if (!ReadGivenFile(expect, text, problem)) return Fail("the list of expected machines " + problem);
    expected = ParseExpectedMachines(text);
  }

  // One record's bytes at a time: an entry keeps only what the summary shows.
  std::vector<FleetEntry> entries;
  std::string problem;
  const bool listed = ForEachRecordFile(
      folder,
      [&](const std::string& name, const std::string* text, const std::string& why) {
        entries.push_back(text != nullptr ? ReadEntry(name, *text) : UnreadableEntry(name, why));
      },
      problem);
  if (!listed) return Fail(problem);
  if (entries.empty()) return Fail("no records (*.json) in " + folder + ": is it the folder the machines write to?");
  MarkSameComputer(entries);
  if (!expect.empty()) MatchExpectedMachines(entries, expected);
  SortEntries(entries);

  const std::string summary = csv ? SummaryCsv(entries) : SummaryText(entries);
  if (!WriteAll(stdout, summary)) return Fail(std::string("cannot write the summary: ") + std::strerror(errno));
  if (!html.empty()) {
    std::FILE* page = std::fopen(html.c_str(), "wb");
    if (page == nullptr) return Fail("cannot write " + html + ": " + std::strerror(errno));
    const bool written =
        WriteSummaryHtml(entries, [&](const std::string& part) {
          return std::fwrite(part.data(), 1, part.size(), page) == part.size();
        }) && std::fflush(page) == 0 && std::ferror(page) == 0;
    const int error = errno;
    if (std::fclose(page) != 0 || !written) return Fail("cannot write " + html + ": " + std::strerror(written ? errno : error));
  }
  return AnyNeedsAttention(entries) ? kFleetSomeNeedAttention : kFleetNoneNeedsAttention;
}
