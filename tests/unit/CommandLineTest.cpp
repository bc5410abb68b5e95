#include "app/CommandLine.h"
#include "support/Usage.h"

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <optional>
#include <string>
#include <vector>

#include "unit/SimTest.h"

namespace {

const std::u16string& kUsage = kUsageText;
const std::u16string kInvalidArguments = u"Syntax failure - Invalid arguments\n" + kUsage;
const std::u16string kInvalidVolume =
    u"Syntax failure - Invalid volume argument. Must be <X>:\n" + kUsage;

struct Case {
  const char* name;
  std::vector<std::u16string> arguments;  // after the program's name
  std::u16string printed;                 // for command lines that end before an operation
  int exitCode;
  std::optional<Command> command;  // for valid command lines
};

const Case kCases[] = {
    {"Nothing", {}, kUsage, 1, {}},
    {"UnknownSlashOption", {u"/export", u"C:", u"a.dat"}, kUsage, 1, {}},
    {"NoDash", {u"export"}, kUsage, 0, {}},
    {"Abbreviated", {u"-exp", u"C:", u"a.dat"}, kUsage, 1, {}},
    {"Longer", {u"-exports", u"C:", u"a.dat"}, kUsage, 1, {}},
    {"Help", {u"-help"}, kUsage, 0, {}},
    {"UnknownWithManyArguments", {u"-help", u"a", u"b", u"c", u"d"}, kUsage, 1, {}},
    {"UnknownWithOneMore", {u"/?", u"C:"}, kUsage, 1, {}},
    {"EmptyFirst", {u""}, kUsage, 0, {}},
    // Only A to Z fold: a Kelvin sign or a dotless i is no letter of an option.
    {"NonAsciiFold", {u"-\u0131mport", u"C:", u"a.dat"}, kUsage, 1, {}},
    {"FullWidth", {u"\uFF0Dexport", u"C:", u"a.dat"}, kUsage, 1, {}},
    {"ExportAlone", {u"-export"}, kInvalidArguments, 1, {}},
    {"ExportTwo", {u"-export", u"C:"}, kInvalidArguments, 1, {}},
    {"ImportFour", {u"-import", u"C:", u"a.dat", u"b"}, kInvalidArguments, 1, {}},
    {"CountBeforeDrive", {u"-export", u"C"}, kInvalidArguments, 1, {}},
    {"CountBeforeDriveFour", {u"-import", u"C", u"a.dat", u"b"}, kInvalidArguments, 1, {}},
    {"DriveWithoutColon", {u"-export", u"C", u"a.dat"}, kInvalidVolume, 1, {}},
    {"DriveWithBackslash", {u"-import", u"C:\\", u"a.dat"}, kInvalidVolume, 1, {}},
    {"EmptyDrive", {u"-export", u"", u"a.dat"}, kInvalidVolume, 1, {}},
    {"FullWidthColon", {u"-export", u"C\uFF1A", u"a.dat"}, kInvalidVolume, 1, {}},
    {"Export", {u"-export", u"C:", u"a.dat"}, u"", 0, Command{Operation::Export, u"C:", u"a.dat"}},
    {"ImportUpper",
     {u"-IMPORT", u"C:", u"a.dat"},
     u"",
     0,
     Command{Operation::Import, u"C:", u"a.dat"}},
    {"ExportUpper", {u"-EXPORT", u"D:", u"b"}, u"", 0, Command{Operation::Export, u"D:", u"b"}},
    {"ExportCapital", {u"-Export", u"C:", u"x"}, u"", 0, Command{Operation::Export, u"C:", u"x"}},
    {"ExportMixed", {u"-eXpOrT", u"C:", u"x"}, u"", 0, Command{Operation::Export, u"C:", u"x"}},
    {"LowerDriveAsTyped",
     {u"-import", u"c:", u"Zolt.DAT"},
     u"",
     0,
     Command{Operation::Import, u"c:", u"Zolt.DAT"}},
    {"TwoLetterDrive",
     {u"-export", u"XY:", u"a.dat"},
     u"",
     0,
     Command{Operation::Export, u"XY:", u"a.dat"}},
    {"LoneColon", {u"-export", u":", u"a.dat"}, u"", 0, Command{Operation::Export, u":", u"a.dat"}},
    {"EmptyFileName", {u"-import", u"C:", u""}, u"", 0, Command{Operation::Import, u"C:", u""}},
    {"FileNameUntouched",
     {u"-export", u"C:", u" ..\\x y.dat "},
     u"",
     0,
     Command{Operation::Export, u"C:", u" ..\\x y.dat "}},
};

class CommandLineTest : public SimTest, public ::testing::WithParamInterface<Case> {};

TEST_P(CommandLineTest, ChecksInTheirOrder) {
  const Case& c = GetParam();
  std::vector<std::u16string> arguments{u"ZOLTMgr.exe"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());

  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  EXPECT_EQ(machine().console, c.printed);
  ASSERT_EQ(parsed.command.has_value(), c.command.has_value());
  if (c.command) {
    EXPECT_EQ(parsed.command->operation, c.command->operation);
    EXPECT_EQ(parsed.command->volume, c.command->volume);
    EXPECT_EQ(parsed.command->file, c.command->file);
  } else {
    EXPECT_EQ(parsed.exitCode, c.exitCode);
    // Nothing but printing happens before an operation starts.
    for (const sim::CallRecord& call : machine().calls) {
      EXPECT_TRUE(call.call == "wprintf" || call.call.starts_with("Get")) << call.call;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandLineTest, ::testing::ValuesIn(kCases), CaseName());

// A valid command reaches its operation, whose line and exit code become the program's. On a
// machine without volumes the export fails reading the registry and the import opening its file.
TEST_F(SimTest, ValidCommandRunsItsOperation) {
  const std::vector<std::u16string> exportCommand{u"ZOLTMgr.exe", u"-Export", u"C:", u"a.dat"};
  EXPECT_EQ(RunZOLTMgr(exportCommand), 1);
  // Before anything else, no DLL may come from the program's folder any more.
  ASSERT_GE(machine().calls.size(), 3u);
  EXPECT_EQ(machine().calls[2].call, "SetDefaultDllDirectories");
  EXPECT_EQ(machine().calls[2].arguments, std::vector<std::uint32_t>{0x800});
  EXPECT_EQ(machine().console, u"Get volume settings fail!\n");
  EXPECT_EQ(machine().CallCount("CreateFileW", u"\\\\.\\C:"), 1);

  machine().console.clear();
  const std::vector<std::u16string> importCommand{u"ZOLTMgr.exe", u"-import", u"C:", u"a.dat"};
  // A Windows without SetDefaultDllDirectories runs the program all the same.
  machine().faults = {{"GetProcAddress", u"SetDefaultDllDirectories", 127}};
  EXPECT_EQ(RunZOLTMgr(importCommand), 1);
  EXPECT_EQ(machine().console, u"Open imported volume settings a.dat file fail!\n");
  EXPECT_EQ(machine().CallCount("SetDefaultDllDirectories"), 1);
}

TEST_F(SimTest, SyntaxFailureRunsNoOperation) {
  const std::vector<std::u16string> arguments{u"ZOLTMgr.exe", u"-import", u"C", u"a.dat"};
  EXPECT_EQ(RunZOLTMgr(arguments), 1);
  EXPECT_EQ(machine().console, kInvalidVolume);
  EXPECT_EQ(machine().CallCount("CreateFileW"), 0);
}

}  // namespace
