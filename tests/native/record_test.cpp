// The machine's record: valid JSON whatever the lines hold.
#include "record/record.h"

#include <gtest/gtest.h>

#include <string>

#include "record/sha256.h"

namespace {

ScanRecord Sample() {
  ScanRecord record;
  record.computer = "PC-\xC3\x9C";
  record.windows = "4.10.2222 A";
  record.started = "2026-12-08T09:00:00";
  record.ended = "2026-12-08T09:01:30";
  record.program = "Scourix 1.0";
  record.exitStatus = 3010;
  record.filesScanned = 1200;
  record.filesInfected = 2;
  record.filesDeleted = 1;
  record.filesQueued = 1;
  record.registryRepaired = true;
  record.servicesRemoved = 1;
  record.lines = {"a \"quoted\" \\ line\twith a tab", "Scanning completed"};
  return record;
}

TEST(JsonString, EscapesWhatJsonAsksAndKeepsUtf8) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"C:\\WINDOWS\\x.exe", "\"C:\\\\WINDOWS\\\\x.exe\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"tab\there\nnext\x1b\x7f", "\"tab\\u0009here\\u000anext\\u001b\\u007f\""},
      {std::string("nul\0end", 7), "\"nul\\u0000end\""},
      {"M\xC3\xBCller \xE2\x82\xAC", "\"M\xC3\xBCller \xE2\x82\xAC\""},
      {"Caf\xE9", "\"Caf\\ufffd\""},          // not UTF-8
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
      {"", "\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.json, JsonString(c.text)) << c.text;
}

TEST(RecordJson, EveryFieldInOrder) {
  ScanRecord record = Sample();
  record.computer = "PC-01";
  record.windows = "5.1.2600 Service Pack 3";
  record.lines = {"System Registry     W32/Gibe.F.Worm removed", "Scanning completed"};
  EXPECT_EQ(
      "{\n"
      "  \"computer\": \"PC-01\",\n"
      "  \"windows\": \"5.1.2600 Service Pack 3\",\n"
      "  \"started\": \"2026-12-08T09:00:00\",\n"
      "  \"ended\": \"2026-12-08T09:01:30\",\n"
      "  \"program\": \"Scourix 1.0\",\n"
      "  \"exitStatus\": 3010,\n"
      "  \"filesScanned\": 1200,\n"
      "  \"filesInfected\": 2,\n"
      "  \"filesDeleted\": 1,\n"
      "  \"filesQueued\": 1,\n"
      "  \"registryRepaired\": true,\n"
      "  \"servicesRemoved\": 1,\n"
      "  \"reportOnly\": false,\n"
      "  \"lines\": [\n"
      "    \"System Registry     W32/Gibe.F.Worm removed\",\n"
      "    \"Scanning completed\"\n"
      "  ]\n"
      "}\n",
      RecordJson(record));
  record.lines.clear();
  EXPECT_NE(std::string::npos, RecordJson(record).find("\"lines\": []\n}")) << RecordJson(record);
  // A result line leaves the program as it leaves it for the log: one
  // result a line, whoever prints the record's lines; read back and written
  // again, it stays the same.
  record.lines = {"C:\\evil\nC:\\forged\x1b[2J\x7f.exe     W32/Gibe.F.Worm deleted"};
  const std::string escaped = "C:\\evil\\nC:\\forged\\x1b[2J\\x7f.exe     W32/Gibe.F.Worm deleted";
  ScanRecord read;
  std::string error;
  ASSERT_TRUE(ParseRecordJson(RecordJson(record), read, error)) << error;
  EXPECT_EQ(std::vector<std::string>{escaped}, read.lines);
  EXPECT_EQ(RecordJson(read), RecordJson(record));
}

}  // namespace

namespace {

bool Same(const ScanRecord& a, const ScanRecord& b) {
  return a.computer == b.computer && a.windows == b.windows && a.started == b.started && a.ended == b.ended &&
         a.program == b.program && a.exitStatus == b.exitStatus && a.filesScanned == b.filesScanned &&
         a.filesInfected == b.filesInfected && a.filesDeleted == b.filesDeleted && a.filesQueued == b.filesQueued &&
         a.registryRepaired == b.registryRepaired && a.servicesRemoved == b.servicesRemoved &&
         a.reportOnly == b.reportOnly && a.lines == b.lines;
}

TEST(ParseRecordJson, ReadsWhatRecordJsonWrites) {
  ScanRecord read;
  std::string error;
  ASSERT_TRUE(ParseRecordJson(RecordJson(Sample()), read, error)) << error;
  EXPECT_TRUE(Same(Sample(), read));
  ScanRecord reportOnly = Sample();
  reportOnly.reportOnly = true;
  ASSERT_TRUE(ParseRecordJson(RecordJson(reportOnly), read, error)) << error;
  EXPECT_TRUE(Same(reportOnly, read));
  // Other writers' forms: other keys passed over, escapes of every kind.
  ASSERT_TRUE(ParseRecordJson(
      "{\"extra\":{\"a\":[1,2.5e3,null,true,\"x\"]},\"computer\":\"\\u0050\\u00dc\\ud83d\\ude00\\ud800\","
      "\"exitStatus\":-1,\"lines\":[]}",
      read, error))
      << error;
  EXPECT_EQ("P\xC3\x9C\xF0\x9F\x98\x80\xEF\xBF\xBD", read.computer);
  EXPECT_EQ(-1, read.exitStatus);
  // Raw bytes that are not UTF-8 are read as U+FFFD: a record read is text.
  ASSERT_TRUE(ParseRecordJson("{\"computer\":\"Caf\xE9\",\"exitStatus\":0}", read, error)) << error;
  EXPECT_EQ("Caf\xEF\xBF\xBD", read.computer);
}

// Each machine its own record file: a name Windows cannot use for a file is
// cleaned and told apart from the others by a hash of the whole name.
TEST(RecordFileStem, NamesWindowsCanUseAndHashesForTheOthers) {
  struct Case {
    std::string computer;
    std::string stem;  // "hash": cleaned + '-' + 8 hex digits of the name's SHA-256
  };
  const std::string hash = "-" + Sha256Hex("PC/1").substr(0, 8);
  const Case cases[] = {
      {"PC-01", "PC-01"},
      {"pc_02.corp", "pc_02.corp"},
      {std::string(200, 'a'), std::string(200, 'a')},
      {"PC/1", "PC_1" + hash},
      {"PC\\1", "PC_1-" + Sha256Hex("PC\\1").substr(0, 8)},
      {"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h-" + Sha256Hex("a:b*c?d\"e<f>g|h").substr(0, 8)},
      {"", "unknown-" + Sha256Hex("").substr(0, 8)},
      {"CON", "CON-" + Sha256Hex("CON").substr(0, 8)},
      {"com1", "com1-" + Sha256Hex("com1").substr(0, 8)},
      {"LPT9.corp", "LPT9.corp-" + Sha256Hex("LPT9.corp").substr(0, 8)},
      {"NUL ", "NUL_-" + Sha256Hex("NUL ").substr(0, 8)},
      {"PC.", "PC.-" + Sha256Hex("PC.").substr(0, 8)},
      {"M\xC3\xBCller", "M__ller-" + Sha256Hex("M\xC3\xBCller").substr(0, 8)},
      {"..", "..-" + Sha256Hex("..").substr(0, 8)},
      {std::string(201, 'a'), std::string(40, 'a') + "-" + Sha256Hex(std::string(201, 'a')).substr(0, 8)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.stem, RecordFileStem(c.computer)) << c.computer;
  // Names it cannot use, alike once cleaned, still get files of their own.
  EXPECT_NE(RecordFileStem("PC:1"), RecordFileStem("PC*1"));
  EXPECT_NE(RecordFileStem("M\xC3\xBCller"), RecordFileStem("M\xC3\xA4ller"));
}

// A reader that keeps a budget of lines keeps whole lines, in order, and
// counts the others.
TEST(ParseRecordJson, KeepsLinesWithinABudget) {
  ScanRecord record = Sample();
  record.lines = {"12345", "678", "9", "0"};
  struct Case {
    size_t bytes;
    std::vector<std::string> kept;
    size_t leftOut;
  };
  constexpr size_t kString = sizeof(std::string);  // each kept line costs its object too
  const Case cases[] = {{0, {}, 4},
                        {kString + 4, {}, 4},
                        {kString + 5, {"12345"}, 3},
                        {2 * kString + 8, {"12345", "678"}, 2},
                        {4 * kString + 10, record.lines, 0}};
  for (const Case& c : cases) {
    ScanRecord read;
    std::string error;
    LineBudget budget;
    budget.bytes = c.bytes;
    ASSERT_TRUE(ParseRecordJson(RecordJson(record), read, error, &budget)) << error;
    EXPECT_EQ(c.kept, read.lines) << c.bytes;
    EXPECT_EQ(c.leftOut, budget.leftOut) << c.bytes;
  }
}

// A record is a file anyone could have put in the folder.
TEST(ParseRecordJson, RefusesWhatIsNotARecord) {
  const std::string deep = "{\"computer\":\"x\",\"exitStatus\":0,\"x\":" + std::string(40, '[') + std::string(40, ']') + "}";
  const char* const cases[] = {
      "",
      "[]",
      "{\"exitStatus\":0}",                                  // no computer
      "{\"computer\":\"\",\"exitStatus\":0}",                 // an empty name
      "{\"computer\":\"x\"}",                                 // no exit status
      "{\"computer\":\"x\",\"exitStatus\":1.5}",
      "{\"computer\":\"x\",\"exitStatus\":99999999999}",
      "{\"computer\":\"x\",\"exitStatus\":0} trailing",
      "{\"computer\":\"x\",\"exitStatus\":0",
      "{\"computer\":\"x\\q\",\"exitStatus\":0}",
      "{\"computer\":\"x\nnewline\",\"exitStatus\":0}",
      "{\"computer\":\"x\",\"exitStatus\":0,\"lines\":[\"a\",2]}",
      "{\"computer\":\"x\",\"exitStatus\":0,\"lines\":\"a\"}",
      "{\"computer\":\"x\\u12\",\"exitStatus\":0}",
      "{\"computer\":\"x\",\"registryRepaired\":yes,\"exitStatus\":0}",
      // A key twice: which one a reader takes is not for the writer to choose.
      "{\"computer\":\"x\",\"exitStatus\":2,\"exitStatus\":0}",
      "{\"computer\":\"x\",\"exitStatus\":0,\"computer\":\"y\"}",
      "{\"computer\":\"x\",\"exitStatus\":0,\"lines\":[],\"lines\":[\"a\"]}",
      "{\"computer\":\"x\",\"exitStatus\":0,\"note\":1,\"note\":2}",
  };
  for (const char* text : cases) {
    ScanRecord read;
    std::string error;
    EXPECT_FALSE(ParseRecordJson(text, read, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  ScanRecord read;
  std::string error;
  EXPECT_FALSE(ParseRecordJson(deep, read, error));
  EXPECT_NE(std::string::npos, error.find("deep")) << error;
}

}  // namespace
