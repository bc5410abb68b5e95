#include "volume/VolumeDevice.h"

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/Unique.h"
#include "unit/SimTest.h"

namespace {

using namespace platform;

constexpr std::uint32_t kDeviceShare = kFileShareRead | kFileShareWrite | kFileShareDelete;

// The paths that CreateFileW was asked to open, in order.
std::vector<std::u16string> Opened() {
  std::vector<std::u16string> paths;
  for (const sim::CallRecord& call : sim::TheMachine().calls) {
    if (call.call == "CreateFileW") paths.push_back(call.subject);
  }
  return paths;
}

struct PathCase {
  const char* name;
  std::u16string argument;
  Status status;
  std::u16string opened;  // empty: nothing was opened
};

const PathCase kPathCases[] = {
    {"DriveGetsPrefix", u"C:", 0, u"\\\\.\\C:"},
    {"LowerCaseDrive", u"c:", 0, u"\\\\.\\c:"},
    {"TrailingBackslashDropped", u"C:\\", 0, u"\\\\.\\C:"},
    {"DevicePathAsIs", u"\\\\.\\C:", 0, u"\\\\.\\C:"},
    {"OnlyOneBackslashDropped", u"\\\\.\\C:\\\\", kErrorFileNotFound, u"\\\\.\\C:\\"},
    {"UnknownDrive", u"Q:", kErrorFileNotFound, u"\\\\.\\Q:"},
    {"Longest", u"\\\\.\\" + std::u16string(255, u'x'), kErrorFileNotFound,
     u"\\\\.\\" + std::u16string(255, u'x')},
    {"LongestTrailing", u"\\\\.\\" + std::u16string(254, u'x') + u"\\", kErrorFileNotFound,
     u"\\\\.\\" + std::u16string(254, u'x')},
    {"TooLong", u"\\\\.\\" + std::u16string(256, u'x'), kErrorInsufficientBuffer, u""},
    {"LongestDrive", std::u16string(254, u'x') + u":", kErrorFileNotFound,
     u"\\\\.\\" + std::u16string(254, u'x') + u":"},
    {"TooLongWithPrefix", std::u16string(255, u'x') + u":", kErrorInsufficientBuffer, u""},
};

class OpenVolumeDeviceTest : public SimTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(OpenVolumeDeviceTest, FormsThePath) {
  const PathCase& c = GetParam();
  machine().drives = {sim::Drive{u"C:", 1, 0, 0}};
  UniqueHandle device;
  EXPECT_EQ(OpenVolumeDevice(c.argument.c_str(), device.put()), c.status);
  EXPECT_EQ(static_cast<bool>(device), c.status == 0);
  if (c.opened.empty()) {
    EXPECT_TRUE(Opened().empty());
  } else {
    ASSERT_EQ(Opened(), std::vector<std::u16string>{c.opened});
    const std::vector<std::uint32_t> arguments{0, kDeviceShare, kOpenExisting,
                                               kFileFlagBackupSemantics};
    EXPECT_EQ(machine().calls.front().arguments, arguments);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, OpenVolumeDeviceTest, ::testing::ValuesIn(kPathCases), CaseName());

struct LookupCase {
  const char* name;
  std::vector<sim::VolumeInterface> interfaces;
  std::vector<sim::Fault> faults;
  std::u16string drive;
  Status status;
  std::u16string instanceId;                   // on success
  std::vector<std::u16string> opened;          // the interfaces opened, after the drive
  std::optional<std::u16string> driveManager;  // C:'s own volume manager name
};

sim::VolumeInterface Failing(sim::VolumeInterface volume, Status open, Status query) {
  volume.openError = open;
  volume.queryError = query;
  return volume;
}

sim::VolumeInterface Managed(sim::VolumeInterface volume, std::u16string manager) {
  volume.volumeManagerName = std::move(manager);
  return volume;
}

const sim::VolumeInterface kA = Volume(u"A", 3);
const sim::VolumeInterface kC = Volume(u"C", 1);
const sim::VolumeInterface kD = Volume(u"D", 2);
const sim::VolumeInterface kLongPath{
    u"\\" + std::u16string(260, u'L'), u"STORAGE\\VOLUME\\L", 1, u"VOLMGR", 0, 0};

const LookupCase kLookupCases[] = {
    {"FirstInterfaceMatches", {kC, kA}, {}, u"C:", 0, u"STORAGE\\VOLUME\\C", {kC.devicePath}},
    {"LaterInterfaceMatches",
     {kA, kD, kC},
     {},
     u"C:",
     0,
     u"STORAGE\\VOLUME\\C",
     {kA.devicePath, kD.devicePath, kC.devicePath}},
    {"FailingOpenThenMatch",
     {Failing(kA, 5, 0), kC},
     {},
     u"C:",
     0,
     u"STORAGE\\VOLUME\\C",
     {kA.devicePath, kC.devicePath}},
    {"FailingQueryThenMatch",
     {Failing(kA, 0, 50), kC},
     {},
     u"C:",
     0,
     u"STORAGE\\VOLUME\\C",
     {kA.devicePath, kC.devicePath}},
    {"TooLongPathThenMatch", {kLongPath, kC}, {}, u"C:", 0, u"STORAGE\\VOLUME\\C", {kC.devicePath}},
    {"FirstOfTwoSameNumbersWins",
     {kC, Managed(Volume(u"C2", 1), u"OTHER")},
     {},
     u"C:",
     0,
     u"STORAGE\\VOLUME\\C",
     {kC.devicePath}},
    {"DriveAnswersItsInterfacesManager",
     {Managed(kC, u"LDM")},
     {},
     u"C:",
     0,
     u"STORAGE\\VOLUME\\C",
     {kC.devicePath}},
    // Volume numbers are unique only within one volume manager.
    {"OtherManagersSameNumberPassed",
     {kC, Managed(Volume(u"C2", 1), u"DMIO")},
     {},
     u"C:",
     0,
     u"STORAGE\\VOLUME\\C2",
     {kC.devicePath, Volume(u"C2", 1).devicePath},
     u"DMIO"},
    {"OnlyOtherManagersSameNumber",
     {Managed(kC, u"volmgr")},
     {},
     u"C:",
     kErrorFileNotFound,
     u"",
     {kC.devicePath},
     u"VOLMGR"},
    {"NoInterfaces", {}, {}, u"C:", kErrorFileNotFound, u"", {}},
    {"NoMatchLastOtherNumber",
     {Failing(kA, 5, 0), kD},
     {},
     u"C:",
     kErrorFileNotFound,
     u"",
     {kA.devicePath, kD.devicePath}},
    {"NoMatchLastFailedOpen",
     {kD, Failing(kA, 21, 0)},
     {},
     u"C:",
     21,
     u"",
     {kD.devicePath, kA.devicePath}},
    {"NoMatchLastFailedQuery",
     {kD, Failing(kA, 0, 1)},
     {},
     u"C:",
     1,
     u"",
     {kD.devicePath, kA.devicePath}},
    {"NoMatchLastTooLong",
     {kD, kLongPath},
     {},
     u"C:",
     kErrorInsufficientBuffer,
     u"",
     {kD.devicePath}},
    {"UnknownDrive", {kC}, {}, u"Q:", kErrorFileNotFound, u"", {}},
    {"DriveOpenFails", {kC}, {{"CreateFileW", u"\\\\.\\C:", 5, 0}}, u"C:", 5, u"", {}},
    {"DriveQueryFails", {kC}, {{"DeviceIoControl", u"\\\\.\\C:", 50, 0}}, u"C:", 50, u"", {}},
    {"SetCannotBeMade", {kC}, {{"SetupDiGetClassDevsW", {}, 8, 0}}, u"C:", 8, u"", {}},
    {"EnumerationFailsAtOnce",
     {kC},
     {{"SetupDiEnumDeviceInterfaces", {}, 1784, 0}},
     u"C:",
     kErrorFileNotFound,
     u"",
     {}},
    {"EnumerationFailsAfterFailedCandidate",
     {Failing(kA, 21, 0), kC},
     {{"SetupDiEnumDeviceInterfaces", {}, 5, 1}},
     u"C:",
     21,
     u"",
     {kA.devicePath}},
    {"DetailSizeQueryFails",
     {kA, kC},
     {{"SetupDiGetDeviceInterfaceDetailW", {}, 5, 0}},
     u"C:",
     5,
     u"",
     {}},
    // Ends the search at once, although the next candidate would have answered.
    {"DetailSizeQueryFailsOnce",
     {kA, kC},
     {{"SetupDiGetDeviceInterfaceDetailW", {}, 5, 0, 1}},
     u"C:",
     5,
     u"",
     {}},
    {"DetailBufferNotAllocated",
     {kA, kC},
     {{"HeapAlloc", {}, 14, 0}},
     u"C:",
     kErrorOutOfMemory,
     u"",
     {}},
    {"DetailFillFails",
     {kA, kC},
     {{"SetupDiGetDeviceInterfaceDetailW", {}, 31, 1}},
     u"C:",
     31,
     u"",
     {}},
    {"SecondDetailFillFails",
     {kA, kC},
     {{"SetupDiGetDeviceInterfaceDetailW", kC.devicePath, 31, 1}},
     u"C:",
     31,
     u"",
     {kA.devicePath}},
    {"IdSizeQueryFails",
     {kC},
     {{"SetupDiGetDeviceInstanceIdW", {}, 13, 0}},
     u"C:",
     13,
     u"",
     {kC.devicePath}},
    {"IdBufferNotAllocated",
     {kC},
     {{"HeapAlloc", {}, 14, 1}},
     u"C:",
     kErrorOutOfMemory,
     u"",
     {kC.devicePath}},
    {"IdFillFails",
     {kC},
     {{"SetupDiGetDeviceInstanceIdW", {}, 31, 1}},
     u"C:",
     31,
     u"",
     {kC.devicePath}},
};

class FindVolumeInstanceIdTest : public SimTest,
                                 public ::testing::WithParamInterface<LookupCase> {};

TEST_P(FindVolumeInstanceIdTest, Searches) {
  const LookupCase& c = GetParam();
  machine().drives = {sim::Drive{u"C:", 1, 0, 0, c.driveManager}, sim::Drive{u"D:", 2, 0, 0}};
  machine().volumeInterfaces = c.interfaces;
  machine().faults = c.faults;

  char16_t untouched = 0;
  char16_t* id = &untouched;
  EXPECT_EQ(FindVolumeInstanceId(c.drive.c_str(), &id), c.status);

  std::vector<std::u16string> opened = Opened();
  if (!opened.empty()) opened.erase(opened.begin());  // the drive
  EXPECT_EQ(opened, c.opened);
  // At most one device handle at a time: each is closed before the next open.
  EXPECT_LE(machine().peakHandles, 1);

  if (c.status == kErrorSuccess) {
    ASSERT_NE(id, &untouched);
    EXPECT_EQ(std::u16string(id), c.instanceId);
    // The ID is the one block left, and the caller's to free.
    EXPECT_EQ(machine().Open(), (sim::OpenCounts{0, 0, 0, 1}));
    HeapFree(GetProcessHeap(), 0, id);
  } else {
    EXPECT_EQ(id, &untouched);
  }
}

INSTANTIATE_TEST_SUITE_P(Searches, FindVolumeInstanceIdTest, ::testing::ValuesIn(kLookupCases),
                         CaseName());

TEST_F(SimTest, DriveFailureEndsTheLookupBeforeEnumerating) {
  machine().drives = {sim::Drive{u"C:", 1, 0, 50}};
  machine().volumeInterfaces = {Volume(u"C", 1)};
  char16_t* id = nullptr;
  EXPECT_EQ(FindVolumeInstanceId(u"C:", &id), kErrorNotSupported);
  EXPECT_EQ(id, nullptr);
  EXPECT_EQ(machine().CallCount("SetupDiGetClassDevsW"), 0);
  EXPECT_EQ(machine().CallCount("CloseHandle"), 1);
}

TEST_F(SimTest, LookupHandsTheRecordSizesOfThe64BitPlatform) {
  // The simulated setupapi refuses records whose cbSize is not 32, 32 and 8, as Windows does;
  // a successful lookup shows that each was set before its call.
  machine().drives = {sim::Drive{u"C:", 1, 0, 0}};
  machine().volumeInterfaces = {Volume(u"A", 3), Volume(u"C", 1)};
  UniqueHeapBlock<char16_t> id;
  ASSERT_EQ(FindVolumeInstanceId(u"C:", id.put()), kErrorSuccess);
  EXPECT_EQ(std::u16string(id.get()), u"STORAGE\\VOLUME\\C");
  EXPECT_EQ(machine().CallCount("SetupDiGetClassDevsW"), 1);
  const auto set = std::find_if(machine().calls.begin(), machine().calls.end(),
                                [](const auto& r) { return r.call == "SetupDiGetClassDevsW"; });
  EXPECT_EQ(set->arguments, std::vector<std::uint32_t>{kDigcfPresent | kDigcfDeviceInterface});
  EXPECT_EQ(machine().CallCount("SetupDiDestroyDeviceInfoList"), 1);
}

}  // namespace
