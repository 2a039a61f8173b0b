// The portable parts of the cleaners: the performance-data task list and
// owner matching, service command lines, and wininit.ini editing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleaning/perf_data.h"
#include "cleaning/service_path.h"
#include "engine/wininit.h"
#include "tests/samples/perf_block.h"

namespace {

using samples::PerfTask;

TaskList Parse(const std::vector<uint8_t>& block) {
  return ParseProcessTasks(block.data(), block.size(), samples::kIdProcessIndex, ConvertNameAscii);
}

TEST(PerfCounters, FindsTheProcessObjectAndItsIdCounter) {
  const std::vector<uint8_t> counters = samples::PerfCounters();
  const ProcessCounterIndexes found = FindProcessCounters(counters.data(), counters.size());
  ASSERT_TRUE(found.found);
  EXPECT_STREQ(found.processIndex, "230");
  EXPECT_EQ(found.idProcessIndex, 784u);
}

TEST(PerfCounters, MissingNamesOrCutTextFindNothing) {
  std::vector<uint8_t> counters = samples::PerfCounters();
  EXPECT_FALSE(FindProcessCounters(counters.data(), 0).found);
  // Cut inside "ID Process": the name is not terminated, so it does not count.
  const std::string text(counters.begin(), counters.end());
  const size_t cut = text.find("ID Process") + 5;
  EXPECT_FALSE(FindProcessCounters(counters.data(), cut).found);
  // A later pair replaces an earlier one.
  const std::string extra = std::string("999") + '\0' + "process" + '\0';
  counters.insert(counters.end() - 1, extra.begin(), extra.end());
  EXPECT_STREQ(FindProcessCounters(counters.data(), counters.size()).processIndex, "999");
}

TEST(PerfTasks, ReadsNameAndPidOfEveryInstance) {
  const TaskList tasks = Parse(samples::PerfProcessBlock(
      {{u"Idle", 0}, {u"System", 4}, {u"svchost", 812}, {u"svchost#1", 940}, {u"tcp32", 1204}}));
  ASSERT_EQ(tasks.count, 5u);
  EXPECT_EQ(tasks.entries[0].pid, kIdleProcessPid);
  EXPECT_STREQ(tasks.entries[2].name, "svchost");
  EXPECT_EQ(tasks.entries[3].pid, 940u);
  EXPECT_STREQ(tasks.entries[4].name, "tcp32");
  EXPECT_EQ(tasks.entries[4].pid, 1204u);
}

TEST(PerfTasks, NamesLongerThanSixteenAreStoredEmpty) {
  const TaskList tasks = Parse(samples::PerfProcessBlock({{u"sixteen-chars-ok", 1}, {u"seventeen-chars-x", 2}}));
  ASSERT_EQ(tasks.count, 2u);
  EXPECT_STREQ(tasks.entries[0].name, "sixteen-chars-ok");
  EXPECT_STREQ(tasks.entries[1].name, "");
  EXPECT_FALSE(TaskNameMatches(tasks.entries[1].name, "SEVENTEEN-CHARS-X"));
}

TEST(PerfTasks, AtMost254Instances) {
  std::vector<PerfTask> many(300, PerfTask{u"x", 9});
  EXPECT_EQ(Parse(samples::PerfProcessBlock(many)).count, kMaxTasks);
}

TEST(PerfTasks, HostileBlocksNeverReadOutside) {
  const std::vector<uint8_t> good = samples::PerfProcessBlock({{u"a", 1}, {u"b", 2}, {u"c", 3}});
  // Every truncation yields at most the instances that were whole.
  for (size_t length = 0; length < good.size(); ++length) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_LE(Parse(cut).count, 3u);
  }
  std::vector<uint8_t> bad = good;
  bad[0] = 'Q';  // not "PERF"
  EXPECT_EQ(Parse(bad).count, 0u);
  bad = good;
  bad[24] = 0xFF; bad[25] = 0xFF; bad[26] = 0xFF; bad[27] = 0xFF;  // object far outside
  EXPECT_EQ(Parse(bad).count, 0u);
  bad = good;
  const size_t firstInstance = 88 + 64 + 80;
  bad[firstInstance] = 0; bad[firstInstance + 1] = 0;  // instance of length 0 would never move on
  bad[firstInstance + 2] = 0; bad[firstInstance + 3] = 0;
  EXPECT_LE(Parse(bad).count, 1u);
  // Without the "id process" counter there is no pid to read.
  EXPECT_EQ(ParseProcessTasks(good.data(), good.size(), 12345, ConvertNameAscii).count, 0u);
}

TEST(OwnerMatching, ExactNameOrASecondInstanceOnly) {
  EXPECT_TRUE(TaskNameMatches("tcp32", "TCP32"));
  EXPECT_TRUE(TaskNameMatches("TCP32#1", "tcp32"));
  EXPECT_TRUE(TaskNameMatches("tcp32#12", "tcp32"));
  EXPECT_FALSE(TaskNameMatches("tcp32#", "tcp32"));
  EXPECT_FALSE(TaskNameMatches("tcp32#x", "tcp32"));
  EXPECT_FALSE(TaskNameMatches("svchost", "svc"));  // a prefix is not the owner
  EXPECT_FALSE(TaskNameMatches("svc", "svchost"));
  EXPECT_FALSE(TaskNameMatches("anything", ""));
  EXPECT_FALSE(TaskNameMatches("", ""));
}

TEST(OwnerMatching, ProcessListEntriesNameTheFileByPathOrByName) {
  // Windows 9x lists full paths: only the file itself.
  EXPECT_TRUE(ProcessRunsFile("C:\\WINDOWS\\TCP32.EXE", "c:\\windows\\tcp32.exe"));
  EXPECT_FALSE(ProcessRunsFile("C:\\WINDOWS\\SYSTEM\\TCP32.EXE", "C:\\WINDOWS\\TCP32.EXE"));
  // Elsewhere only a name is given: the names must agree.
  EXPECT_TRUE(ProcessRunsFile("tcp32.exe", "C:\\WINDOWS\\TCP32.EXE"));
  EXPECT_FALSE(ProcessRunsFile("tcp32.exe2", "C:\\WINDOWS\\TCP32.EXE"));
  EXPECT_FALSE(ProcessRunsFile("cp32.exe", "C:\\WINDOWS\\TCP32.EXE"));
  EXPECT_FALSE(ProcessRunsFile("", "C:\\WINDOWS\\TCP32.EXE"));
  EXPECT_FALSE(ProcessRunsFile("tcp32.exe", ""));
}

TEST(ServicePath, ProgramWithoutQuotesAndArguments) {
  const char* worm = "C:\\WINDOWS\\tcp32.exe";
  EXPECT_TRUE(ServiceBinaryNamesFile("C:\\WINDOWS\\tcp32.exe", worm));
  EXPECT_TRUE(ServiceBinaryNamesFile("c:\\windows\\TCP32.EXE -service", worm));
  EXPECT_TRUE(ServiceBinaryNamesFile("\"C:\\WINDOWS\\tcp32.exe\" /run", worm));
  EXPECT_FALSE(ServiceBinaryNamesFile("C:\\WINDOWS\\system32\\tcp32.exe", worm));
  EXPECT_FALSE(ServiceBinaryNamesFile("C:\\WINDOWS\\tcp32.exe2", worm));
  EXPECT_FALSE(ServiceBinaryNamesFile("\"C:\\WINDOWS\\tcp32.exe", worm));
  EXPECT_FALSE(ServiceBinaryNamesFile("", worm));
  EXPECT_FALSE(ServiceBinaryNamesFile("C:\\WINDOWS\\tcp32.exe", ""));
  EXPECT_TRUE(ServiceBinaryNamesFile("C:\\Program Files\\a b\\w.exe", "C:\\Program Files\\a b\\w.exe"));
}

TEST(ServicePath, ServiceNameIsTheFileNameWithoutExtension) {
  char name[32];
  ServiceNameOfFile("C:\\WINDOWS\\tcp32.exe", name, sizeof name);
  EXPECT_STREQ(name, "tcp32");
  ServiceNameOfFile("C:\\dir.x\\noext", name, sizeof name);
  EXPECT_STREQ(name, "noext");
  ServiceNameOfFile("a.b.exe", name, sizeof name);
  EXPECT_STREQ(name, "a.b");
}

TEST(Wininit, EachQueuedFileGetsItsOwnLineInTheRenameSection) {
  std::string text = AddWininitDeletion("", "C:\\WINDOWS\\TCP32.EXE");
  EXPECT_EQ(text, "[rename]\r\nnul=C:\\WINDOWS\\TCP32.EXE\r\n");
  text = AddWininitDeletion(text, "C:\\PROGRA~1\\X.EXE");
  EXPECT_EQ(text, "[rename]\r\nnul=C:\\WINDOWS\\TCP32.EXE\r\nnul=C:\\PROGRA~1\\X.EXE\r\n");
}

TEST(Wininit, OtherSectionsAndEntriesAreKept) {
  const std::string before =
      "[Other]\r\nkey=value\r\n[Rename]\r\nC:\\NEW.DLL=C:\\OLD.DLL\r\n\r\n[Last]\r\nx=1";
  EXPECT_EQ(AddWininitDeletion(before, "C:\\W.EXE"),
            "[Other]\r\nkey=value\r\n[Rename]\r\nC:\\NEW.DLL=C:\\OLD.DLL\r\nnul=C:\\W.EXE\r\n\r\n[Last]\r\nx=1\r\n");
  EXPECT_EQ(AddWininitDeletion("[Other]\r\nk=v\r\n", "C:\\W.EXE"), "[Other]\r\nk=v\r\n[rename]\r\nnul=C:\\W.EXE\r\n");
}

}  // namespace
