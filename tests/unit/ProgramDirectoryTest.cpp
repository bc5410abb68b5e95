#include "app/ProgramDirectory.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/CaseName.h"
#include "unit/SimTest.h"

namespace {

struct DirectoryCase {
  const char* name;
  std::string module;                     // the path that GetModuleFileNameW gives
  std::optional<std::string> longModule;  // its long form, when it has one of its own
  std::vector<sim::Fault> faults;
  std::u16string directory;  // empty: none can be had
  int longPathCalls;         // 0 when the module's path already failed
};

const std::string kFull(4095, 'x');  // the most that fits the 4096 characters, terminator included

const DirectoryCase kDirectoryCases[] = {
    {"Usual", "/opt/zolt/ZOLTMgr", "/opt/zolt/ZOLTMgr", {}, u"/opt/zolt", 1},
    {"Root", "/ZOLTMgr", "/ZOLTMgr", {}, u"/", 1},
    {"LongForm",
     "/opt/ZOLTMG~1/ZOLTMgr",
     "/opt/ZOLTMgr Tools/ZOLTMgr",
     {},
     u"/opt/ZOLTMgr Tools",
     1},
    {"ModulePathFillsTheRoom", "/" + kFull.substr(1), "/a/ZOLTMgr", {}, u"/a", 1},
    {"ModulePathCutShort", "/" + kFull, {}, {}, u"", 0},
    {"ModulePathFails", "/a/ZOLTMgr", {}, {{"GetModuleFileNameW", {}, 5, 0}}, u"", 0},
    {"LongFormFails", "/a/ZOLTMgr", "/a/ZOLTMgr", {{"GetLongPathNameW", {}, 5, 0}}, u"", 1},
    {"LongFormFillsTheRoom", "/a/ZOLTMgr", "/" + kFull.substr(1), {}, u"/", 1},
    {"LongFormNeedsMoreRoom", "/a/ZOLTMgr", "/" + kFull, {}, u"", 1},
    {"NothingToRemove", "/", "/", {}, u"", 1},
};

class ProgramDirectoryTest : public SimTest, public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(ProgramDirectoryTest, IsTheExecutablesFolder) {
  const DirectoryCase& c = GetParam();
  machine().moduleFileName = c.module;
  machine().longModuleFileName = c.longModule;
  machine().faults = c.faults;
  EXPECT_EQ(GetProgramDirectory(), c.directory);
  EXPECT_EQ(machine().CallCount("GetLongPathNameW"), c.longPathCalls);
}

INSTANTIATE_TEST_SUITE_P(Paths, ProgramDirectoryTest, ::testing::ValuesIn(kDirectoryCases),
                         CaseName());

}  // namespace
