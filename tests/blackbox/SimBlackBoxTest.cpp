// The Linux ZOLTMgr as a process, in a program directory of its own, on a simulated machine that
// the test writes into zoltmgr-machine.json beside it.

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/MachineFile.h"
#include "platform/sim/Text.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "unit/SimTest.h"

namespace {

using namespace platform;

const std::u16string kKeyC = SettingsKey(u"{disk}#1");
const std::u16string kKeyD = SettingsKey(u"{disk}#2");
const std::vector<std::uint8_t> kList = Bytes({0x41, 0, 0, 0, 0x42, 0, 0x43, 0, 0, 0, 0, 0});

class SimBlackBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CopyProgramTo(dir_.path());
    machine_.drives = {sim::Drive{u"C:", 1, 0, 0}, sim::Drive{u"D:", 2, 0, 0}};
    machine_.volumeInterfaces = {Volume(u"{disk}#0", 3), Volume(u"{disk}#1", 1),
                                 Volume(u"{disk}#2", 2)};
    SetSettingsValues(machine_, kKeyC, 1, 0x0102030405060708, 16, 32, 48, kList);
  }

  void WriteMachine() { WriteText(MachineFile(), sim::SaveMachine(machine_)); }
  std::filesystem::path MachineFile() const { return dir_.path() / "zoltmgr-machine.json"; }
  std::filesystem::path File(const std::string& name) const { return dir_.path() / name; }

  static void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string ReadText(const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
  }

  // The machine as the last run left it.
  sim::Machine SavedMachine() const {
    sim::Machine saved;
    EXPECT_EQ(sim::LoadMachine(ReadText(MachineFile()), saved), std::nullopt);
    return saved;
  }

  ProcessResult Run(std::vector<std::u16string> arguments) const {
    return RunProcess(program_, arguments);
  }

  TempDir dir_;
  std::filesystem::path program_;
  sim::Machine machine_;
};

const std::vector<std::uint8_t> kExported =
    SettingsFile(1, 0x0102030405060708, 16, 32, 48, 12, kList);

TEST_F(SimBlackBoxTest, ExportWritesTheFileByteForByte) {
  WriteMachine();
  const std::string machineText = ReadText(MachineFile());
  const ProcessResult result = Run({u"-export", u"C:", u"a.dat"});
  EXPECT_EQ(result.output, "Export volume settings to a.dat file success!\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(ReadBytes(File("a.dat")), kExported);
  // A read changes nothing, so the machine file stays as it was.
  EXPECT_EQ(ReadText(MachineFile()), machineText);
}

// Through a link the linked file is replaced, beside which a killed export left its file.
TEST_F(SimBlackBoxTest, ExportWritesThroughALinkAndRemovesLeftovers) {
  WriteMachine();
  std::filesystem::create_directory(File("real"));
  WriteBytes(File("real/b.dat"), Bytes({1}));
  WriteBytes(File("real/ZOLTMgr.~1.tmp"), Bytes({1}));
  std::filesystem::create_symlink(File("real/b.dat"), File("a.dat"));
  EXPECT_EQ(Run({u"-export", u"C:", u"a.dat"}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(File("a.dat")));
  EXPECT_EQ(ReadBytes(File("real/b.dat")), kExported);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(File("real")), {}), 1);
}

struct FileStepCase {
  const char* name;
  std::string file;  // exported to, where an earlier file lies
  std::vector<sim::Fault> faults;
  bool dangling;  // the name is a link to a file that is not there
  int exitCode;
};

const FileStepCase kFileStepCases[] = {
    // A target with a replacement's name is no leftover.
    {"ReplacementNameKeepsItsContent", "ZOLTMgr.~1.tmp", {{"WriteFile", {}, 112, 0}}, false, 3},
    // Only a link's final path is asked for: not every volume has one.
    {"PlainFileWithoutAFinalPath", "a.dat", {{"GetFinalPathNameByHandleW", {}, 1, 0}}, false, 0},
    {"DanglingLinkStays", "a.dat", {}, true, 2},
    // Windows 10 1607 refuses the POSIX rename as an incorrect function; the plain one follows.
    {"PlainRenameAfterIncorrectFunction",
     "a.dat",
     {{"SetFileInformationByHandle", {}, 1, 0, 1}},
     false,
     0},
    // A name whose create is refused (a deletion that a reader holds up) is passed.
    {"NextNameAfterARefusedOne", "a.dat", {{"CreateFileW", u"ZOLTMgr.~1.tmp", 5, 0}}, false, 0},
};

class SimFileStepTest : public SimBlackBoxTest,
                        public ::testing::WithParamInterface<FileStepCase> {};

TEST_P(SimFileStepTest, ReplacesOnlyWhatADirectCreateWould) {
  const FileStepCase& c = GetParam();
  machine_.faults = c.faults;
  for (sim::Fault& fault : machine_.faults) {
    if (fault.name) fault.name = sim::ToUtf16(File(sim::ToUtf8(*fault.name)).string());
  }
  WriteMachine();
  if (c.dangling) {
    std::filesystem::create_symlink(File("gone.dat"), File(c.file));
  } else {
    WriteBytes(File(c.file), Bytes({7}));
  }
  EXPECT_EQ(Run({u"-export", u"C:", sim::ToUtf16(c.file)}).exitCode, c.exitCode);
  if (c.dangling) {
    EXPECT_TRUE(std::filesystem::is_symlink(File(c.file)));
    EXPECT_FALSE(std::filesystem::exists(File("gone.dat")));
  } else {
    EXPECT_EQ(ReadBytes(File(c.file)), c.exitCode == 0 ? kExported : Bytes({7}));
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, SimFileStepTest, ::testing::ValuesIn(kFileStepCases), CaseName());

class SimSystemTest : public SimBlackBoxTest, public ::testing::WithParamInterface<SystemCase> {};

// The machine file's every Windows and file system: an export over an earlier file, and its
// import; the machine keeps its Windows and file system.
TEST_P(SimSystemTest, ExportsOverAFileAndImportsItBack) {
  machine_.windows = GetParam().windows;
  machine_.fileSystem = GetParam().fileSystem;
  WriteMachine();
  WriteBytes(File("a.dat"), std::vector<std::uint8_t>(134, 0xEE));
  EXPECT_EQ(Run({u"-export", u"C:", u"a.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("a.dat")), kExported);
  ASSERT_EQ(Run({u"-import", u"D:", u"a.dat"}).exitCode, 0);
  const sim::Machine saved = SavedMachine();
  EXPECT_EQ(saved.registry.FindKey(kKeyD)->values, machine_.registry.FindKey(kKeyC)->values);
  EXPECT_EQ(saved.windows, machine_.windows);
  EXPECT_EQ(saved.fileSystem, machine_.fileSystem);
}

INSTANTIATE_TEST_SUITE_P(Systems, SimSystemTest, ::testing::ValuesIn(EverySystem()), CaseName());

TEST_F(SimBlackBoxTest, ExportImportExportGivesTheSameFile) {
  WriteMachine();
  ASSERT_EQ(Run({u"-export", u"C:", u"c.dat"}).exitCode, 0);
  const ProcessResult imported = Run({u"-import", u"D:", u"c.dat"});
  EXPECT_EQ(imported.output, "Import volume settings from c.dat file success!\n");
  EXPECT_EQ(imported.exitCode, 0);
  EXPECT_EQ(SavedMachine().registry.FindKey(kKeyD)->values,
            machine_.registry.FindKey(kKeyC)->values);
  ASSERT_EQ(Run({u"-export", u"d:", u"d.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("d.dat")), ReadBytes(File("c.dat")));
}

TEST_F(SimBlackBoxTest, EmptyListRoundTrip) {
  machine_.registry.SetValue(kKeyC, u"ExclusionList", kRegMultiSz, {});
  WriteMachine();
  ASSERT_EQ(Run({u"-export", u"C:", u"e.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("e.dat")), SettingsFile(1, 0x0102030405060708, 16, 32, 48, 0, {}));
  ASSERT_EQ(Run({u"-import", u"C:", u"e.dat"}).exitCode, 0);
  EXPECT_EQ(SavedMachine().registry.FindValue(kKeyC, u"ExclusionList"), nullptr);
  ASSERT_EQ(Run({u"-export", u"C:", u"f.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("f.dat")), ReadBytes(File("e.dat")));
}

struct ImportCase {
  const char* name;
  std::vector<std::uint8_t> file;
  int exitCode;
};

std::vector<std::uint8_t> Noisy(std::vector<std::uint8_t> file) {
  for (std::size_t i : {4, 5, 6, 7, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55}) file[i] = 0xA5;
  return file;
}

const ImportCase kImportCases[] = {
    {"Empty", {}, 2},
    {"FiftyFive", std::vector<std::uint8_t>(55, 1), 2},
    {"HeadOnly", SettingsFile(1, 2, 3, 4, 5, 0, {}), 0},
    {"ListOneShort", SettingsFile(1, 2, 3, 4, 5, 12, std::vector<std::uint8_t>(11, 0x41)), 3},
    {"ListOneOver", SettingsFile(1, 2, 3, 4, 5, 12, std::vector<std::uint8_t>(13, 0x41)), 0},
    {"ClaimsFourGiB", SettingsFile(1, 2, 3, 4, 5, 0xFFFFFFFF, {}), 3},
    {"NoisyReserved", Noisy(kExported), 0},
};

class SimImportTest : public SimBlackBoxTest, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(SimImportTest, ReadsTheFile) {
  const ImportCase& c = GetParam();
  WriteMachine();
  const std::string machineText = ReadText(MachineFile());
  WriteBytes(File("in.dat"), c.file);
  const ProcessResult result = Run({u"-import", u"D:", u"in.dat"});
  EXPECT_EQ(result.exitCode, c.exitCode);
  if (c.exitCode == 0) {
    EXPECT_EQ(result.output, "Import volume settings from in.dat file success!\n");
    const sim::Machine saved = SavedMachine();
    const std::vector<std::uint8_t> head(c.file.begin(), c.file.begin() + 56);
    // The five numbers and exactly the list's bytes; the reserved bytes go nowhere.
    EXPECT_EQ(saved.registry.FindValue(kKeyD, u"Protected")->data, Bytes({1, 0, 0, 0}));
    const std::uint32_t size = c.file[40] | c.file[41] << 8;
    const sim::RegistryValue* list = saved.registry.FindValue(kKeyD, u"ExclusionList");
    if (size == 0) {
      EXPECT_EQ(list, nullptr);
    } else {
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(list->data,
                std::vector<std::uint8_t>(c.file.begin() + 56, c.file.begin() + 56 + size));
    }
  } else {
    EXPECT_EQ(result.output, "Read imported volume settings in.dat fail!\n");
    EXPECT_EQ(ReadText(MachineFile()), machineText);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SimImportTest, ::testing::ValuesIn(kImportCases), CaseName());

TEST_F(SimBlackBoxTest, FileNamesAreJoinedToTheProgramDirectory) {
  WriteMachine();
  ProcessResult result = Run({u"-export", u"C:", u"sub\\a.dat"});
  EXPECT_EQ(result.output, "Create exported volume settings sub\\a.dat file fail!\n");
  EXPECT_EQ(result.exitCode, 2);
  std::filesystem::create_directory(File("sub"));
  EXPECT_EQ(Run({u"-export", u"C:", u"sub\\a.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("sub") / "a.dat"), kExported);

  // An absolute name stays below the program directory too, where no element may hold a colon:
  // it never names a file.
  result = Run({u"-export", u"C:", u"D:\\a.dat"});
  EXPECT_EQ(result.output, "Create exported volume settings D:\\a.dat file fail!\n");
  EXPECT_EQ(result.exitCode, 2);
  std::filesystem::create_directory(File("D:"));
  EXPECT_EQ(Run({u"-export", u"C:", u"D:\\a.dat"}).exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(File("D:") / "a.dat"));
}

TEST_F(SimBlackBoxTest, DriveThatNamesNoVolume) {
  WriteMachine();
  WriteBytes(File("a.dat"), kExported);
  ProcessResult result = Run({u"-export", u"XY:", u"x.dat"});
  EXPECT_EQ(result.output, "Get volume settings fail!\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(File("x.dat")));
  result = Run({u"-import", u"XY:", u"a.dat"});
  EXPECT_EQ(result.output, "Import volume settings a.dat fail!\n");
  EXPECT_EQ(result.exitCode, 4);
}

TEST_F(SimBlackBoxTest, WrongTypeFailsTheExport) {
  machine_.registry.SetValue(kKeyC, u"Protected", kRegQword, LittleEndian(1, 8));
  WriteMachine();
  const std::string machineText = ReadText(MachineFile());
  const ProcessResult result = Run({u"-export", u"C:", u"a.dat"});
  EXPECT_EQ(result.output, "Get volume settings fail!\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(File("a.dat")));
  EXPECT_EQ(ReadText(MachineFile()), machineText);
}

TEST_F(SimBlackBoxTest, RefusedWriteFailsTheImportPartWay) {
  machine_.faults = {{"RegSetValueExW", u"YellowLevel", 5, 0}};
  WriteMachine();
  WriteBytes(File("a.dat"), SettingsFile(0, 7, 8, 9, 10, 0, {}));
  const ProcessResult result = Run({u"-import", u"C:", u"a.dat"});
  EXPECT_EQ(result.output, "Import volume settings a.dat fail!\n");
  EXPECT_EQ(result.exitCode, 4);
  const sim::Machine saved = SavedMachine();
  EXPECT_EQ(saved.registry.FindValue(kKeyC, u"Protected")->data, LittleEndian(0, 4));
  EXPECT_EQ(saved.registry.FindValue(kKeyC, u"MaxCacheSize")->data, LittleEndian(7, 8));
  EXPECT_EQ(saved.registry.FindValue(kKeyC, u"YellowLevel")->data, LittleEndian(16, 8));
  EXPECT_EQ(saved.registry.FindValue(kKeyC, u"GreenLevel")->data, LittleEndian(48, 8));
  EXPECT_EQ(saved.registry.FindValue(kKeyC, u"ExclusionList")->data, kList);
  EXPECT_EQ(saved.faults, machine_.faults);
}

TEST_F(SimBlackBoxTest, DefaultMachineWithoutAFile) {
  ProcessResult result = Run({u"-export", u"C:", u"zolt_volume_c.dat"});
  EXPECT_EQ(result.output, "Export volume settings to zolt_volume_c.dat file success!\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(MachineFile()));
  result = Run({u"-import", u"D:", u"zolt_volume_c.dat"});
  EXPECT_EQ(result.exitCode, 0);
  // The change lasts: the machine is now in its file.
  const sim::Machine saved = SavedMachine();
  EXPECT_EQ(saved.drives, sim::DefaultMachine().drives);
  EXPECT_EQ(Run({u"-export", u"D:", u"d.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("d.dat")), ReadBytes(File("zolt_volume_c.dat")));
}

TEST_F(SimBlackBoxTest, RunsAtTheSameTimeLoseNothing) {
  WriteBytes(File("c.dat"), SettingsFile(3, 3, 3, 3, 3, 0, {}));
  WriteBytes(File("d.dat"), SettingsFile(4, 4, 4, 4, 4, 0, {}));
  for (int pair = 0; pair < 10; ++pair) {
    WriteMachine();
    auto c = std::async(std::launch::async, [&] { return Run({u"-import", u"C:", u"c.dat"}); });
    auto d = std::async(std::launch::async, [&] { return Run({u"-import", u"D:", u"d.dat"}); });
    ASSERT_EQ(c.get().exitCode, 0);
    ASSERT_EQ(d.get().exitCode, 0);
    const sim::Machine saved = SavedMachine();
    EXPECT_EQ(saved.registry.FindValue(kKeyC, u"Protected")->data, LittleEndian(3, 4));
    ASSERT_NE(saved.registry.FindValue(kKeyD, u"Protected"), nullptr);
    EXPECT_EQ(saved.registry.FindValue(kKeyD, u"Protected")->data, LittleEndian(4, 4));
  }
  // Beside the program, the files and the machine: only the lock is left.
  EXPECT_TRUE(std::filesystem::exists(File("zoltmgr-machine.json.lock")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 5);
}

TEST_F(SimBlackBoxTest, BrokenMachineFileStopsTheProgram) {
  WriteText(MachineFile(), R"({"drives": [{"name": "C:"}]})");
  const ProcessResult result = Run({u"-export", u"C:", u"a.dat"});
  EXPECT_EQ(result.exitCode, 10);
  EXPECT_EQ(result.output, "");
  EXPECT_NE(result.errors.find("zoltmgr-machine.json"), std::string::npos);
  EXPECT_NE(result.errors.find("lacks \"volumeNumber\""), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(File("a.dat")));
}

}  // namespace
