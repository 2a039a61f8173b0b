#include "tests/e2e/seed.h"

#include <windows.h>

#include "tests/samples/pe_sample.h"
#include "tests/wine/test_files.h"

namespace e2e {

namespace {
std::string TempFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetTempPathA(sizeof path, path);
  return length > 0 && length < sizeof path ? path : "C:\\windows\\temp\\";
}
}  // namespace

Seed SeedSamples(int bulkFiles) {
  Seed seed;
  const samples::Bytes worm = samples::BuildSample();
  const std::vector<std::string> folders = {
      "C:\\windows\\system32\\drivers\\etc", "C:\\Documents and Settings\\someone\\Local Settings",
      "C:\\Program Files\\Sample App", TempFolder() + "sample"};
  for (const std::string& folder : folders) {
    MakeFolders(folder);
    seed.inside.push_back(folder + "\\worm.exe");
    WriteBytes(seed.inside.back(), worm);
  }
  seed.inside.push_back("C:\\Program Files\\Sample App\\hidden.exe");
  WriteBytes(seed.inside.back(), worm);
  SetFileAttributesA(seed.inside.back().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  MakeFolders("C:\\outside");
  seed.outside = "C:\\outside\\worm.exe";
  WriteBytes(seed.outside, worm);
  if (bulkFiles > 0) MakeFolders("C:\\Program Files\\bulk");
  for (int i = 0; i < bulkFiles; ++i) WriteText("C:\\Program Files\\bulk\\file" + std::to_string(i) + ".txt", "x");
  return seed;
}

}  // namespace e2e
