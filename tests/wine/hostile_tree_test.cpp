// The walker and the detection over a hostile folder tree (made by
// hostile_prefix.sh from the Unix side): the scan ends, counts what it can
// and skips the rest silently.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/scan_state.h"
#include "engine/walker.h"
#include "tests/samples/pe_sample.h"
#include "tests/support/progress_window.h"
#include "tests/wine/test_files.h"
#include "tests/wine/walk_fixture.h"

namespace {

using HostileTree = WalkTest;

TEST_F(HostileTree, ScanEndsCountsWhatItCanAndReportsNothingOfTheRest) {
  ASSERT_TRUE(Exists("C:\\hostile\\sizes\\huge.exe")) << "the prefix set-up did not run";
  // A copy of the worm among them, in a folder whose name has dots and blanks.
  ASSERT_TRUE(MakeFolders("C:\\hostile\\dots. and  blanks\\x.y.z"));
  const std::string worm = "C:\\hostile\\dots. and  blanks\\x.y.z\\worm .exe";
  ASSERT_TRUE(WriteBytes(worm, samples::BuildSample()));

  const DWORD start = GetTickCount();
  const int result = WalkDirectory("C:\\hostile\\*.*");
  EXPECT_LT(GetTickCount() - start, 60000u);
  EXPECT_EQ(result, scanState.filesScanned);
  // The 18 files of the set-up less the two whose paths do not fit (the long
  // name, the bottom of the deep tree), plus the worm copy. Names the ANSI
  // interface cannot spell are counted and cannot be opened: silently clean.
  EXPECT_EQ(scanState.filesScanned, 19);
  EXPECT_EQ(scanState.filesInfected, 1);
  EXPECT_EQ(Lines(), std::vector<std::string>{worm + "     W32/Gibe.F.Worm deleted"});
  EXPECT_FALSE(Exists(worm));
  // Nothing of the tree was touched.
  EXPECT_TRUE(Exists("C:\\hostile\\sizes\\huge.exe"));
  EXPECT_TRUE(Exists("C:\\hostile\\sizes\\empty.exe"));
  EXPECT_TRUE(Exists("C:\\hostile\\named like programs\\evil.exe"));
}

TEST_F(HostileTree, FilesThatVanishOrChangeBetweenListingAndOpeningAreSkipped) {
  ASSERT_TRUE(MakeFolders("C:\\changing"));
  const samples::Bytes worm = samples::BuildSample();
  for (const char* name : {"a.txt", "b-vanishes.exe", "c-becomes-clean.exe", "d-becomes-folder.exe", "e.txt"}) {
    ASSERT_TRUE(WriteBytes(std::string("C:\\changing\\") + name, worm));
  }
  // As soon as the walk shows the first file, the others change under it.
  bool changed = false;
  window_.onMessage = [&](const ProgressMessage& m) {
    if (changed || m.message != ShowObjectMessage || m.text != "C:\\changing\\a.txt") return;
    changed = true;
    DeleteFileA("C:\\changing\\b-vanishes.exe");
    WriteText("C:\\changing\\c-becomes-clean.exe", "clean now");
    DeleteFileA("C:\\changing\\d-becomes-folder.exe");
    CreateDirectoryA("C:\\changing\\d-becomes-folder.exe", nullptr);
  };
  EXPECT_EQ(WalkDirectory("C:\\changing\\*.*"), scanState.filesScanned);
  ASSERT_TRUE(changed);
  // a.txt and e.txt were copies when listed and still are: both deleted.
  // The others are no copies by the time they are opened: nothing said.
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{"C:\\changing\\a.txt     W32/Gibe.F.Worm deleted",
                                             "C:\\changing\\e.txt     W32/Gibe.F.Worm deleted"}));
  EXPECT_TRUE(Exists("C:\\changing\\c-becomes-clean.exe"));
}

}  // namespace
