// The program's directory through the Win32 seam, under Wine and on Windows alike.

// clang-format off
#include <windows.h>
#include <shlwapi.h>
// clang-format on

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/ProgramDirectory.h"
#include "support/Narrow.h"

namespace {

TEST(Win32PathTest, ProgramDirectoryHoldsThisProgram) {
  const std::u16string directory = GetProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_NE(directory.back(), u'\\');
  const std::filesystem::path path(std::wstring(directory.begin(), directory.end()));
  EXPECT_TRUE(std::filesystem::exists(path / "win32_path_tests.exe"));
}

// The program's own rule for the directory of a path, against the shell's, which only this test
// links: drives, roots, UNC paths and the \\?\ and \\.\ forms.
TEST(Win32PathTest, RemoveFileSpecAgreesWithTheShell) {
  // clang-format off
  const std::u16string paths[] = {
      u"C:\\dir\\ZOLTMgr.exe", u"C:\\ZOLTMgr.exe", u"C:\\", u"C:", u"C:file", u"C:dir\\file",
      u"C:\\a\\b\\c", u"C:\\dir\\", u"C:\\dir\\\\file", u"dir\\file", u"file", u"", u"\\", u"\\file",
      u"x\\\\", u"\\\\server\\share\\dir\\file", u"\\\\server\\share\\file", u"\\\\server\\share\\",
      u"\\\\server\\share", u"\\\\server", u"\\\\", u"\\\\?\\C:\\dir\\file", u"\\\\?\\C:\\file",
      u"\\\\?\\C:\\", u"\\\\?\\C:", u"\\\\?\\", u"\\\\?\\UNC\\server\\share\\file",
      u"\\\\?\\UNC\\server\\share", u"\\\\?\\UNC\\server", u"\\\\?\\Volume{x}\\file", u"\\\\.\\C:\\x",
      u"C::x", u"C:\\\\x"};
  // clang-format on
  for (const std::u16string& path : paths) {
    std::u16string ours = path;
    std::wstring theirs(path.begin(), path.end());
    const bool removed = RemoveFileSpec(ours);
    EXPECT_EQ(removed, PathRemoveFileSpecW(theirs.data()) != FALSE) << Narrow(path);
    EXPECT_EQ(std::wstring(ours.begin(), ours.end()), std::wstring(theirs.c_str()));
  }
}

}  // namespace
