// The shipped ZOLTMgr.exe under Wine, in a program directory of its own: its resources, the
// settings file steps that Wine can show, and how far an operation on C: gets before Wine's
// devices stop it.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/CaseName.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

const wchar_t kServiceKey[] = L"System\\CurrentControlSet\\Services\\KvVolRedir";

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class WineExeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CopyProgramTo(dir_.path());
    // Wine's devices never let the store get as far as its key.
    ASSERT_FALSE(KeyExists(kServiceKey));
  }
  void TearDown() override { EXPECT_FALSE(KeyExists(kServiceKey)); }

  ProcessResult Run(std::vector<std::u16string> arguments) const {
    return RunProcess(program_, arguments);
  }
  std::filesystem::path File(const char* name) const { return dir_.path() / name; }

  TempDir dir_;
  std::filesystem::path program_;
};

const std::vector<std::uint8_t> kList = {0x41, 0, 0, 0, 0x42, 0, 0x43, 0, 0, 0, 0, 0};

struct FileCase {
  const char* name;
  std::vector<std::uint8_t> file;
  int exitCode;
  const char* output;
};

const FileCase kFileCases[] = {
    {"TooShortForTheHead", std::vector<std::uint8_t>(55, 1), 2,
     "Read imported volume settings in.dat fail!\r\n"},
    {"TooShortForTheList", SettingsFile(1, 2, 3, 4, 5, 12, std::vector<std::uint8_t>(11, 0x41)), 3,
     "Read imported volume settings in.dat fail!\r\n"},
    {"ClaimsFourGiB", SettingsFile(1, 2, 3, 4, 5, 0xFFFFFFFF, {}), 3,
     "Read imported volume settings in.dat fail!\r\n"},
    // Read completely, then refused by the volume lookup: Wine's C: does not answer the
    // volume-number query (error 50), so SetSettings fails at its first value.
    {"CompleteFileOnC", SettingsFile(1, 2, 3, 4, 5, 12, kList), 4,
     "Import volume settings in.dat fail!\r\n"},
};

class WineImportTest : public WineExeTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(WineImportTest, EndsAtItsStep) {
  const FileCase& c = GetParam();
  WriteBytes(File("in.dat"), c.file);
  const ProcessResult result = Run({u"-import", u"C:", u"in.dat"});
  EXPECT_EQ(result.output, c.output);
  EXPECT_EQ(result.exitCode, c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Files, WineImportTest, ::testing::ValuesIn(kFileCases), CaseName());

TEST_F(WineExeTest, ImportOfAMissingFile) {
  const ProcessResult result = Run({u"-import", u"C:", u"missing.dat"});
  EXPECT_EQ(result.output, "Open imported volume settings missing.dat file fail!\r\n");
  EXPECT_EQ(result.exitCode, 1);
}

TEST_F(WineExeTest, ExportOfCEndsAtTheLookupAndLeavesNoFile) {
  const ProcessResult result = Run({u"-export", u"C:", u"c.dat"});
  EXPECT_EQ(result.output, "Get volume settings fail!\r\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(File("c.dat")));
}

TEST_F(WineExeTest, FileHeldOpenForWritingCannotBeImported) {
  WriteBytes(File("held.dat"), SettingsFile(1, 2, 3, 4, 5, 0, {}));
  const HANDLE writer =
      CreateFileW(File("held.dat").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const ProcessResult held = Run({u"-import", u"C:", u"held.dat"});
  CloseHandle(writer);
  EXPECT_EQ(held.output, "Open imported volume settings held.dat file fail!\r\n");
  EXPECT_EQ(held.exitCode, 1);
  // Without the writer the same file is read and reaches the (failing) lookup.
  EXPECT_EQ(Run({u"-import", u"C:", u"held.dat"}).exitCode, 4);
}

TEST_F(WineExeTest, ManifestIsTheApplicationManifestResource) {
  const HMODULE module = LoadLibraryExW(program_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  const std::string manifest(bytes, SizeofResource(module, found));
  FreeLibrary(module);

  std::ifstream source(HostPath(ZOLT_MANIFEST), std::ios::binary);
  const std::string expected(std::istreambuf_iterator<char>(source), {});
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(manifest, expected);
  EXPECT_NE(
      manifest.find(R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)"),
      std::string::npos);
  EXPECT_NE(manifest.find(R"(>true</dpiAware>)"), std::string::npos);
}

std::wstring VersionString(const std::vector<char>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) return L"";
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST_F(WineExeTest, VersionResourceNamesTheProduct) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(program_.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(program_.c_str(), 0, size, info.data()));
  EXPECT_EQ(VersionString(info, L"ProductName"), L"ZOLTMgr");
  EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"ZOLTMgr.exe");
  // Both versions are the project's own, as CMake gives it.
  EXPECT_EQ(VersionString(info, L"FileVersion"), ZOLT_VERSION_TEXT);
  EXPECT_EQ(VersionString(info, L"ProductVersion"), ZOLT_VERSION_TEXT);
  EXPECT_FALSE(VersionString(info, L"FileDescription").empty());
  EXPECT_EQ(VersionString(info, L"CompanyName"), L"The ZOLTMgr developers");
  EXPECT_EQ(VersionString(info, L"LegalCopyright"), L"Copyright (c) 2026 The ZOLTMgr developers");

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(ZOLT_VERSION_MS));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(ZOLT_VERSION_LS));
  EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(ZOLT_VERSION_MS));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
