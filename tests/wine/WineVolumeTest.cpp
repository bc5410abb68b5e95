// The shipped ZOLTMgr.exe, unmodified, from end to end under Wine, on volumes that the test-only
// driver serves: T: (the second interface, after one of another volume manager with T:'s volume
// number), U: (after an interface whose open is refused), W: (the last interface) and V: (no
// interface at all). Wine's own setupapi, device I/O and registry
// answer every call.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "platform/Unique.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "volume/VolumeDevice.h"

namespace {

const std::wstring kParameters = L"System\\CurrentControlSet\\Services\\KvVolRedir\\Parameters";
const std::wstring kDisk = L"{3e9a51c0-7d4b-4f2a-9b1e-5c8d2f6a7b40}";
const std::wstring kKeyT = kParameters + L"\\" + kDisk + L"#0000000000200000";
const std::wstring kKeyU = kParameters + L"\\" + kDisk + L"#0000000000400000";
const std::wstring kKeyW = kParameters + L"\\" + kDisk + L"#0000000000500000";
const std::vector<std::uint8_t> kList = {0x41, 0, 0, 0, 0x42, 0, 0x43, 0, 0, 0, 0, 0};

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
  return text;
}

struct Value {
  DWORD type;
  std::vector<std::uint8_t> data;
  bool operator==(const Value&) const = default;
};
using Values = std::map<std::wstring, Value>;  // by upper-case name

// Every value of a key, or nothing when the key does not exist.
Values Snapshot(const std::wstring& path) {
  Values values;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return values;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    std::vector<std::uint8_t> data(16384);
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      break;
    }
    data.resize(size);
    values[Upper(name)] = Value{type, data};
  }
  RegCloseKey(key);
  return values;
}

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void SetValue(const std::wstring& path, const wchar_t* name, DWORD type,
              const std::vector<std::uint8_t>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetSettings(const std::wstring& path, std::uint32_t protect, std::uint64_t maxCache,
                 std::uint64_t yellow, std::uint64_t red, std::uint64_t green,
                 const std::vector<std::uint8_t>& list) {
  SetValue(path, L"Protected", REG_DWORD, LittleEndian(protect, 4));
  SetValue(path, L"MaxCacheSize", REG_QWORD, LittleEndian(maxCache, 8));
  SetValue(path, L"YellowLevel", REG_QWORD, LittleEndian(yellow, 8));
  SetValue(path, L"RedLevel", REG_QWORD, LittleEndian(red, 8));
  SetValue(path, L"GreenLevel", REG_QWORD, LittleEndian(green, 8));
  SetValue(path, L"ExclusionList", REG_MULTI_SZ, list);
}

class WineVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\KvVolRedir");
    program_ = CopyProgramTo(dir_.path());
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\KvVolRedir");
  }

  ProcessResult Run(std::vector<std::u16string> arguments) const {
    return RunProcess(program_, arguments);
  }
  std::filesystem::path File(const char* name) const { return dir_.path() / name; }

  TempDir dir_;
  std::filesystem::path program_;
};

const std::vector<std::uint8_t> kExportedT =
    SettingsFile(1, 0x0102030405060708, 16, 32, 48, 12, kList);

TEST_F(WineVolumeTest, InterfacesEnumerateInTheOrderTheTestsAssume) {
  using namespace platform;
  UniqueDevInfoSet set;
  ASSERT_EQ(SetupDiGetClassDevsW(&kGuidDevinterfaceVolume, kDigcfPresent | kDigcfDeviceInterface,
                                 set.put()),
            kErrorSuccess);
  std::vector<std::wstring> offsets;
  DeviceInterfaceData data{};
  data.cbSize = kDeviceInterfaceDataSize;
  for (std::uint32_t index = 0;
       SetupDiEnumDeviceInterfaces(set.get(), &kGuidDevinterfaceVolume, index, &data) == 0;
       ++index) {
    std::vector<std::uint8_t> buffer(1024);
    auto* detail = reinterpret_cast<DeviceInterfaceDetailData*>(buffer.data());
    detail->cbSize = kDeviceInterfaceDetailDataSize;
    ASSERT_EQ(SetupDiGetDeviceInterfaceDetailW(set.get(), &data, detail, 1024, nullptr, nullptr),
              kErrorSuccess);
    const std::wstring path = Upper(reinterpret_cast<const wchar_t*>(detail->DevicePath));
    offsets.push_back(path.substr(path.find(Upper(kDisk)) + kDisk.size() + 1, 16));
  }
  EXPECT_EQ(offsets, (std::vector<std::wstring>{L"0000000000100000", L"0000000000200000",
                                                L"0000000000300000", L"0000000000400000",
                                                L"0000000000500000"}));
}

struct LookupCase {
  const char16_t* drive;
  platform::Status status;
  const wchar_t* offset;
};

TEST_F(WineVolumeTest, LookupFindsEachDrivesInterface) {
  const LookupCase cases[] = {
      {u"T:", 0, L"0000000000200000"},  // T:'s number under another manager before it
      {u"U:", 0, L"0000000000400000"},  // a refusing interface before it
      {u"W:", 0, L"0000000000500000"},
      {u"V:", platform::kErrorFileNotFound, nullptr},  // the last interface answers another number
  };
  for (const LookupCase& c : cases) {
    UniqueHeapBlock<char16_t> id;
    EXPECT_EQ(FindVolumeInstanceId(c.drive, id.put()), c.status);
    if (c.offset) {
      ASSERT_TRUE(id);
      EXPECT_EQ(Upper(reinterpret_cast<const wchar_t*>(id.get())),
                Upper(L"STORAGE\\VOLUME\\" + kDisk + L"#" + c.offset));
    } else {
      EXPECT_FALSE(id);
    }
  }
}

std::size_t FilesIn(const std::filesystem::path& directory) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(directory), {}));
}

TEST_F(WineVolumeTest, ExportOfT) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  const ProcessResult result = Run({u"-export", u"T:", u"t.dat"});
  EXPECT_EQ(result.output, "Export volume settings to t.dat file success!\r\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(ReadBytes(File("t.dat")), kExportedT);
  // Again over the file it wrote, which the new one replaces; nothing else is left beside them.
  WriteBytes(File("t.dat"), std::vector<std::uint8_t>(200, 0xEE));
  EXPECT_EQ(Run({u"-export", u"T:", u"t.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("t.dat")), kExportedT);
  EXPECT_EQ(FilesIn(dir_.path()), 2u);
}

// Someone reads the file and lets no one delete or rename it meanwhile: for a moment, which the
// export waits out, or for longer, when it fails and keeps the earlier file.
TEST_F(WineVolumeTest, ExportWaitsAWhileForAReader) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  const std::vector<std::uint8_t> earlier(134, 0xEE);
  const struct {
    DWORD heldFor;  // 0: until the export has ended
    int exitCode;
    const char* output;
  } cases[] = {{500, 0, "Export volume settings to t.dat file success!\r\n"},
               {0, 5, "Close exported volume settings t.dat file fail!\r\n"}};
  for (const auto& c : cases) {
    WriteBytes(File("t.dat"), earlier);
    const HANDLE reader =
        CreateFileW(File("t.dat").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::thread closer([&] {
      if (!c.heldFor) return;
      Sleep(c.heldFor);
      CloseHandle(reader);
    });
    const ProcessResult result = Run({u"-export", u"T:", u"t.dat"});
    closer.join();
    if (!c.heldFor) CloseHandle(reader);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(ReadBytes(File("t.dat")), c.exitCode == 0 ? kExportedT : earlier);
    EXPECT_EQ(FilesIn(dir_.path()), 2u);
  }
}

// Another writer, which does not take this machine's turns (an earlier version, or the program on
// another machine writing into the same folder), keeps trying to rename its own closed
// ZOLTMgr.~1.tmp while a reader holds the target for a moment: whatever it finds under that
// name, it never carries off the export's content.
TEST_F(WineVolumeTest, AnotherWriterNeverCarriesOffTheExport) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  WriteBytes(File("t.dat"), {2});
  WriteBytes(File("ZOLTMgr.~1.tmp"), {3});
  const HANDLE reader =
      CreateFileW(File("t.dat").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::atomic<bool> exporting = true;
  std::thread other([&] {
    for (int tries = 0; exporting; ++tries) {
      MoveFileExW(File("ZOLTMgr.~1.tmp").c_str(), File("o.dat").c_str(), MOVEFILE_REPLACE_EXISTING);
      if (tries == 50) CloseHandle(reader);
      Sleep(20);
    }
  });
  const ProcessResult result = Run({u"-export", u"T:", u"t.dat"});
  exporting = false;
  other.join();
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(ReadBytes(File("t.dat")), kExportedT);
  EXPECT_NE(ReadBytes(File("o.dat")), kExportedT);
}

// The file lies beside the program, whichever folder the run starts in.
TEST_F(WineVolumeTest, ExportFromAnotherCurrentDirectory) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  WriteBytes(File("t.dat"), {2});
  const TempDir elsewhere;
  const std::filesystem::path current = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path());
  const ProcessResult result = Run({u"-export", u"T:", u"t.dat"});
  std::filesystem::current_path(current);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(ReadBytes(File("t.dat")), kExportedT);
  EXPECT_EQ(FilesIn(elsewhere.path()), 0u);
}

// What killed exports left beside the file is removed, but for one that someone still has open.
TEST_F(WineVolumeTest, ExportRemovesWhatKilledExportsLeft) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  WriteBytes(File("t.dat"), {2});
  for (int n = 1; n <= 100; ++n) {
    WriteBytes(File(("ZOLTMgr.~" + std::to_string(n) + ".tmp").c_str()), {1});
  }
  const HANDLE held = CreateFileW(File("ZOLTMgr.~7.tmp").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const ProcessResult result = Run({u"-export", u"T:", u"t.dat"});
  CloseHandle(held);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(ReadBytes(File("t.dat")), kExportedT);
  EXPECT_EQ(FilesIn(dir_.path()), 3u);
  EXPECT_TRUE(std::filesystem::exists(File("ZOLTMgr.~7.tmp")));
}

// Where a direct create would fail, the export fails as it would; where it would succeed, so does
// the export, however long the name.
TEST_F(WineVolumeTest, ExportFailsWhereACreateWould) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  std::filesystem::create_directory(File("folder"));
  const std::u16string longName(252, u'n');
  const struct {
    std::u16string file;
    int exitCode;
  } cases[] = {{u"", 2}, {u"folder", 2}, {longName, 0}};
  for (const auto& c : cases) {
    const ProcessResult result = Run({u"-export", u"T:", c.file});
    EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
    EXPECT_EQ(FilesIn(dir_.path()), c.exitCode == 0 ? 3u : 2u);
  }
}

// The Linux path of what this test reaches as `path` under Wine.
std::u16string UnixPath(const std::filesystem::path& path) {
  using Function = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Function>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  char* unix = convert ? convert(path.c_str()) : nullptr;
  const std::string text = unix ? unix : "";
  HeapFree(GetProcessHeap(), 0, unix);
  return std::u16string(text.begin(), text.end());
}

// Runs a Linux shell script; Wine neither waits for a Linux program nor tells its exit code,
// which comes through a file.
int RunShell(const std::u16string& script, std::vector<std::u16string> arguments) {
  const TempDir scratch;
  arguments.insert(arguments.begin(),
                   {u"-c", u"(" + script + u"); echo $? >\"$0.part\"; mv \"$0.part\" \"$0\"",
                    UnixPath(scratch.path()) + u"/exit"});
  RunProcess(L"Z:\\bin\\sh", arguments);
  for (int i = 0; i < 600 && !std::filesystem::exists(scratch.path() / "exit"); ++i) Sleep(50);
  const std::vector<std::uint8_t> code = ReadBytes(scratch.path() / "exit");
  return code.empty() ? -1 : std::atoi(std::string(code.begin(), code.end()).c_str());
}

// A name typed with a trailing dot or space is the file that it forms, which a failed export
// keeps (its file-size limit is 0).
TEST_F(WineVolumeTest, FailedExportKeepsTheFileThatTheTypedNameIs) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  const std::u16string limited =
      u"ulimit -f 0; trap '' XFSZ; exec /usr/lib/wine/wine64 \"$@\" >/dev/null 2>&1";
  for (const char16_t* typed : {u"ZOLTMgr.~1.tmp.", u"ZOLTMgr.~1.tmp "}) {
    WriteBytes(File("ZOLTMgr.~1.tmp"), {7});
    EXPECT_EQ(RunShell(limited, {program_.u16string(), u"-export", u"T:", typed}), 3);
    EXPECT_EQ(ReadBytes(File("ZOLTMgr.~1.tmp")), std::vector<std::uint8_t>{7});
    EXPECT_EQ(FilesIn(dir_.path()), 2u);
  }
}

// A link to nothing of a replacement's name is a name taken: nothing is made where it points.
TEST_F(WineVolumeTest, ExportCreatesNothingThroughALinkToNothing) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  const TempDir elsewhere;
  ASSERT_EQ(RunShell(u"ln -s \"$1\"/gone.dat \"$2\"",
                     {UnixPath(elsewhere.path()), UnixPath(File("ZOLTMgr.~1.tmp"))}),
            0);
  EXPECT_EQ(Run({u"-export", u"T:", u"t.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("t.dat")), kExportedT);
  EXPECT_EQ(FilesIn(elsewhere.path()), 0u);
}

// Two imports started while another run holds the lock wait for it, then take turns: the volume
// holds one file's values, whole.
TEST_F(WineVolumeTest, RunsTakeTurnsAtTheRegistry) {
  SetSettings(kKeyT, 1, 2, 3, 4, 5, kList);
  WriteBytes(File("a.dat"), SettingsFile(7, 7, 7, 7, 7, 12, kList));
  WriteBytes(File("b.dat"), SettingsFile(9, 9, 9, 9, 9, 0, {}));
  const Values before = Snapshot(kKeyT);
  const HANDLE lock = CreateMutexW(nullptr, TRUE, L"Global\\ZOLTMgr.VolumeSettings");
  ASSERT_NE(lock, nullptr);
  auto a = std::async(std::launch::async, [&] { return Run({u"-import", u"T:", u"a.dat"}); });
  auto b = std::async(std::launch::async, [&] { return Run({u"-import", u"T:", u"b.dat"}); });
  EXPECT_EQ(a.wait_for(std::chrono::seconds(3)), std::future_status::timeout);
  EXPECT_EQ(b.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  EXPECT_EQ(Snapshot(kKeyT), before);
  ReleaseMutex(lock);
  CloseHandle(lock);
  EXPECT_EQ(a.get().exitCode, 0);
  EXPECT_EQ(b.get().exitCode, 0);
  const Values after = Snapshot(kKeyT);
  const std::uint8_t number = after.at(L"PROTECTED").data.at(0);
  EXPECT_TRUE(number == 7 || number == 9);
  for (const wchar_t* name : {L"MAXCACHESIZE", L"YELLOWLEVEL", L"REDLEVEL", L"GREENLEVEL"}) {
    EXPECT_EQ(after.at(name).data, LittleEndian(number, 8)) << name;
  }
  EXPECT_EQ(after.count(L"EXCLUSIONLIST"), number == 7 ? 1u : 0u);
}

// The program's folder may be one that others can write to. DLLs planted there under the names
// of those that the program and its imports load, and of some that Windows' own DLLs may ask for,
// are never loaded into it.
TEST_F(WineVolumeTest, NoPlantedDllIsLoaded) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  const char* const names[] = {"advapi32.dll",   "bcrypt.dll",  "cfgmgr32.dll", "cryptbase.dll",
                               "dbghelp.dll",    "gdi32.dll",   "imm32.dll",    "kernel32.dll",
                               "kernelbase.dll", "msvcrt.dll",  "rpcrt4.dll",   "sechost.dll",
                               "setupapi.dll",   "shcore.dll",  "shlwapi.dll",  "ucrtbase.dll",
                               "user32.dll",     "userenv.dll", "version.dll",  "win32u.dll",
                               "zlib1.dll"};
  const std::filesystem::path planted = HostPath(std::getenv("ZOLT_PLANTED_DLL"));
  for (const char* name : names) std::filesystem::copy_file(planted, File(name));
  const ProcessResult result = Run({u"-export", u"T:", u"t.dat"});
  EXPECT_EQ(result.output, "Export volume settings to t.dat file success!\r\n");
  EXPECT_EQ(ReadBytes(File("t.dat")), kExportedT);
  for (const char* name : names) {
    EXPECT_FALSE(std::filesystem::exists(File((std::string(name) + ".loaded").c_str()))) << name;
  }
}

TEST_F(WineVolumeTest, ImportOntoUThenExportGivesTheSameFile) {
  SetSettings(kKeyT, 1, 0x0102030405060708, 16, 32, 48, kList);
  ASSERT_EQ(Run({u"-export", u"T:", u"t.dat"}).exitCode, 0);
  const ProcessResult imported = Run({u"-import", u"U:", u"t.dat"});
  EXPECT_EQ(imported.output, "Import volume settings from t.dat file success!\r\n");
  EXPECT_EQ(imported.exitCode, 0);
  const Values u = Snapshot(kKeyU);
  EXPECT_EQ(u, Snapshot(kKeyT));
  EXPECT_EQ(u.at(L"PROTECTED").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(u.at(L"GREENLEVEL").type, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(u.at(L"EXCLUSIONLIST"), (Value{REG_MULTI_SZ, kList}));
  ASSERT_EQ(Run({u"-export", u"U:", u"u.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("u.dat")), kExportedT);
}

TEST_F(WineVolumeTest, EmptyListRoundTrip) {
  SetSettings(kKeyW, 0, 7, 8, 9, 10, {});
  ASSERT_EQ(Run({u"-export", u"W:", u"w.dat"}).exitCode, 0);
  const std::vector<std::uint8_t> file = ReadBytes(File("w.dat"));
  EXPECT_EQ(file, SettingsFile(0, 7, 8, 9, 10, 0, {}));
  ASSERT_EQ(Run({u"-import", u"W:", u"w.dat"}).exitCode, 0);
  EXPECT_EQ(Snapshot(kKeyW).count(L"EXCLUSIONLIST"), 0u);
  ASSERT_EQ(Run({u"-export", u"W:", u"again.dat"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(File("again.dat")), file);
}

TEST_F(WineVolumeTest, EmptyListOntoAVolumeWithoutAList) {
  WriteBytes(File("empty.dat"), SettingsFile(1, 2, 3, 4, 5, 0, {}));
  ASSERT_FALSE(KeyExists(kKeyU));
  const ProcessResult result = Run({u"-import", u"U:", u"empty.dat"});
  EXPECT_EQ(result.output, "Import volume settings from empty.dat file success!\r\n");
  EXPECT_EQ(result.exitCode, 0);
  const Values u = Snapshot(kKeyU);
  EXPECT_EQ(u.size(), 5u);
  EXPECT_EQ(u.at(L"MAXCACHESIZE"), (Value{REG_QWORD, LittleEndian(2, 8)}));
}

TEST_F(WineVolumeTest, WrongTypeFailsTheExport) {
  SetSettings(kKeyT, 1, 2, 3, 4, 5, kList);
  SetValue(kKeyT, L"Protected", REG_QWORD, LittleEndian(1, 8));
  const ProcessResult result = Run({u"-export", u"T:", u"t.dat"});
  EXPECT_EQ(result.output, "Get volume settings fail!\r\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(File("t.dat")));
}

TEST_F(WineVolumeTest, FileFailuresLeaveTheRegistryAlone) {
  SetSettings(kKeyT, 1, 2, 3, 4, 5, kList);
  const Values before = Snapshot(kKeyT);
  WriteBytes(File("short.dat"), std::vector<std::uint8_t>(55, 1));
  WriteBytes(File("cut.dat"), SettingsFile(0, 0, 0, 0, 0, 12, std::vector<std::uint8_t>(11, 0)));
  // More list than any export could read back.
  WriteBytes(File("long.dat"), SettingsFile(0, 0, 0, 0, 0, 8193, std::vector<std::uint8_t>(8193)));
  const struct {
    const char16_t* file;
    int exitCode;
  } cases[] = {{u"missing.dat", 1}, {u"short.dat", 2}, {u"cut.dat", 3}, {u"long.dat", 3}};
  for (const auto& c : cases) {
    EXPECT_EQ(Run({u"-import", u"T:", c.file}).exitCode, c.exitCode);
    EXPECT_EQ(Snapshot(kKeyT), before);
  }
  EXPECT_FALSE(KeyExists(kKeyU));
}

TEST_F(WineVolumeTest, DriveWithoutAnInterface) {
  WriteBytes(File("t.dat"), kExportedT);
  ProcessResult result = Run({u"-export", u"V:", u"v.dat"});
  EXPECT_EQ(result.output, "Get volume settings fail!\r\n");
  EXPECT_EQ(result.exitCode, 1);
  result = Run({u"-import", u"V:", u"t.dat"});
  EXPECT_EQ(result.output, "Import volume settings t.dat fail!\r\n");
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_FALSE(KeyExists(kParameters));
}

}  // namespace
