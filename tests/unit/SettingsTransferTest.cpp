#include "app/SettingsTransfer.h"

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/Unique.h"
#include "platform/sim/Text.h"
#include "support/Files.h"
#include "unit/SimTest.h"

namespace {

using namespace platform;

const std::u16string kKeyC = SettingsKey(u"{disk}#1");
const std::u16string kKeyD = SettingsKey(u"{disk}#2");
const std::vector<std::uint8_t> kList = Bytes({0x41, 0, 0, 0, 0x42, 0, 0x43, 0, 0, 0, 0, 0});

class TransferTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    machine().drives = {sim::Drive{u"C:", 1, 0, 0}, sim::Drive{u"D:", 2, 0, 0}};
    machine().volumeInterfaces = {Volume(u"{disk}#2", 2), Volume(u"{disk}#1", 1)};
    SetSettingsValues(machine(), kKeyC, 1, 0x0102030405060708, 16, 32, 48, kList);
  }

  std::filesystem::path File(const char* name) const { return programDir() / name; }

  // The index in the call log of the first call that matches.
  // Paths compare in any of the forms that name one file.
  static std::size_t FirstCall(std::string_view call, std::u16string_view subjectStart = u"") {
    const auto& calls = machine().calls;
    return static_cast<std::size_t>(std::find_if(calls.begin(), calls.end(),
                                                 [&](const auto& r) {
                                                   return r.call == call &&
                                                          sim::SubjectOf(r.subject).starts_with(
                                                              sim::SubjectOf(subjectStart));
                                                 }) -
                                    calls.begin());
  }
  std::u16string FilePath(const char* name) const {
    return sim::ToUtf16(programDir().string()) + u"\\" + sim::ToUtf16(name);
  }
};

const std::vector<std::uint8_t> kExported =
    SettingsFile(1, 0x0102030405060708, 16, 32, 48, 12, kList);

TEST_F(TransferTest, ExportWritesHeadAndList) {
  EXPECT_EQ(ExportVolumeSettings(u"C:", u"a.dat"), 0);
  EXPECT_EQ(machine().console, u"Export volume settings to a.dat file success!\n");
  EXPECT_EQ(ReadBytes(File("a.dat")), kExported);
  // The target opened as a direct create would, but left as it is; then a new file beside it,
  // which takes the target's place.
  const std::size_t probe = FirstCall("CreateFileW", FilePath("a.dat"));
  const std::size_t create = FirstCall("CreateFileW", FilePath("ZOLTMgr.~1.tmp"));
  ASSERT_LT(create, machine().calls.size());
  EXPECT_LT(probe, create);
  EXPECT_EQ(machine().calls[probe].arguments,
            (std::vector<std::uint32_t>{kGenericRead | kGenericWrite, kFileShareRead, kOpenExisting,
                                        kFileAttributeNormal | kFileFlagOpenReparsePoint}));
  // The new file is shared with readers alone until it has taken the target's place, and only
  // then closed.
  EXPECT_EQ(
      machine().calls[create].arguments,
      (std::vector<std::uint32_t>{kGenericRead | kGenericWrite | kDelete, kFileShareRead,
                                  kCreateNew, kFileAttributeNormal | kFileFlagOpenReparsePoint}));
  const std::size_t rename = FirstCall("SetFileInformationByHandle", FilePath("a.dat"));
  EXPECT_EQ(machine().calls[rename].arguments[0], kFileRenameInfoEx);
  EXPECT_LT(rename, FirstCall("CloseHandle", FilePath("a.dat")));
  // The registry is read completely, in its turn with other runs, before the file is touched;
  // the turn ends once the file is in place. Only administrators may use the lock at all.
  EXPECT_LT(LastCall("WaitForSingleObject"), FirstCall("RegCreateKeyExW"));
  EXPECT_LT(LastCall("RegQueryValueExW"), probe);
  EXPECT_LT(rename, LastCall("ReleaseMutex"));
  for (const std::u16string& security : {machine().mutexes.at(u"ZOLTMgr\\VolumeSettings").security,
                                         machine().namespaces.at(u"ZOLTMgr").security}) {
    EXPECT_EQ(security, u"D:P(A;;GA;;;SY)(A;;GA;;;BA)");
  }
  EXPECT_EQ(machine().calls[FirstCall("CreateMutexExW")].arguments,
            std::vector<std::uint32_t>{kSynchronize | kMutexModifyState});
}

TEST_F(TransferTest, ExportReplacesAnExistingFile) {
  WriteBytes(File("a.dat"), std::vector<std::uint8_t>(500, 0xEE));
  EXPECT_EQ(ExportVolumeSettings(u"C:", u"a.dat"), 0);
  EXPECT_EQ(ReadBytes(File("a.dat")), kExported);
}

struct ExportCase {
  const char* name;
  std::vector<sim::Fault> faults;
  std::u16string file;
  int exitCode;
  std::u16string printed;
  bool existing = false;                      // a.dat holds an earlier file
  bool emptyList = false;                     // C:'s list value holds no bytes
  std::uint32_t attributes = 0;               // of the earlier file
  bool placed = false;                        // the new file is in place all the same
  bool posixRename = true;                    // the file system renames with POSIX semantics
  std::optional<std::uint32_t> readerShares;  // another process reads a.dat, sharing this
  std::u16string typed;                       // the name as typed, where it is not `file`
  bool deleteDenied = false;                  // the earlier file's security denies DELETE
  bool longPaths = false;                     // LongPathsEnabled is 1
};

const std::u16string kCreateFailed = u"Create exported volume settings a.dat file fail!\n";
const std::u16string kWriteFailed = u"Write exported volume settings to a.dat file fail!\n";
const std::u16string kCloseFailed = u"Close exported volume settings a.dat file fail!\n";
const std::u16string kExported1 = u"Export volume settings to a.dat file success!\n";
const std::u16string kLongName(255, u'n');  // the longest that a file system takes

// The rename that puts the new file in place, refused `count` times (every time when unset).
std::vector<sim::Fault> RenameRefused(Status status, std::optional<std::uint32_t> count = {}) {
  return {{"SetFileInformationByHandle", u"a.dat", status, 0, count}};
}

// The rename that puts the new file in place does so, and then answers that the share's
// connection was lost.
std::vector<sim::Fault> RenameTookEffect() {
  return {{"SetFileInformationByHandle", u"a.dat", 64, 0, {}, {}, true}};
}

// An export to an earlier ZOLTMgr.~1.tmp, typed as `typed`, whose write fails.
ExportCase TypedAs(const char* name, const std::u16string& typed) {
  return {name,
          {{"WriteFile", {}, 112, 0}},
          u"ZOLTMgr.~1.tmp",
          3,
          u"Write exported volume settings to " + typed + u" file fail!\n",
          true,
          false,
          0,
          false,
          true,
          {},
          typed};
}

const ExportCase kExportCases[] = {
    {"RegistryReadFails",
     {{"RegQueryValueExW", u"RedLevel", 5, 0}},
     u"a.dat",
     1,
     u"Get volume settings fail!\n",
     true},
    {"CreateFails", {{"CreateFileW", u"ZOLTMgr.~1.tmp", 112, 0}}, u"a.dat", 2, kCreateFailed},
    {"CreateFailsOverAFile",
     {{"CreateFileW", u"ZOLTMgr.~1.tmp", 112, 0}},
     u"a.dat",
     2,
     kCreateFailed,
     true},
    {"ProgramDirectoryUnknown", {{"GetModuleFileNameW", {}, 5, 0}}, u"a.dat", 2, kCreateFailed},
    {"SubfolderMissing",
     {},
     u"sub\\a.dat",
     2,
     u"Create exported volume settings sub\\a.dat file fail!\n"},
    {"HeadWriteFails", {{"WriteFile", {}, 112, 0}}, u"a.dat", 3, kWriteFailed, true},
    {"HeadWriteShort", {{"WriteFile", {}, 0, 0, {}, 55}}, u"a.dat", 3, kWriteFailed, true},
    {"ListWriteFails", {{"WriteFile", {}, 112, 1}}, u"a.dat", 4, kWriteFailed},
    {"ListWriteShort", {{"WriteFile", {}, 0, 1, {}, 11}}, u"a.dat", 4, kWriteFailed, true},
    {"EmptyListWriteFails", {{"WriteFile", {}, 112, 1}}, u"a.dat", 4, kWriteFailed, true, true},
    {"FlushFails", {{"FlushFileBuffers", {}, 112, 0}}, u"a.dat", 5, kCloseFailed, true},
    {"CloseFails", {{"CloseHandle", u"a.dat", 5, 0}}, u"a.dat", 5, kCloseFailed, true, 0, 0, true},
    {"ReplaceFails", RenameRefused(5), u"a.dat", 5, kCloseFailed, true},
    {"MoveFails", RenameRefused(5), u"a.dat", 5, kCloseFailed},
    {"PosixSemanticsRefused", RenameRefused(87, 1), u"a.dat", 0, kExported1, true},
    {"PosixSemanticsAnIncorrectFunction", RenameRefused(1, 1), u"a.dat", 0, kExported1, true},
    // ERROR_FILE_SYSTEM_LIMITATION, as any refusal but a held file's: the plain rename at once.
    {"PosixRenameAFileSystemLimitation", RenameRefused(665, 1), u"a.dat", 0, kExported1, true},
    // A name that a file has, or that a deletion still holds (refused), is passed.
    {"FirstNameTaken", {{"CreateFileW", u"ZOLTMgr.~1.tmp", 80, 0}}, u"a.dat", 0, kExported1},
    {"FirstNameRefused", {{"CreateFileW", u"ZOLTMgr.~1.tmp", 5, 0}}, u"a.dat", 0, kExported1},
    {"EveryRenameRefused", RenameRefused(87), u"a.dat", 5, kCloseFailed, true},
    {"ReaderSharingDeletion", {}, u"a.dat", 0, kExported1, true, 0, 0, false, true, 7},
    {"ReaderSharingDeletionNoPosix", {}, u"a.dat", 5, kCloseFailed, true, 0, 0, 0, 0, 7},
    {"ReaderNotSharingDeletion", {}, u"a.dat", 5, kCloseFailed, true, 0, 0, 0, 1, 3},
    // A target with a replacement's name is no leftover.
    {"TargetNamedAsAReplacement",
     {{"WriteFile", {}, 112, 0}},
     u"ZOLTMgr.~1.tmp",
     3,
     u"Write exported volume settings to ZOLTMgr.~1.tmp file fail!\n",
     true},
    // However it is typed, Windows forms the name into that of the file, which stays.
    TypedAs("TargetTypedWithATrailingDot", u"ZOLTMgr.~1.tmp."),
    TypedAs("TargetTypedWithTrailingSpaces", u"ZOLTMgr.~1.tmp . "),
    TypedAs("TargetTypedAsItsShortName", u"ZOLTMG~1.TMP"),
    TypedAs("TargetTypedAsItsStream", u"ZOLTMgr.~1.tmp::$DATA"),
    // Put in place by its 8.3 name, the new file keeps the long one.
    {"ShortNameKeepsTheLongOne",
     {},
     u"ZOLTMgr.~1.tmp",
     0,
     u"Export volume settings to ZOLTMG~1.TMP file success!\n",
     true,
     false,
     0,
     false,
     true,
     {},
     u"ZOLTMG~1.TMP"},
    // Where a direct create of the file would fail, so does the export, before writing.
    {"TargetRefusesTheCreate",
     {{"CreateFileW", u"a.dat", 32, 0}},
     u"a.dat",
     2,
     kCreateFailed,
     true},
    {"TargetIsTheFolder", {}, u"", 2, u"Create exported volume settings  file fail!\n"},
    // A device's name on Windows 7 to 10, whatever the Windows: refused before it is opened.
    {"TargetIsNul", {}, u"NUL", 2, u"Create exported volume settings NUL file fail!\n"},
    {"TargetIsCom1",
     {},
     u"com1 .dat",
     2,
     u"Create exported volume settings com1 .dat file fail!\n"},
    {"TargetIsLpt9",
     {},
     u"sub\\Lpt9.x",
     2,
     u"Create exported volume settings sub\\Lpt9.x file fail!\n"},
    {"TargetIsNoDevice", {}, u"COM10", 0, u"Export volume settings to COM10 file success!\n"},
    // Renamed over in another case, the file keeps the case its entry has.
    {"CaseKeepsTheFilesOwn",
     {},
     u"a.dat",
     0,
     u"Export volume settings to A.DAT file success!\n",
     true,
     false,
     0,
     false,
     true,
     {},
     u"A.DAT"},
    // A file that could not be renamed over is refused before anything is written.
    {.name = "TargetDeniesDeletion",
     .file = u"a.dat",
     .exitCode = 2,
     .printed = kCreateFailed,
     .existing = true,
     .deleteDenied = true},
    {"TargetIsHidden", {}, u"a.dat", 2, kCreateFailed, true, false, kFileAttributeHidden},
    {"TargetIsASystemFile", {}, u"a.dat", 2, kCreateFailed, true, false, kFileAttributeSystem},
    // Only a link's final path is asked for: not every volume has one.
    {"FinalPathUnknown", {{"GetFinalPathNameByHandleW", {}, 1, 0}}, u"a.dat", 0, kExported1, true},
    // Someone holds the file for a moment, or for too long.
    {"ReplaceRefusedAWhile", RenameRefused(32, 20), u"a.dat", 0, kExported1, true},
    {"ReplaceRefusedTooLong", RenameRefused(32, 21), u"a.dat", 5, kCloseFailed},
    // A rename that took effect but answered a failure (its reply lost on a share) is found in
    // place; where that cannot be told, the new file is kept, never deleted from under its name.
    {"RenameTookEffectButFailed", RenameTookEffect(), u"a.dat", 0, kExported1, true},
    {"RenameTookEffectUnseen",
     {RenameTookEffect()[0], {"CreateFileW", u"a.dat", 5, 1}},
     u"a.dat",
     5,
     kCloseFailed,
     false,
     false,
     0,
     true},
    // In a folder of any length, where long paths are enabled.
    {.name = "LongestName",
     .file = kLongName,
     .exitCode = 0,
     .printed = u"Export volume settings to " + kLongName + u" file success!\n",
     .longPaths = true},
};

class ExportTest : public TransferTest, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(ExportTest, ReportsTheStepThatFailed) {
  const ExportCase& c = GetParam();
  const std::vector<std::uint8_t> earlier(134, 0xEE);
  const std::filesystem::path target = programDir() / sim::ToUtf8(c.file);
  if (c.existing) WriteBytes(target, earlier);
  if (c.attributes) machine().fileAttributes[target.string()] = c.attributes;
  if (c.deleteDenied) machine().deleteDenied = {target.string()};
  machine().longPaths = c.longPaths;
  if (!c.posixRename) machine().windows = sim::Windows::k10_1511;
  if (c.readerShares) {
    machine().heldElsewhere = {{target.string(), kGenericRead, *c.readerShares}};
  }
  if (c.emptyList) machine().registry.SetValue(kKeyC, u"ExclusionList", kRegMultiSz, {});
  machine().faults = c.faults;
  // A fault on "a.dat..." is one on that file's whole path.
  for (sim::Fault& fault : machine().faults) {
    if (fault.name && (fault.name->starts_with(u"a.dat") || fault.name->starts_with(u"ZOLT"))) {
      fault.name = FilePath(sim::ToUtf8(*fault.name).c_str());
    }
  }
  EXPECT_EQ(ExportVolumeSettings(u"C:", c.typed.empty() ? c.file : c.typed), c.exitCode);
  EXPECT_EQ(machine().console, c.printed);
  // The file is what it was, or still absent, or the new one; nothing else is left beside it.
  if (c.exitCode == 0 || c.placed) {
    EXPECT_EQ(ReadBytes(target), kExported);
  } else if (c.existing) {
    EXPECT_EQ(ReadBytes(target), earlier);
  } else {
    EXPECT_FALSE(std::filesystem::is_regular_file(target));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(programDir()), {}),
            c.existing || c.exitCode == 0 || c.placed ? 2 : 1);
  EXPECT_LE(machine().clock, 2000u);
}

INSTANTIATE_TEST_SUITE_P(Steps, ExportTest, ::testing::ValuesIn(kExportCases), CaseName());

// The replacement's path is longer than the target's wherever the target's name is shorter than
// its own: every target that a direct create takes is exported all the same, and no other.
struct PathLengthCase {
  const char* name;
  std::size_t targetLength;  // of the target's full path
  bool longPaths;
  int exitCode;
};
const PathLengthCase kPathLengthCases[] = {
    {"LongestShortPath", 259, false, 0},
    {"OneTooLong", 260, false, 2},
    {"LongPathsEnabled", 600, true, 0},
};

class PathLengthTest : public TransferTest, public ::testing::WithParamInterface<PathLengthCase> {};

TEST_P(PathLengthTest, ExportsWhatADirectCreateTakes) {
  const PathLengthCase& c = GetParam();
  machine().longPaths = c.longPaths;
  // Folders below the program's, of up to 100 characters each (and never of one alone), then
  // "a.dat"; the full path begins with the drive, "C:".
  std::size_t left = c.targetLength - (2 + programDir().string().size() + 1 + 5);
  std::string typed;
  while (left > 0) {
    std::size_t folder = std::min<std::size_t>(100, left - 1);
    if (left - folder - 1 == 1) --folder;
    typed += std::string(folder, 'f') + "/";
    left -= folder + 1;
    std::filesystem::create_directory(programDir() / typed);
  }
  typed += "a.dat";
  ASSERT_EQ(2 + programDir().string().size() + 1 + typed.size(), c.targetLength);
  const std::filesystem::path target = programDir() / typed;
  WriteBytes(target, {1});
  EXPECT_EQ(ExportVolumeSettings(u"C:", sim::ToUtf16(typed)), c.exitCode);
  EXPECT_EQ(ReadBytes(target), c.exitCode == 0 ? kExported : std::vector<std::uint8_t>{1});
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target.parent_path()), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PathLengthTest, ::testing::ValuesIn(kPathLengthCases),
                         CaseName());

TEST_F(TransferTest, ExportRemovesWhatKilledExportsLeft) {
  // Left by killed exports, but for one that someone still has open, a folder, and a name of
  // another form: those stay.
  for (int n = 1; n <= 100; ++n)
    WriteBytes(File(("ZOLTMgr.~" + std::to_string(n) + ".tmp").c_str()), Bytes({1}));
  std::filesystem::remove(File("ZOLTMgr.~2.tmp"));
  std::filesystem::create_directory(File("ZOLTMgr.~2.tmp"));
  WriteBytes(File("ZOLTMgr.~x.tmp"), Bytes({1}));
  // A link is removed as itself, never through to what it names, and no file is made where one
  // that leads nowhere points.
  std::filesystem::remove(File("ZOLTMgr.~4.tmp"));
  WriteBytes(File("victim.dat"), Bytes({1}));
  std::filesystem::create_symlink(File("victim.dat"), File("ZOLTMgr.~4.tmp"));
  std::filesystem::remove(File("ZOLTMgr.~3.tmp"));
  std::filesystem::create_symlink(File("elsewhere.dat"), File("ZOLTMgr.~3.tmp"));
  UniqueHandle held;
  ASSERT_EQ(CreateFileW(FilePath("ZOLTMgr.~1.tmp").c_str(), kGenericRead,
                        kFileShareRead | kFileShareDelete, kOpenExisting, kFileAttributeNormal,
                        held.put()),
            kErrorSuccess);
  EXPECT_EQ(ExportVolumeSettings(u"C:", u"a.dat"), 0);
  EXPECT_EQ(ReadBytes(File("a.dat")), kExported);
  EXPECT_EQ(machine().CallCount("CreateFileW", FilePath("ZOLTMgr.~5.tmp")), 2);
  EXPECT_EQ(machine().calls[FirstCall("CreateFileW", FilePath("ZOLTMgr.~5.tmp"))].arguments,
            (std::vector<std::uint32_t>{kDelete | kFileReadAttributes, 0, kOpenExisting,
                                        kFileFlagOpenReparsePoint}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(programDir()), {}), 8);
  EXPECT_TRUE(std::filesystem::exists(File("ZOLTMgr.~1.tmp")));
  EXPECT_TRUE(std::filesystem::is_symlink(File("ZOLTMgr.~4.tmp")));
  EXPECT_EQ(ReadBytes(File("victim.dat")), Bytes({1}));
  EXPECT_FALSE(std::filesystem::exists(File("elsewhere.dat")));
}

struct LinkCase {
  const char* name;
  std::vector<sim::Fault> faults;
  int exitCode;
  std::u16string renamedTo;      // how the rename names the linked file's volume
  bool dangling = false;         // the linked file is missing
  std::uint32_t attributes = 0;  // of the linked file
  sim::FileSystem fileSystem = sim::FileSystem::kNtfs;
};

const LinkCase kLinkCases[] = {
    {"ByDriveLetter", {}, 0, u"\\\\?\\/"},
    {"ByVolumeGuid", {{"GetFinalPathNameByHandleW", {}, 1, 0, 1}}, 0, u"\\\\?\\Volume{"},
    {"ByVolumeDevice",
     {{"GetFinalPathNameByHandleW", {}, 1, 0, 2}},
     0,
     u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1/"},
    {"NoFinalPath", {{"GetFinalPathNameByHandleW", {}, 1, 0}}, 2},
    {"Dangling", {}, 2, u"", true},
    {"ToAHiddenFile", {}, 2, u"", false, kFileAttributeHidden},
    // A link on a share leads nowhere that Windows follows by default.
    {.name = "OnAShare", .exitCode = 2, .fileSystem = sim::FileSystem::kSmb},
};

class LinkTest : public TransferTest, public ::testing::WithParamInterface<LinkCase> {};

// Through a link, the file that it leads to is replaced, in its own folder, and the link stays.
TEST_P(LinkTest, ExportWritesThroughALink) {
  const LinkCase& c = GetParam();
  std::filesystem::create_directory(programDir() / "real");
  const std::filesystem::path linked = programDir() / "real" / "b.dat";
  if (!c.dangling) WriteBytes(linked, Bytes({1}));
  if (c.attributes) machine().fileAttributes[linked.string()] = c.attributes;
  machine().fileSystem = c.fileSystem;
  std::filesystem::create_symlink(linked, File("a.dat"));
  machine().faults = c.faults;
  EXPECT_EQ(ExportVolumeSettings(u"C:", u"a.dat"), c.exitCode);
  EXPECT_TRUE(std::filesystem::is_symlink(File("a.dat")));
  if (c.dangling) {
    EXPECT_FALSE(std::filesystem::exists(linked));
  } else {
    EXPECT_EQ(ReadBytes(linked), c.exitCode == 0 ? kExported : Bytes({1}));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(programDir() / "real"), {}),
            c.dangling ? 0 : 1);
  const std::size_t rename = LastCall("SetFileInformationByHandle");
  if (c.exitCode == 0) {
    ASSERT_LT(rename, machine().calls.size());
    EXPECT_TRUE(machine().calls[rename].subject.starts_with(c.renamedTo));
  }
}

INSTANTIATE_TEST_SUITE_P(Links, LinkTest, ::testing::ValuesIn(kLinkCases), CaseName());

class SystemTest : public TransferTest, public ::testing::WithParamInterface<SystemCase> {};

// Every Windows on every file system: an export over an earlier file, and its import.
TEST_P(SystemTest, ExportsOverAFileAndImportsItBack) {
  machine().windows = GetParam().windows;
  machine().fileSystem = GetParam().fileSystem;
  WriteBytes(File("a.dat"), std::vector<std::uint8_t>(134, 0xEE));
  EXPECT_EQ(ExportVolumeSettings(u"C:", u"a.dat"), 0);
  EXPECT_EQ(ReadBytes(File("a.dat")), kExported);
  ASSERT_EQ(ImportVolumeSettings(u"D:", u"a.dat"), 0);
  EXPECT_EQ(machine().registry.FindKey(kKeyD)->values, machine().registry.FindKey(kKeyC)->values);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(programDir()), {}), 2);
}

INSTANTIATE_TEST_SUITE_P(Systems, SystemTest, ::testing::ValuesIn(EverySystem()), CaseName());

// A failed export's file goes at once where Windows deletes with POSIX semantics; elsewhere a
// reader that holds it keeps its name taken, and the next export takes the next name.
TEST_F(TransferTest, ExportPassesANameThatADeletionHolds) {
  for (const auto windows : {sim::Windows::k11, sim::Windows::k10_1607}) {
    machine().windows = windows;
    machine().heldElsewhere = {{File("ZOLTMgr.~1.tmp").string(), kGenericRead, 7}};
    machine().faults = {{"WriteFile", {}, 112, 0, 1}};
    EXPECT_EQ(ExportVolumeSettings(u"C:", u"a.dat"), 3);
    EXPECT_EQ(std::filesystem::exists(File("ZOLTMgr.~1.tmp")), windows == sim::Windows::k10_1607);
    EXPECT_EQ(ExportVolumeSettings(u"C:", u"a.dat"), 0);
    EXPECT_EQ(ReadBytes(File("a.dat")), kExported);
  }
}

TEST_F(TransferTest, FailedExportLeavesAnExistingFileAlone) {
  WriteBytes(File("a.dat"), Bytes({1, 2, 3}));
  EXPECT_EQ(ExportVolumeSettings(u"D:", u"a.dat"), 1);
  EXPECT_EQ(ReadBytes(File("a.dat")), Bytes({1, 2, 3}));
  EXPECT_EQ(FirstCall("CreateFileW", FilePath("a.dat")), machine().calls.size());
}

TEST_F(TransferTest, ExportBelowTheProgramDirectory) {
  std::filesystem::create_directory(programDir() / "sub");
  EXPECT_EQ(ExportVolumeSettings(u"C:", u"sub\\a.dat"), 0);
  EXPECT_EQ(ReadBytes(programDir() / "sub" / "a.dat"), kExported);
}

struct ImportCase {
  const char* name;
  std::vector<std::uint8_t> file;  // empty with `missing`: no file at all
  bool missing;
  std::vector<sim::Fault> faults;
  int exitCode;
  std::u16string printed;
};

std::vector<std::uint8_t> Noisy(std::vector<std::uint8_t> file) {
  for (std::size_t i : {4, 5, 6, 7, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55}) {
    file[i] = static_cast<std::uint8_t>(0x90 + i);
  }
  return file;
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> file, std::size_t size) {
  file.resize(size);
  return file;
}

const std::u16string kReadFailed = u"Read imported volume settings a.dat fail!\n";
const std::u16string kImported = u"Import volume settings from a.dat file success!\n";

const ImportCase kImportCases[] = {
    {"Missing", {}, true, {}, 1, u"Open imported volume settings a.dat file fail!\n"},
    {"Empty", {}, false, {}, 2, kReadFailed},
    {"HeadShort", Cut(kExported, 55), false, {}, 2, kReadFailed},
    {"HeadReadFails", kExported, false, {{"ReadFile", {}, 23, 0}}, 2, kReadFailed},
    {"ListShort", Cut(kExported, 67), false, {}, 3, kReadFailed},
    {"ListReadFails", kExported, false, {{"ReadFile", {}, 23, 1}}, 3, kReadFailed},
    {"HeadReadShort", kExported, false, {{"ReadFile", {}, 0, 0, {}, 55}}, 2, kReadFailed},
    {"ListReadShort", kExported, false, {{"ReadFile", {}, 0, 1, {}, 11}}, 3, kReadFailed},
    {"ListClaimsFourGiB", SettingsFile(1, 2, 3, 4, 5, 0xFFFFFFFF, {}), false, {}, 3, kReadFailed},
    {"ListOverTheLimit",
     SettingsFile(1, 2, 3, 4, 5, 8193, std::vector<std::uint8_t>(8193, 0x41)),
     false,
     {},
     3,
     kReadFailed},
    {"FileSizeUnknown", kExported, false, {{"GetFileSizeEx", {}, 1, 0}}, 3, kReadFailed},
    {"SetFails",
     kExported,
     false,
     {{"RegSetValueExW", u"RedLevel", 5, 0}},
     4,
     u"Import volume settings a.dat fail!\n"},
    {"Complete", kExported, false, {}, 0, kImported},
    {"TrailingBytesIgnored",
     SettingsFile(1, 0x0102030405060708, 16, 32, 48, 12,
                  Bytes({0x41, 0, 0, 0, 0x42, 0, 0x43, 0, 0, 0, 0, 0, 0xFF})),
     false,
     {},
     0,
     kImported},
    {"ReservedBytesIgnored", Noisy(kExported), false, {}, 0, kImported},
};

class ImportTest : public TransferTest, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(ImportTest, ReportsTheStepThatFailed) {
  const ImportCase& c = GetParam();
  if (!c.missing) WriteBytes(File("a.dat"), c.file);
  machine().faults = c.faults;
  const sim::Registry before = machine().registry;

  EXPECT_EQ(ImportVolumeSettings(u"D:", u"a.dat"), c.exitCode);
  EXPECT_EQ(machine().console, c.printed);
  const std::size_t open = FirstCall("CreateFileW", FilePath("a.dat"));
  ASSERT_LT(open, machine().calls.size());
  EXPECT_EQ(machine().calls[open].arguments,
            (std::vector<std::uint32_t>{kGenericRead, kFileShareRead, kOpenExisting,
                                        kFileAttributeNormal}));
  if (c.exitCode >= 1 && c.exitCode <= 3) {
    // A file that was not read completely reaches no volume and no registry.
    EXPECT_EQ(machine().registry, before);
    EXPECT_EQ(FirstCall("CreateFileW", u"\\\\.\\"), machine().calls.size());
    EXPECT_EQ(machine().CallCount("RegCreateKeyExW"), 0);
  } else {
    // The file is closed before the volume is looked up.
    EXPECT_LT(FirstCall("CloseHandle"), FirstCall("CreateFileW", u"\\\\.\\"));
  }
  if (c.exitCode == 0) {
    const sim::RegistryKey* key = machine().registry.FindKey(kKeyD);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->values, machine().registry.FindKey(kKeyC)->values);
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, ImportTest, ::testing::ValuesIn(kImportCases), CaseName());

struct LockCase {
  const char* name;
  bool exporting;
  sim::NamedMutex mutex;  // as other runs left it
  std::vector<sim::Fault> faults;
  int exitCode;
  bool namespaceFunctions = true;  // false: a Windows without private namespaces, or Wine
  bool administrator = true;
  std::optional<sim::PrivateNamespace> existing;  // another run has the namespace open
  std::uint32_t pause = 0;  // milliseconds that the run waits for the namespace
};

const sim::PrivateNamespace kAdminsNamespace{u"", false, true};
const sim::PrivateNamespace kSystemsNamespace{u"D:P(A;;GA;;;SY)(A;;GA;;;BA)", true, true};
const sim::PrivateNamespace kSystemsDefaults{u"", true, true};
// The last run closes the namespace between this one's create and its open, once or every time.
const std::vector<sim::Fault> kNamespaceEnds{{"OpenPrivateNamespaceW", {}, 3, 0, 1}};
const std::vector<sim::Fault> kNamespaceGone{{"OpenPrivateNamespaceW", {}, 3, 0}};

const sim::NamedMutex kBySystemAccount{false, false, 0, sim::kSystemMutexAdministratorsAccess};
const sim::NamedMutex kRefusingAll{false, false, 0, 0};
const sim::NamedMutex kAnEvent{false, false, 0, sim::kMutexAllAccess, true};

const LockCase kLockCases[] = {
    {"ExportWaitsInVain", true, {true}, {}, 1},
    {"ImportWaitsInVain", false, {true}, {}, 4},
    {"ExportAfterARunThatDied", true, {false, true}, {}, 0},
    {"ImportAfterARunThatDied", false, {false, true}, {}, 0},
    {"ExportLockRefused", true, {}, {{"CreateMutexExW", {}, 5, 0}}, 1},
    {"ImportLockRefused", false, {}, {{"CreateMutexExW", {}, 5, 0}}, 4},
    {"ExportWaitFails", true, {}, {{"WaitForSingleObject", {}, 6, 0}}, 1},
    {"ImportWaitFails", false, {}, {{"WaitForSingleObject", {}, 6, 0}}, 4},
    {"ImportAfterTheSystemAccount", false, kBySystemAccount, {}, 0},
    {"ImportAfterTheSystemAccountWithoutNamespaces", false, kBySystemAccount, {}, 0, false},
    {"ImportWhereTheNamespaceIsOpen", false, {}, {}, 0, true, true, kAdminsNamespace},
    {"ImportInTheSystemsNamespace", false, {}, {}, 0, true, true, kSystemsNamespace},
    {"ImportWithTheSystemsDefaults", false, {}, {}, 4, true, true, kSystemsDefaults},
    {"ImportWhileNamespaceEnds", false, {}, kNamespaceEnds, 0, true, true, kAdminsNamespace, 50},
    {"ImportNamespaceGone", false, {}, kNamespaceGone, 4, true, true, kAdminsNamespace, 1000},
    {"ImportOutsideTheBoundary", false, {}, {}, 4, true, false},
    {"ExportNamespaceRefused", true, {}, {{"CreatePrivateNamespaceW", {}, 5, 0}}, 1},
    {"ExportSecurityUnmade",
     true,
     {},
     {{"ConvertStringSecurityDescriptorToSecurityDescriptorW", {}, 8, 0}},
     1},
    {"ExportBoundaryRefused", true, {}, {{"AddSIDToBoundaryDescriptor", {}, 8, 0}}, 1},
    {"ImportNameTakenByAnEvent", false, kAnEvent, {}, 4, false},
    {"ImportNameRefusingAll", false, kRefusingAll, {}, 4, false},
};

class LockTest : public TransferTest, public ::testing::WithParamInterface<LockCase> {};

// Runs take turns at the registry; one that cannot have its turn touches no value and no file.
TEST_P(LockTest, RegistryStepWaitsItsTurn) {
  const LockCase& c = GetParam();
  WriteBytes(File("a.dat"), kExported);
  const std::u16string global = u"Global\\ZOLTMgr.VolumeSettings";
  machine().mutexes[c.namespaceFunctions ? u"ZOLTMgr\\VolumeSettings" : global] = c.mutex;
  machine().namespaceFunctions = c.namespaceFunctions;
  machine().administrator = c.administrator;
  if (c.existing) machine().namespaces[u"ZOLTMgr"] = *c.existing;
  machine().faults = c.faults;
  const sim::Registry before = machine().registry;
  EXPECT_EQ(
      c.exporting ? ExportVolumeSettings(u"C:", u"b.dat") : ImportVolumeSettings(u"D:", u"a.dat"),
      c.exitCode);
  EXPECT_EQ(std::filesystem::exists(File("b.dat")), c.exporting && c.exitCode == 0);
  if (c.exitCode != 0) {
    EXPECT_EQ(machine().registry, before);
    EXPECT_EQ(machine().CallCount("RegCreateKeyExW"), 0);
  }
  // The name that anyone can take only where there are no private namespaces.
  EXPECT_EQ(machine().CallCount("CreateMutexExW", global), c.namespaceFunctions ? 0 : 1);
  // 30 seconds at most, and only while another run holds the lock.
  EXPECT_EQ(machine().clock, c.mutex.heldElsewhere ? 30000u : c.pause);
  // A namespace that another run holds stays within its reach.
  if (c.existing) {
    EXPECT_FALSE(machine().namespaces.at(u"ZOLTMgr").ended);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, LockTest, ::testing::ValuesIn(kLockCases), CaseName());

TEST_F(TransferTest, ImportOfAnEmptyListRemovesTheList) {
  WriteBytes(File("a.dat"), SettingsFile(7, 1, 2, 3, 4, 0, {}));
  EXPECT_EQ(ImportVolumeSettings(u"C:", u"a.dat"), 0);
  EXPECT_EQ(machine().registry.FindValue(kKeyC, u"ExclusionList"), nullptr);
  EXPECT_EQ(machine().CallCount("ReadFile"), 2);
  // Exported again, the volume gives the same file.
  EXPECT_EQ(ExportVolumeSettings(u"C:", u"b.dat"), 0);
  EXPECT_EQ(ReadBytes(File("b.dat")), SettingsFile(7, 1, 2, 3, 4, 0, {}));
}

TEST_F(TransferTest, ExportImportExportGivesTheSameFile) {
  ASSERT_EQ(ExportVolumeSettings(u"C:", u"c.dat"), 0);
  ASSERT_EQ(ImportVolumeSettings(u"D:", u"c.dat"), 0);
  ASSERT_EQ(ExportVolumeSettings(u"D:", u"d.dat"), 0);
  EXPECT_EQ(ReadBytes(File("d.dat")), ReadBytes(File("c.dat")));
}

TEST_F(TransferTest, VolumeThatIsNotThere) {
  WriteBytes(File("a.dat"), kExported);
  EXPECT_EQ(ExportVolumeSettings(u"XY:", u"x.dat"), 1);
  EXPECT_FALSE(std::filesystem::exists(File("x.dat")));
  // The import reads its whole file before it looks for the volume.
  EXPECT_EQ(ImportVolumeSettings(u"XY:", u"a.dat"), 4);
  EXPECT_EQ(machine().CallCount("ReadFile"), 2);
}

TEST_F(TransferTest, ProgramDirectoryUnknownOpensNoFile) {
  machine().faults = {{"GetModuleFileNameW", {}, 5, 0}};
  EXPECT_EQ(ImportVolumeSettings(u"C:", u"a.dat"), 1);
  EXPECT_EQ(machine().console, u"Open imported volume settings a.dat file fail!\n");
  EXPECT_EQ(machine().CallCount("CreateFileW"), 0);
}

TEST_F(TransferTest, LinesAreNeverCut) {
  // On a console every character appears; into a file each one above U+00FF is a "?".
  const std::u16string name = u"\u8a2d\U0001F4BE%s.dat";
  machine().consoleOutput = true;
  // A console may take fewer characters than it was given.
  machine().faults = {{"WriteConsoleW", {}, 0, 0, 1, 7}};
  EXPECT_EQ(ImportVolumeSettings(u"C:", name), 1);
  EXPECT_EQ(machine().console, u"Open imported volume settings " + name + u" file fail!\n");
  EXPECT_EQ(machine().CallCount("wprintf"), 0);
  machine().console.clear();
  machine().consoleOutput = false;
  EXPECT_EQ(ImportVolumeSettings(u"C:", name), 1);
  EXPECT_EQ(machine().console, u"Open imported volume settings ??%s.dat file fail!\n");
  // A print that fails writes none of its line, and the operation's exit code stands.
  machine().console.clear();
  machine().faults = {{"wprintf", {}, 5, 0}};
  EXPECT_EQ(ImportVolumeSettings(u"C:", name), 1);
  EXPECT_EQ(machine().console, u"");
}

}  // namespace

namespace {

TEST_F(TransferTest, UnterminatedListIsImportedAsItIs) {
  // The registry would also store a zero character found just past the list; the import's
  // buffer makes sure there is none, so the list stays exactly as long as the file says.
  WriteBytes(File("a.dat"), SettingsFile(1, 2, 3, 4, 5, 4, Bytes({0x41, 0, 0x42, 0, 0, 0})));
  EXPECT_EQ(ImportVolumeSettings(u"C:", u"a.dat"), 0);
  EXPECT_EQ(machine().registry.FindValue(kKeyC, u"ExclusionList")->data, Bytes({0x41, 0, 0x42, 0}));
}

}  // namespace
