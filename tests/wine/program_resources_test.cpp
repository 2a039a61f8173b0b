// What Windows reads from Scourix.exe before it runs a line of it: the
// manifest, the version block and the icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "resources/resource.h"
#include "tests/wine/test_files.h"
#include "tests/wine/test_icons.h"

namespace {

std::string ScourixPath() { return OwnFolder() + "\\Scourix.exe"; }

class ProgramResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(ScourixPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  std::string Resource(LPCSTR type, LPCSTR name) const {
    const HRSRC found = FindResourceA(module_, name, type);
    if (found == nullptr) return {};
    const HGLOBAL loaded = LoadResource(module_, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    return data != nullptr ? std::string(static_cast<const char*>(data), SizeofResource(module_, found)) : std::string();
  }

  HMODULE module_ = nullptr;
};

BOOL CALLBACK CountName(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

TEST_F(ProgramResources, OneManifestAsksForAdministratorStylesDpiAndNamesTheSystems) {
  int manifests = 0;
  EnumResourceNamesA(module_, MAKEINTRESOURCEA(24), CountName, reinterpret_cast<LONG_PTR>(&manifests));
  EXPECT_EQ(manifests, 1) << "a second manifest (a toolchain default) would be ambiguous";
  const std::string manifest = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
  for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
    EXPECT_NE(manifest.find(os), std::string::npos) << os;
  }
  EXPECT_EQ(manifest.find("@"), std::string::npos) << "an unreplaced placeholder";
#ifdef _WIN64
  EXPECT_NE(manifest.find("processorArchitecture=\"amd64\""), std::string::npos);
#endif

  // The system's own parser takes it (a malformed manifest stops the program
  // from starting at all).
  ACTCTXA context{};
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  const std::string path = ScourixPath();
  context.lpSource = path.c_str();
  context.lpResourceName = MAKEINTRESOURCEA(1);
  const HANDLE activation = CreateActCtxA(&context);
  ASSERT_NE(activation, INVALID_HANDLE_VALUE) << GetLastError();
  ReleaseActCtx(activation);
}

std::string VersionString(const std::string& block, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(block.data(), query.c_str(), &value, &length) || length == 0) return "(missing)";
  return std::string(static_cast<const char*>(value), length - 1);
}

TEST_F(ProgramResources, VersionBlockNamesProductVersionAndMaker) {
  const std::string path = ScourixPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, &block[0]));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flag";

  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0409);
  EXPECT_EQ(static_cast<const WORD*>(value)[1], 1252);

  EXPECT_EQ(VersionString(block, "ProductName"), "Scourix");
  EXPECT_EQ(VersionString(block, "ProductVersion"), "1.0");
  EXPECT_EQ(VersionString(block, "FileVersion"), "1.0");
  EXPECT_EQ(VersionString(block, "CompanyName"), "Quenloft");
  EXPECT_EQ(VersionString(block, "OriginalFilename"), "Scourix.exe");
  EXPECT_NE(VersionString(block, "LegalCopyright").find("2003"), std::string::npos);
  EXPECT_NE(VersionString(block, "FileDescription").find("W32/Gibe.F.Worm"), std::string::npos);
}

// The size of the image Windows picks from the program icon for a request.
int PickedIconSize(HMODULE module, const std::string& group, int size, UINT flags) {
  const int id = LookupIconIdFromDirectoryEx(reinterpret_cast<PBYTE>(const_cast<char*>(group.data())), TRUE,
                                             size, size, flags);
  if (id == 0) return 0;
  const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
  if (found == nullptr) return 0;
  const HICON icon = CreateIconFromResourceEx(static_cast<PBYTE>(LockResource(LoadResource(module, found))),
                                              SizeofResource(module, found), TRUE, 0x00030000, size, size, flags);
  const int picked = IconWidth(icon);
  if (icon != nullptr) DestroyIcon(icon);
  return picked;
}

TEST_F(ProgramResources, IconHasEverySizeWindowsAsksFor) {
  const std::string group = Resource(MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(IDI_PROGRAM));
  ASSERT_GE(group.size(), 6u);
  const int count = *reinterpret_cast<const WORD*>(group.data() + 4);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::set<int> trueColour;
  std::set<int> paletted;
  for (int i = 0; i < count; ++i) {
    const auto* entry = reinterpret_cast<const BYTE*>(group.data() + 6 + 14 * i);
    const int size = entry[0] == 0 ? 256 : entry[0];
    const int bits = entry[6] | entry[7] << 8;
    (bits == 32 ? trueColour : paletted).insert(size);
  }
  EXPECT_EQ(trueColour, (std::set<int>{16, 20, 24, 32, 40, 48, 64, 256}));
  EXPECT_EQ(paletted, (std::set<int>{16, 32, 48}));
  for (int size : {16, 24, 32, 48, 256}) {
    EXPECT_EQ(PickedIconSize(module_, group, size, LR_DEFAULTCOLOR), size) << size;
  }
  // The 256-colour images still load as icons.
  EXPECT_EQ(PickedIconSize(module_, group, 32, LR_VGACOLOR), 32);
}

}  // namespace
