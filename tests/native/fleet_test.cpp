// The fleet summary over a folder of records, some of them not records.
#include "fleet/summary.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Record(const std::string& computer, int status, int infected, bool reportOnly = false) {
  ScanRecord r;
  r.reportOnly = reportOnly;
  r.computer = computer;
  r.exitStatus = status;
  r.filesInfected = infected;
  r.filesDeleted = status == 1 ? infected : 0;
  r.filesQueued = status == 3010 ? infected : 0;
  r.windows = "5.1.2600";
  r.lines = {"Scanning completed"};
  return RecordJson(r);
}

TEST(FleetSummary, AttentionFirstThenByStateWithTotals) {
  std::vector<FleetEntry> entries = {
      ReadEntry("a.json", Record("PC-A", 0, 0)),        ReadEntry("b.json", Record("PC-B", 1, 2)),
      ReadEntry("c.json", Record("PC-C", 3010, 1)),     ReadEntry("d.json", Record("PC-D", 2, 3)),
      ReadEntry("e.json", "{\"computer\":\"PC-E\""),  // cut short
      ReadEntry("f.json", Record("=cmd|' /C calc'!A0", 0, 0)),
      ReadEntry("g.json", Record("PC-G", 1, 2, true)),  // found, and left there
  };
  SortEntries(entries);
  std::vector<std::string> order;
  for (const FleetEntry& e : entries) order.push_back(e.readable ? e.record.computer : e.file);
  EXPECT_EQ((std::vector<std::string>{"PC-D", "PC-G", "e.json", "PC-C", "PC-B", "=cmd|' /C calc'!A0", "PC-A"}), order);
  EXPECT_TRUE(AnyNeedsAttention(entries));

  const std::string text = SummaryText(entries);
  EXPECT_NE(std::string::npos, text.find("PC-D     needs attention     exit 2, 0 scanned, 3 infected")) << text;
  EXPECT_NE(std::string::npos, text.find("e.json     needs attention     unreadable record: ")) << text;
  EXPECT_NE(std::string::npos, text.find("PC-C     cleaned, restart pending")) << text;
  EXPECT_NE(std::string::npos, text.find("PC-G     needs attention     exit 1 (report only), 0 scanned, 2 infected"))
      << text;
  EXPECT_NE(std::string::npos,
            text.find("7 machines: 2 clean, 1 cleaned, 1 cleaned but restart pending, 3 need attention\n"))
      << text;

  // Every CSV row has the header's columns; a name that a spreadsheet would
  // run as a formula is kept as text.
  std::istringstream csv(SummaryCsv(entries));
  std::vector<size_t> commas;
  for (std::string row; std::getline(csv, row);) {
    size_t count = 0;
    bool quoted = false;
    for (const char c : row) {
      if (c == '"') quoted = !quoted;
      count += !quoted && c == ',';
    }
    commas.push_back(count);
  }
  ASSERT_EQ(8u, commas.size());
  for (const size_t count : commas) EXPECT_EQ(commas[0], count);
  EXPECT_NE(std::string::npos, SummaryCsv(entries).find("\"'=cmd|' /C calc'!A0\""));

  const std::string html = SummaryHtml(entries);
  EXPECT_EQ(std::string::npos, html.find("<script>alert"));
  EXPECT_NE(std::string::npos, html.find("<tr class=\"attention\"><td>PC-D</td>")) << html;
}

TEST(FleetSummary, HostileNamesStayText) {
  const FleetEntry entry = ReadEntry("x.json", Record("<script>alert(1)</script>\x1b[2J", 2, 0));
  const std::string html = SummaryHtml({entry});
  EXPECT_EQ(std::string::npos, html.find("<script>alert"));
  EXPECT_NE(std::string::npos, html.find("&lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_EQ(std::string::npos, SummaryText({entry}).find('\x1b'));
}

TEST(FleetProgram, ExitStatusSaysWhetherAnyMachineNeedsAttention) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(::testing::TempDir()) / "scourix-fleet";
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "a.json") << Record("PC-A", 1, 1);
  std::ofstream(folder / "b.json") << Record("PC-B", 0, 0);
  std::ofstream(folder / "notes.txt") << "not a record";
  const std::string run = std::string(SCOURIX_FLEET) + " --html " + (folder / "fleet.html").string() + " " +
                          folder.string() + " > " + (folder / "out.txt").string();
  int status = std::system(run.c_str());
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_TRUE(fs::exists(folder / "fleet.html"));
  std::ofstream(folder / "c.json") << "{ not json";
  status = std::system(run.c_str());
  EXPECT_EQ(1, WEXITSTATUS(status));
  status = std::system((std::string(SCOURIX_FLEET) + " " + (folder / "missing").string() + " 2>/dev/null").c_str());
  EXPECT_EQ(2, WEXITSTATUS(status));
  fs::remove_all(folder);
}

}  // namespace
