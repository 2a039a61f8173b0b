// The unattended program's command line and exit status.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Parse(const std::vector<const char*>& arguments, CliOptions& options, std::string& problem) {
  std::vector<const char*> argv = {"scourix-cli"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ParseCliOptions(static_cast<int>(argv.size()), argv.data(), options, problem);
}

TEST(CliOptions, WindowsStyleInAnyCase) {
  CliOptions options;
  std::string problem;
  ASSERT_TRUE(Parse({"/LOG:\\\\server\\share\\logs\\%COMPUTERNAME%.log", "-Restart", "/quiet", "/Record:\\\\server\\r"},
                    options, problem))
      << problem;
  EXPECT_FALSE(options.report);
  EXPECT_EQ("\\\\server\\r", options.record);
  EXPECT_EQ("\\\\server\\share\\logs\\%COMPUTERNAME%.log", options.log);
  EXPECT_TRUE(options.restart);
  EXPECT_TRUE(options.quiet);
  EXPECT_FALSE(options.usage);
  ASSERT_TRUE(Parse({"/?"}, options, problem));
  EXPECT_TRUE(options.usage);
  ASSERT_TRUE(Parse({"-REPORT"}, options, problem));
  EXPECT_TRUE(options.report);
  EXPECT_FALSE(options.restart);
  ASSERT_TRUE(Parse({"-log:C:\\x:y.log"}, options, problem));
  EXPECT_EQ("C:\\x:y.log", options.log) << "only the first colon ends the name";
  ASSERT_TRUE(Parse({}, options, problem));
  EXPECT_TRUE(options.log.empty());
}

TEST(CliOptions, AnythingElseIsAUsageError) {
  for (const std::vector<const char*>& arguments : std::vector<std::vector<const char*>>{
           {"C:\\"}, {"/frobnicate"}, {"/log"}, {"/log:"}, {"/log:a", "/log:b"}, {"/quiet:yes"}, {"/"}, {"-"},
           {""}, {"/restartnow"}, {"/record"}, {"/record:a", "/record:b"}, {"/report:yes"}, {"/reportonly"}}) {
    CliOptions options;
    std::string problem;
    EXPECT_FALSE(Parse(arguments, options, problem)) << ::testing::PrintToString(arguments);
    EXPECT_FALSE(problem.empty());
  }
}

// A variable holding "..\" must not move the log or the record out of the
// folder the option names; ".." the administrator wrote stays theirs.
TEST(CliOptions, ExpandedPathsBringNoParentSteps) {
  struct Case {
    const char* given;
    const char* expanded;
    bool refused;
  };
  const Case cases[] = {
      {"\\\\srv\\logs\\%COMPUTERNAME%.log", "\\\\srv\\logs\\PC-01.log", false},
      {"\\\\srv\\logs\\%COMPUTERNAME%.log", "\\\\srv\\logs\\..\\..\\x.log", true},
      {"C:\\logs\\%X%\\a.log", "C:\\logs\\../a.log", true},
      {"C:\\logs\\%X%\\a.log", "C:\\logs\\.. \\a.log", true},   // Windows drops the trailing space
      {"C:\\logs\\%X%\\a.log", "C:\\logs\\...\\a.log", true},   // and the trailing dot
      {"C:\\logs\\%X%\\a.log", "C:\\logs\\..a\\a.log", false},  // a name
      {"C:\\logs\\..\\%X%.log", "C:\\logs\\..\\PC.log", false},  // the administrator's own
      {"C:\\logs\\..\\%X%.log", "C:\\logs\\..\\..\\PC.log", true},
      {"%TEMP%\\records", "C:\\Users\\admin\\AppData\\Local\\Temp\\records", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.refused, AddsParentSteps(c.given, c.expanded)) << c.expanded;
}

TEST(CliExitStatus, WhatTheScanCameTo) {
  struct Case {
    bool report, cancelled;
    int infected, deleted, queued;
    int status;
  };
  const Case cases[] = {
      {false, false, 0, 0, 0, kExitNothingFound}, {false, false, 3, 3, 0, kExitRemoved},
      {false, false, 3, 2, 1, kExitRestartNeeded}, {false, false, 3, 1, 1, kExitNotAllRemoved},
      {false, false, 3, 0, 0, kExitNotAllRemoved}, {false, true, 0, 0, 0, kExitNotAllRemoved},
      {false, true, 2, 2, 0, kExitNotAllRemoved},
      // Report only: found is all it can say; an interrupted report is still 2.
      {true, false, 0, 0, 0, kExitNothingFound}, {true, false, 3, 0, 0, kExitRemoved},
      {true, true, 3, 0, 0, kExitNotAllRemoved},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, CliExitStatus(c.report, c.cancelled, c.infected, c.deleted, c.queued))
        << c.report << " " << c.cancelled << " " << c.infected << " " << c.deleted << " " << c.queued;
  }
}

}  // namespace
