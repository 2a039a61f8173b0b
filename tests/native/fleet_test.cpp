// The fleet summary over a folder of records, some of them not records.
#include "fleet/summary.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/record_files.h"
#include "record/sha256.h"

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

// A fleet program run: its exit status, what it printed, and the most
// memory it held.
struct FleetRun {
  int status = -1;
  std::string out;
  std::string err;
  long maxResidentKiB = 0;
};

// measure: through /usr/bin/time, whose own child is the program alone (a
// child of this process would count this process's memory as its own).
FleetRun RunFleet(const std::vector<std::string>& args, const std::string& stdoutPath = "", bool measure = false) {
  namespace fs = std::filesystem;
  const fs::path scratch = fs::path(::testing::TempDir()) / ("fleet-run-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  const std::string outPath = stdoutPath.empty() ? (scratch / "out").string() : stdoutPath;
  const std::string errPath = (scratch / "err").string();
  const pid_t child = ::fork();
  if (child == 0) {
    // The sanitizers' quarantine would hold freed memory: measure the program's own.
    ::setenv("ASAN_OPTIONS", "quarantine_size_mb=0:detect_leaks=0", 1);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    const std::string timed = (scratch / "memory").string();
    std::vector<const char*> argv;
    if (measure) argv = {"/usr/bin/time", "-f", "%M", "-o", timed.c_str()};
    argv.push_back(SCOURIX_FLEET);
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    ::alarm(60);  // a run that waits on a FIFO ends as a failure, not a hung suite
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  FleetRun run;
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child) {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  };
  if (stdoutPath.empty()) run.out = read(outPath);
  run.err = read(errPath);
  if (measure) {
    // time's last line: it says first when the status was not 0.
    std::string memory = read((scratch / "memory").string());
    while (!memory.empty() && memory.back() == '\n') memory.pop_back();
    run.maxResidentKiB = std::atol(memory.substr(memory.rfind('\n') + 1).c_str());
  }
  fs::remove_all(scratch);
  return run;
}

class FleetFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::path(::testing::TempDir()) /
              ("fleet-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(folder_ / name, std::ios::binary) << text;
  }
  std::string Folder() const { return folder_.string(); }

 private:
  std::filesystem::path folder_;
};

// Records of machines that were infected are read one at a time and only
// what the summary shows is kept: memory does not grow with their lines.
TEST_F(FleetFolder, MemoryDoesNotGrowWithTheRecordsLines) {
  {
    std::ofstream big(Path("big.json"), std::ios::binary);
    big << "{\"computer\":\"PC-BIG\",\"exitStatus\":2,\"lines\":[\"" << std::string(40, 'x') << '"';
    for (int i = 1; i < 99000; ++i) big << ",\"" << std::string(40, 'x') << '"';
    big << "]}";
  }
  constexpr int kRecords = 24;
  for (int i = 1; i < kRecords; ++i) {
    std::filesystem::create_hard_link(Path("big.json"), Path("big" + std::to_string(i) + ".json"));
  }
  const FleetRun run = RunFleet({"--html", Path("page.html"), Folder()}, "", true);
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("24 machines")) << run.out;
  // Each record is 4 MiB on disk and took some 10 MiB in memory when every
  // line was kept: 240 MiB for these.
  EXPECT_GT(run.maxResidentKiB, 0);
  EXPECT_LT(run.maxResidentKiB, 64 * 1024);
  std::ifstream page(Path("page.html"));
  std::ostringstream html;
  html << page.rdbuf();
  EXPECT_NE(std::string::npos, html.str().find("Result lines (99000)")) << "the count of lines left out is kept";
}

// Whatever sits in the folder under a record's name, it is opened without
// following a link and without waiting, and read only up to the limit.
TEST_F(FleetFolder, WhatIsNotARecordFileIsNamedAndNeverFollowedOrWaitedFor) {
  Write("good.json", Record("PC-A", 0, 0));
  Write("outside", Record("PC-OUTSIDE", 0, 0));
  std::filesystem::create_symlink(Path("outside"), Path("link.json"));
  std::filesystem::create_symlink("/dev/zero", Path("zero.json"));
  ASSERT_EQ(0, ::mkfifo(Path("fifo.json").c_str(), 0600));
  std::filesystem::create_directory(Path("folder.json"));
  std::ofstream(Path("huge.json"), std::ios::binary) << std::string(kLargestRecord + 1, ' ');
  const FleetRun run = RunFleet({Folder()});
  EXPECT_EQ(1, run.status) << run.err;
  for (const char* name : {"link.json", "zero.json", "fifo.json", "folder.json", "huge.json"}) {
    EXPECT_NE(std::string::npos, run.out.find(std::string(name) + "     needs attention     unreadable record: "))
        << name << "\n" << run.out;
  }
  EXPECT_EQ(std::string::npos, run.out.find("PC-OUTSIDE")) << run.out;
}

// A summary that is not written is no summary: a full disk or a page that
// cannot be made ends with 2 and says so.
TEST_F(FleetFolder, AFailedWriteIsSaidAndEndsWith2) {
  Write("a.json", Record("PC-A", 0, 0));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string stdoutPath;
  };
  const Case cases[] = {
      {"standard output on a full disk", {Folder()}, "/dev/full"},
      {"CSV on a full disk", {"--csv", Folder()}, "/dev/full"},
      {"the page on a full disk", {"--html", "/dev/full", Folder()}, ""},
      {"the page in a missing folder", {"--html", Path("missing/page.html"), Folder()}, ""},
  };
  for (const Case& c : cases) {
    const FleetRun run = RunFleet(c.args, c.stdoutPath);
    EXPECT_EQ(2, run.status) << c.name;
    EXPECT_NE(std::string::npos, run.err.find("scourix-fleet: cannot write")) << c.name << ": " << run.err;
  }
}

TEST_F(FleetFolder, NoRecordsIsNoSummary) {
  FleetRun run = RunFleet({Folder()});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("no records")) << run.err;
  Write("notes.txt", "not a record");
  run = RunFleet({Folder()});
  EXPECT_EQ(2, run.status);
  EXPECT_EQ("", run.out);
}

// The machines an inventory lists: one without a record needs attention,
// a record of a machine not on the list is named.
TEST_F(FleetFolder, ExpectedMachinesWithoutARecordNeedAttention) {
  Write("a.json", Record("PC-A", 0, 0));
  Write("b.json", Record("PC-B", 1, 1));
  Write("z.json", Record("PC-Z", 0, 0));
  Write("expected.txt", "\xEF\xBB\xBFpc-a\r\nPC-B.corp.example.com\r\n\r\n  PC-C  \r\npc-c\n");  // listed twice
  FleetRun run = RunFleet({"--expect", Path("expected.txt"), Folder()});
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("PC-C     needs attention     no record\n")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("PC-Z     clean     exit 0, 0 scanned, 0 infected, 0 deleted, 0 queued, "
                                            "0 services removed; not on the list of expected machines\n"))
      << run.out;
  EXPECT_NE(std::string::npos, run.out.find("PC-A     clean     exit 0, 0 scanned, 0 infected, 0 deleted, 0 queued, "
                                            "0 services removed\n"))
      << run.out;
  EXPECT_NE(std::string::npos, run.out.find("PC-B     cleaned     exit 1")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("4 machines: 2 clean, 1 cleaned, 0 cleaned but restart pending, 1 need "
                                            "attention (1 without a record); 1 records of machines not on the list"))
      << run.out;
  run = RunFleet({"--expect", Path("missing.txt"), Folder()});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("the list of expected machines")) << run.err;
}

// A CSV cell is text a spreadsheet shows: no control byte or broken UTF-8
// reaches it raw, and what it would take for a formula stays text, whether
// it comes from a record or is the name of a file that is not one.
TEST(FleetCsv, CellsAreEscapedAndNeverFormulas) {
  struct Case {
    std::string name;
    std::string cell;
  };
  const Case cases[] = {
      {"=cmd|' /C calc'!A0", "\"'=cmd|' /C calc'!A0\""},
      {"+1", "\"'+1\""},
      {"-1", "\"'-1\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\t=1", "\"'\t=1\""},
      {"\r=1", "\"\\r=1\""},
      {"PC\x1b]0;x\x07\x7f", "\"PC\\x1b]0;x\\x07\\x7f\""},
      {std::string("nul\0x", 5), "\"nul\\x00x\""},
      {"caf\xE9 \xC2\x9B", "\"caf\\xe9 \\xc2\\x9b\""},  // not UTF-8; a C1 control
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
  };
  for (const Case& c : cases) {
    ScanRecord record;
    record.computer = c.name;
    const std::string fromRecord = SummaryCsv({ReadEntry("a.json", RecordJson(record))});
    // Read back from JSON: bytes that are not UTF-8 arrive as U+FFFD there.
    if (c.name.find('\xE9') == std::string::npos) {
      EXPECT_NE(std::string::npos, fromRecord.find("\r\n" + c.cell + ",")) << fromRecord;
    }
    const std::string fromFile = SummaryCsv({UnreadableEntry(c.name, "why")});
    EXPECT_NE(std::string::npos, fromFile.find("\r\n" + c.cell + ",")) << fromFile;
    for (const std::string& csv : {fromRecord, fromFile}) {
      for (size_t i = 0; i < csv.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(csv[i]);
        const bool lineEnd = csv.compare(i, 2, "\r\n") == 0 || (i > 0 && csv.compare(i - 1, 2, "\r\n") == 0);
        EXPECT_TRUE(byte >= 0x20 || byte == '\t' || lineEnd) << c.name << " byte " << i;
      }
    }
  }
}

// Two records naming one computer (a copied image, a planted file): which
// is true is for a person to say.
TEST(FleetSummary, TwoRecordsOfOneComputerBothNeedAttention) {
  std::vector<FleetEntry> entries = {ReadEntry("pc-a.json", Record("PC-A", 0, 0)),
                                     ReadEntry("planted.json", Record("pc-a", 1, 1)),
                                     ReadEntry("b.json", Record("PC-B", 0, 0))};
  MarkSameComputer(entries);
  SortEntries(entries);
  const std::string text = SummaryText(entries);
  EXPECT_NE(std::string::npos, text.find("PC-A     needs attention     exit 0, 0 scanned, 0 infected, 0 deleted, 0 queued, "
                                         "0 services removed; record pc-a.json, and planted.json names the same "
                                         "computer\n"))
      << text;
  EXPECT_NE(std::string::npos, text.find("pc-a     needs attention     exit 1, ")) << text;
  EXPECT_NE(std::string::npos, text.find("record planted.json, and pc-a.json names the same computer")) << text;
  EXPECT_NE(std::string::npos, text.find("PC-B     clean")) << text;
  EXPECT_NE(std::string::npos, SummaryCsv(entries).find(",\"planted.json\"\r\n"));

  // A folder of copies of one record: each names a few of the others.
  std::vector<FleetEntry> copies;
  for (int i = 0; i < 6; ++i) copies.push_back(ReadEntry("c" + std::to_string(i) + ".json", Record("PC-C", 0, 0)));
  MarkSameComputer(copies);
  EXPECT_TRUE(AnyNeedsAttention(copies));
  EXPECT_NE(std::string::npos, SummaryText(copies).find("record c0.json, and c1.json, c2.json, c3.json and 2 more name "
                                                        "the same computer\n"))
      << SummaryText(copies);
}

TEST(FleetSummary, WindowsVersionsByTheirNames) {
  struct Case {
    const char* version;
    const char* name;
  };
  const Case cases[] = {
      {"5.1.2600 Service Pack 3", "Windows XP SP3"},
      {"5.1.2600", "Windows XP"},
      {"10.0.19045", "Windows 10 22H2"},
      {"6.3.19045", "Windows 10 22H2"},  // as Windows 10 keeps CurrentVersion in its registry
      {"10.0.22631", "Windows 11 23H2"},
      {"4.10.2222 A", "Windows 98 SE"},
      {"4.0.1381 Service Pack 6", "Windows NT 4.0 SP6"},
      {"6.1.7601 Service Pack 1", "Windows 7 SP1"},
      {"5.0.2600", "5.0.2600"},  // not a release
      {"10.0.99999", "10.0.99999"},
      {"10.0.1234567890", "10.0.1234567890"},
      {"<b>", "<b>"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.name, WindowsName(c.version)) << c.version;
}

// The page allows its own script and style by their hashes, and nothing
// else: text that slipped past the escaping could not run.
TEST(FleetSummary, PageAllowsOnlyItsOwnScriptAndStyle) {
  std::vector<FleetEntry> entries = {ReadEntry("a.json", Record("PC-A", 2, 1))};
  const std::string html = SummaryHtml(entries);
  const auto between = [&](const std::string& open, const std::string& close) {
    const size_t start = html.find(open);
    const size_t end = start == std::string::npos ? start : html.find(close, start + open.size());
    return start == std::string::npos || end == std::string::npos ? std::string("missing")
                                                                  : html.substr(start + open.size(), end - start - open.size());
  };
  const std::string policy = between("http-equiv=\"Content-Security-Policy\" content=\"", "\"");
  EXPECT_EQ("default-src 'none'; script-src 'sha256-" + Sha256Base64(between("<script>", "</script>")) +
                "'; style-src 'sha256-" + Sha256Base64(between("<style>", "</style>")) +
                "'; base-uri 'none'; form-action 'none'",
            policy);
  EXPECT_LT(html.find("Content-Security-Policy"), html.find("<style>"));
  EXPECT_EQ(html.find("<script"), html.rfind("<script")) << "one script";
  EXPECT_EQ(std::string::npos, html.find(" style=")) << "no style attribute, which a hash cannot allow";
  EXPECT_NE(std::string::npos, html.find("<details><summary>Result lines (1)</summary><pre>Scanning completed\n</pre>"))
      << html;
}

}  // namespace
