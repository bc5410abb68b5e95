// The built program as a process: what it prints, byte for byte, and its exit code, for every
// command line that ends before an operation starts.

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace {

const std::string kUsage =
    "\nZOLTMgr.exe Command Line Options:\n"
    "\t-export export ZOLT volume settings to file\n"
    "\t-import import ZOLT volume settings from file\n"
    "\nExamples:\n"
    "\tZOLTMgr.exe -export C: zolt_volume_c.dat\n"
    "\tZOLTMgr.exe -import C: zolt_volume_c.dat\n";

struct Case {
  const char* name;
  std::vector<std::u16string> arguments;
  std::string output;  // with "\n" as the line feed that the program prints
  int exitCode;
};

const Case kCases[] = {
    {"Nothing", {}, kUsage, 1},
    {"UnknownOption", {u"/export", u"C:", u"a.dat"}, kUsage, 1},
    {"Help", {u"-help"}, kUsage, 0},
    {"NearMissWithArguments", {u"-exports", u"C:", u"a.dat", u"more"}, kUsage, 1},
    {"WrongCount", {u"-export", u"C:"}, "Syntax failure - Invalid arguments\n" + kUsage, 1},
    {"WrongCountBadDrive",
     {u"-IMPORT", u"C", u"a.dat", u"b"},
     "Syntax failure - Invalid arguments\n" + kUsage,
     1},
    {"BadDrive",
     {u"-Export", u"C:\\", u"a.dat"},
     "Syntax failure - Invalid volume argument. Must be <X>:\n" + kUsage,
     1},
    {"EmptyDrive",
     {u"-import", u"", u"a.dat"},
     "Syntax failure - Invalid volume argument. Must be <X>:\n" + kUsage,
     1},
    // The file name reaches the message exactly as typed: no wildcard expansion, no path.
    {"ImportOfMissingFile",
     {u"-iMPORT", u"c:", u"no such *.dat"},
     "Open imported volume settings no such *.dat file fail!\n",
     1},
    // Into a file, a character above U+00FF is a "?" and the line goes on to its end.
    {"WideFileName",
     {u"-import", u"C:", u"\u8a2d\U0001F4BE%s%d.dat"},
     "Open imported volume settings ??%s%d.dat file fail!\n",
     1},
};

class CommandLineBlackBoxTest : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineBlackBoxTest, PrintsAndExits) {
  const Case& c = GetParam();
  TempDir directory;
  const ProcessResult result = RunProcess(CopyProgramTo(directory.path()), c.arguments);
  EXPECT_EQ(result.output, WithNewlines(c.output));
  EXPECT_EQ(result.exitCode, c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandLineBlackBoxTest, ::testing::ValuesIn(kCases), CaseName());

}  // namespace
