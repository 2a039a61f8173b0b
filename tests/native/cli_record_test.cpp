// The machine's record: valid JSON whatever the lines hold.
#include "cli/record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
  ScanRecord record;
  record.computer = "PC-01";
  record.windows = "5.1.2600 Service Pack 3";
  record.started = "2026-12-08T09:00:00";
  record.ended = "2026-12-08T09:01:30";
  record.program = "Scourix 1.0";
  record.exitStatus = 3010;
  record.filesScanned = 1200;
  record.filesInfected = 2;
  record.filesDeleted = 1;
  record.filesQueued = 1;
  record.registryRepaired = true;
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
      "  \"lines\": [\n"
      "    \"System Registry     W32/Gibe.F.Worm removed\",\n"
      "    \"Scanning completed\"\n"
      "  ]\n"
      "}\n",
      RecordJson(record));
  record.lines.clear();
  EXPECT_NE(std::string::npos, RecordJson(record).find("\"lines\": []\n}")) << RecordJson(record);
}

}  // namespace
