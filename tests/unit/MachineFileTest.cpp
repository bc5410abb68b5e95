#include "platform/sim/MachineFile.h"

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <string>

#include "platform/sim/Text.h"
#include "unit/SimTest.h"

namespace {

TEST(MachineFileTest, DefaultMachineSavesAndLoadsBack) {
  const sim::Machine original = sim::DefaultMachine();
  sim::Machine loaded;
  ASSERT_EQ(sim::LoadMachine(sim::SaveMachine(original), loaded), std::nullopt);
  EXPECT_TRUE(loaded.SameConfiguration(original));
  EXPECT_EQ(sim::SaveMachine(loaded), sim::SaveMachine(original));
}

TEST(MachineFileTest, ReadsEveryPart) {
  const char* text = R"({
    "windows": "10-1607", "fileSystem": "ReFS", "longPaths": true,
    "drives": [ { "name": "C:", "volumeNumber": 1, "volumeManagerName": "LDM", "queryError": 50 } ],
    "volumeInterfaces": [ { "devicePath": "\\\\?\\STORAGE#Volume#x#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}",
                            "instanceId": "STORAGE\\VOLUME\\x", "volumeNumber": 1,
                            "volumeManagerName": "VOLMGR", "openError": 5 } ],
    "registry": { "System\\CurrentControlSet\\Services\\KvVolRedir\\Parameters\\x":
                  { "Protected": { "type": "REG_DWORD", "data": "0100ABcd" },
                    "Odd": { "type": 4660, "data": "" } },
                  "Software\\Empty": {} },
    "faults": [ { "call": "RegSetValueExW", "name": "YellowLevel", "status": 5 },
                { "call": "WriteFile", "status": 0, "skip": 2, "count": 1, "bytes": 10 },
                { "call": "SetFileInformationByHandle", "status": 64, "after": true } ]
  })";
  sim::Machine machine;
  ASSERT_EQ(sim::LoadMachine(text, machine), std::nullopt);
  EXPECT_EQ(machine.windows, sim::Windows::k10_1607);
  EXPECT_EQ(machine.fileSystem, sim::FileSystem::kReFs);
  EXPECT_TRUE(machine.longPaths);
  ASSERT_EQ(machine.drives.size(), 1u);
  EXPECT_EQ(machine.drives[0].queryError, 50u);
  EXPECT_EQ(machine.drives[0].volumeManagerName, u"LDM");
  ASSERT_EQ(machine.volumeInterfaces.size(), 1u);
  EXPECT_EQ(machine.volumeInterfaces[0].instanceId, u"STORAGE\\VOLUME\\x");
  EXPECT_EQ(machine.volumeInterfaces[0].openError, 5u);
  const sim::RegistryValue* value = machine.registry.FindValue(
      u"system\\currentcontrolset\\services\\kvvolredir\\parameters\\X", u"PROTECTED");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type, platform::kRegDword);
  EXPECT_EQ(value->data, Bytes({0x01, 0x00, 0xAB, 0xCD}));
  EXPECT_EQ(machine.registry.FindValue(SettingsKey(u"x"), u"Odd")->type, 4660u);
  EXPECT_NE(machine.registry.FindKey(u"Software\\Empty"), nullptr);
  EXPECT_NE(machine.registry.FindKey(u"System\\CurrentControlSet"), nullptr);
  ASSERT_EQ(machine.faults.size(), 3u);
  EXPECT_TRUE(machine.faults[2].after);
  EXPECT_EQ(machine.faults[0].name, u"YellowLevel");
  EXPECT_EQ(machine.faults[1], (sim::Fault{"WriteFile", {}, 0, 2, 1, 10}));

  const std::string saved = sim::SaveMachine(machine);
  EXPECT_NE(saved.find(R"("data":"0100abcd")"), std::string::npos);
  EXPECT_NE(saved.find(R"("type":4660)"), std::string::npos);
  sim::Machine again;
  ASSERT_EQ(sim::LoadMachine(saved, again), std::nullopt);
  EXPECT_TRUE(again.SameConfiguration(machine));
}

struct BadCase {
  const char* name;
  const char* text;
  const char* problem;  // a part of the message
};

const BadCase kBadCases[] = {
    {"NotJson", "{ drives", "not JSON"},
    {"NotAnObject", "[]", "must be an object"},
    {"UnknownMember", R"({"disks": []})", "unknown member \"disks\""},
    {"UnknownWindows", R"({"windows": "10"})", "windows: must be"},
    {"ReFsOnWindows7", R"({"windows": "7", "fileSystem": "ReFS"})",
     "not one that this Windows has"},
    {"LongPathsOnWindows10Before1607", R"({"windows": "10-1511", "longPaths": true})",
     "came with Windows 10 1607"},
    {"DrivesNotArray", R"({"drives": {}})", "drives: must be an array"},
    {"DriveWithoutNumber", R"({"drives": [{"name": "C:"}]})", "drives[0]: lacks \"volumeNumber\""},
    {"NegativeNumber", R"({"drives": [{"name": "C:", "volumeNumber": -1}]})", "whole number"},
    {"HugeNumber", R"({"drives": [{"name": "C:", "volumeNumber": 4294967296}]})", "whole number"},
    {"DriveTwice",
     R"({"drives": [{"name": "C:", "volumeNumber": 1}, {"name": "c:", "volumeNumber": 2}]})",
     "names a drive twice"},
    {"DevicePathShape",
     R"({"volumeInterfaces": [{"devicePath": "x", "instanceId": "y", "volumeNumber": 1}]})",
     "must begin with"},
    {"ManagerNameLong",
     R"({"volumeInterfaces": [{"devicePath": "\\\\?\\x", "instanceId": "y", "volumeNumber": 1, "volumeManagerName": "123456789"}]})",
     "more than 8"},
    {"UnknownType", R"({"registry": {"A": {"V": {"type": "REG_WORD", "data": ""}}}})",
     "unknown registry type"},
    {"OddHex", R"({"registry": {"A": {"V": {"type": "REG_BINARY", "data": "abc"}}}})",
     "odd number"},
    {"NotHex", R"({"registry": {"A": {"V": {"type": "REG_BINARY", "data": "zz"}}}})",
     "hexadecimal"},
    {"BadKeyPath", R"({"registry": {"A\\\\B": {}}})", "is not a key path"},
    {"KeyTwice", R"({"registry": {"A\\B": {}, "a\\b": {}}})", "names a key twice"},
    {"ValueTwice",
     R"({"registry": {"A": {"V": {"type": 1, "data": ""}, "v": {"type": 1, "data": ""}}}})",
     "names a value twice"},
    {"UnknownCall", R"({"faults": [{"call": "RegOpenKeyExW", "status": 5}]})", "must name a call"},
    {"FaultWithoutStatus", R"({"faults": [{"call": "ReadFile"}]})", "lacks \"status\""},
    {"BytesOfNoTransfer", R"({"faults": [{"call": "CloseHandle", "status": 0, "bytes": 1}]})",
     "applies only to"},
    {"AfterOfAnotherCall", R"({"faults": [{"call": "WriteFile", "status": 5, "after": true}]})",
     "applies only to SetFileInformationByHandle"},
};

class MachineFileErrorTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(MachineFileErrorTest, RefusesWithTheProblem) {
  const BadCase& c = GetParam();
  sim::Machine machine = sim::DefaultMachine();
  const auto problem = sim::LoadMachine(c.text, machine);
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
  // A refused file changes nothing.
  EXPECT_TRUE(machine.SameConfiguration(sim::DefaultMachine()));
}

INSTANTIATE_TEST_SUITE_P(Files, MachineFileErrorTest, ::testing::ValuesIn(kBadCases), CaseName());

}  // namespace

namespace {

TEST(MachineFileTest, KeysBelowOneParentShareItsName) {
  // A key's name keeps the case it was created with; keys created below it later, through a path
  // that spells it otherwise, are still below that one key.
  const char* text = R"({"registry": {
    "Software\\Services\\B": {"V": {"type": 4, "data": "01000000"}},
    "SOFTWARE\\SerVices\\A": {"V": {"type": 4, "data": "02000000"}}}})";
  sim::Machine machine;
  ASSERT_EQ(sim::LoadMachine(text, machine), std::nullopt);
  EXPECT_EQ(machine.registry.FindKey(u"software\\services\\a")->path, u"Software\\Services\\A");
  sim::Machine again;
  ASSERT_EQ(sim::LoadMachine(sim::SaveMachine(machine), again), std::nullopt);
  EXPECT_TRUE(again.SameConfiguration(machine));
}

}  // namespace
