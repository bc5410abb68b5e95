#include "volume/ZOLTVolume.h"

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <functional>
#include <string>
#include <vector>

#include "platform/Unique.h"
#include "unit/SimTest.h"

namespace {

using namespace platform;

const std::u16string kKey = SettingsKey(u"{disk}#1");
const std::vector<std::uint8_t> kList = Bytes({0x41, 0, 0, 0, 0x42, 0, 0x43, 0, 0, 0, 0, 0});

class StoreTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    machine().drives = {sim::Drive{u"C:", 1, 0, 0}, sim::Drive{u"D:", 2, 0, 0}};
    machine().volumeInterfaces = {Volume(u"{disk}#2", 2), Volume(u"{disk}#1", 1)};
  }

  static void SetAll() { SetSettingsValues(machine(), kKey, 1, 0x40000000, 70, 90, 50, kList); }

  static std::vector<std::uint8_t> Data(std::u16string_view name) {
    const sim::RegistryValue* value = machine().registry.FindValue(kKey, name);
    return value ? value->data : std::vector<std::uint8_t>{};
  }
};

// The key path that a volume with the given instance ID gets.
struct KeyCase {
  const char* name;
  std::u16string instanceId;
  Status status;
  std::u16string keyPath;  // passed to RegCreateKeyExW; empty when not called
};

const KeyCase kKeyCases[] = {
    {"Usual", u"STORAGE\\VOLUME\\{disk}#1", 0, SettingsKey(u"{disk}#1")},
    {"FirstFifteenNotCompared", u"storage#volume#{disk}#1", 0, SettingsKey(u"{disk}#1")},
    {"ExactlyFifteen", u"STORAGE\\VOLUME\\", 0, SettingsKey(u"")},
    {"Fourteen", u"STORAGE\\VOLUME", kErrorInvalidParameter, u""},
    {"Empty", u"", kErrorInvalidParameter, u""},
    {"RemainderUnchanged", u"STORAGE\\VOLUME\\{Disk}#A\\b", 0, SettingsKey(u"{Disk}#A\\b")},
};

class SettingsKeyTest : public StoreTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(SettingsKeyTest, DerivesThePath) {
  const KeyCase& c = GetParam();
  machine().volumeInterfaces[1].instanceId = c.instanceId;
  UniqueRegKey key;
  EXPECT_EQ(OpenVolumeSettingsKey(u"C:", key.put()), c.status);
  EXPECT_EQ(static_cast<bool>(key), c.status == 0);
  if (c.keyPath.empty()) {
    EXPECT_EQ(machine().CallCount("RegCreateKeyExW"), 0);
    EXPECT_FALSE(machine().registryChanged);
  } else {
    ASSERT_EQ(machine().CallCount("RegCreateKeyExW"), 1);
    const auto& call = *std::find_if(machine().calls.begin(), machine().calls.end(),
                                     [](const auto& r) { return r.call == "RegCreateKeyExW"; });
    EXPECT_EQ(call.subject, c.keyPath);
    EXPECT_EQ(call.arguments,
              (std::vector<std::uint32_t>{kRegOptionNonVolatile, kKeyQueryValue | kKeySetValue}));
    EXPECT_NE(machine().registry.FindKey(c.keyPath), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, SettingsKeyTest, ::testing::ValuesIn(kKeyCases), CaseName());

TEST_F(StoreTest, KeyFailures) {
  UniqueRegKey key;
  // After the lookup's two detail blocks and its ID: the key path's block, for the prefix, the
  // 8 characters after the ID's first 15, the terminator and one spare.
  machine().faults = {{"HeapAlloc", {}, 14, 3}};
  EXPECT_EQ(OpenVolumeSettingsKey(u"C:", key.put()), kErrorOutOfMemory);
  ASSERT_EQ(machine().CallCount("HeapAlloc"), 4);
  EXPECT_EQ(machine().calls[LastCall("HeapAlloc")].arguments[1], (56u + 8 + 2) * 2);
  EXPECT_EQ(machine().CallCount("RegCreateKeyExW"), 0);
  machine().faults = {{"RegCreateKeyExW", {}, 5, 0}};
  EXPECT_EQ(OpenVolumeSettingsKey(u"C:", key.put()), kErrorAccessDenied);
  EXPECT_EQ(OpenVolumeSettingsKey(u"Q:", key.put()), kErrorFileNotFound);
  EXPECT_FALSE(key);
  EXPECT_EQ(machine().registry.FindKey(kKey), nullptr);
}

TEST_F(StoreTest, GetSettingsReadsAllSix) {
  SetAll();
  VolumeSettings settings;
  ASSERT_TRUE(ZOLTVolume(u"C:").GetSettings(settings));
  EXPECT_EQ(settings.Protected, 1u);
  EXPECT_EQ(settings.MaxCacheSize, 0x40000000u);
  EXPECT_EQ(settings.YellowLevel, 70u);
  EXPECT_EQ(settings.RedLevel, 90u);
  EXPECT_EQ(settings.GreenLevel, 50u);
  ASSERT_EQ(settings.ExclusionListSize, kList.size());
  EXPECT_TRUE(std::equal(kList.begin(), kList.end(), settings.ExclusionList.get()));
  // Six accesses, each with its own lookup and its own key.
  EXPECT_EQ(machine().CallCount("CreateFileW", u"\\\\.\\C:"), 6);
  EXPECT_EQ(machine().CallCount("SetupDiGetClassDevsW"), 6);
  EXPECT_EQ(machine().CallCount("RegCreateKeyExW"), 6);
  EXPECT_EQ(machine().CallCount("RegQueryValueExW"), 6);
  EXPECT_EQ(machine().CallCount("RegCloseKey"), 6);
  EXPECT_FALSE(machine().registryChanged);
}

struct ReadCase {
  const char* name;
  std::function<void(sim::Registry&)> change;
  bool result;
  int queries;  // values read before the answer
  bool listAttached;
  std::uint32_t listSize;
};

void Set(sim::Registry& r, const char16_t* name, std::uint32_t type,
         std::vector<std::uint8_t> data) {
  r.SetValue(kKey, name, type, std::move(data));
}

const ReadCase kReadCases[] = {
    {"ProtectedMissing", [](auto& r) { r.DeleteValue(kKey, u"Protected"); }, false, 1, false, 0},
    {"ProtectedAsQword", [](auto& r) { Set(r, u"Protected", kRegQword, LittleEndian(1, 8)); },
     false, 1, false, 0},
    {"ProtectedTwoBytes",
     [](auto& r) {
       Set(r, u"Protected", kRegDword, Bytes({1, 0}));
     },
     false, 1, false, 0},
    {"ProtectedEightBytes", [](auto& r) { Set(r, u"Protected", kRegDword, LittleEndian(1, 8)); },
     false, 1, false, 0},
    {"MaxCacheSizeAsDword", [](auto& r) { Set(r, u"MaxCacheSize", kRegDword, LittleEndian(1, 4)); },
     false, 2, false, 0},
    {"MaxCacheSizeMissing", [](auto& r) { r.DeleteValue(kKey, u"MaxCacheSize"); }, false, 2, false,
     0},
    {"YellowLevelShort", [](auto& r) { Set(r, u"YellowLevel", kRegQword, LittleEndian(1, 4)); },
     false, 3, false, 0},
    {"RedLevelAsBinary", [](auto& r) { Set(r, u"RedLevel", kRegBinary, LittleEndian(1, 8)); },
     false, 4, false, 0},
    {"GreenLevelMissing", [](auto& r) { r.DeleteValue(kKey, u"GreenLevel"); }, false, 5, false, 0},
    {"ListEmpty", [](auto& r) { Set(r, u"ExclusionList", kRegMultiSz, {}); }, true, 6, true, 0},
    {"ListMissingReadsEmpty", [](auto& r) { r.DeleteValue(kKey, u"ExclusionList"); }, true, 6, true,
     0},
    {"ListFull",
     [](auto& r) { Set(r, u"ExclusionList", kRegMultiSz, std::vector<std::uint8_t>(8192, 7)); },
     true, 6, true, 8192},
    {"ListOneOverTheRoom",
     [](auto& r) { Set(r, u"ExclusionList", kRegMultiSz, std::vector<std::uint8_t>(8193, 7)); },
     false, 6, true, 8193},
    {"ListTooLong",
     [](auto& r) { Set(r, u"ExclusionList", kRegMultiSz, std::vector<std::uint8_t>(8194, 7)); },
     false, 6, true, 8194},
    {"ListAsString",
     [](auto& r) {
       Set(r, u"ExclusionList", kRegSz, Bytes({0x41, 0, 0, 0}));
     },
     false, 6, true, 4},
    {"ListOddLength",
     [](auto& r) {
       Set(r, u"ExclusionList", kRegMultiSz, Bytes({0x41, 0, 0}));
     },
     true, 6, true, 3},
    {"NamesIgnoreCase",
     [](auto& r) {
       r.DeleteValue(kKey, u"Protected");
       Set(r, u"PROTECTED", kRegDword, LittleEndian(1, 4));
     },
     true, 6, true, 12},
};

class GetSettingsTest : public StoreTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(GetSettingsTest, StopsAtTheFirstFailure) {
  const ReadCase& c = GetParam();
  SetAll();
  c.change(machine().registry);
  VolumeSettings settings;
  EXPECT_EQ(ZOLTVolume(u"C:").GetSettings(settings), c.result);
  EXPECT_EQ(machine().CallCount("RegQueryValueExW"), c.queries);
  EXPECT_EQ(static_cast<bool>(settings.ExclusionList), c.listAttached);
  EXPECT_EQ(settings.ExclusionListSize, c.listSize);
}

INSTANTIATE_TEST_SUITE_P(Values, GetSettingsTest, ::testing::ValuesIn(kReadCases), CaseName());

TEST_F(StoreTest, ReadOfAVolumeWithoutSettingsCreatesItsKey) {
  VolumeSettings settings;
  EXPECT_FALSE(ZOLTVolume(u"C:").GetSettings(settings));
  const sim::RegistryKey* key = machine().registry.FindKey(kKey);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->values.empty());
  EXPECT_EQ(machine().CallCount("RegQueryValueExW"), 1);
}

TEST_F(StoreTest, VolumeThatIsNotThereReachesNoRegistry) {
  SetAll();
  VolumeSettings settings;
  EXPECT_FALSE(ZOLTVolume(u"XY:").GetSettings(settings));
  EXPECT_FALSE(ZOLTVolume(u"XY:").SetSettings(settings));
  EXPECT_EQ(machine().CallCount("RegCreateKeyExW"), 0);
  EXPECT_FALSE(machine().registryChanged);
}

TEST_F(StoreTest, ListMissingButLookupFailingIsNoEmptyList) {
  SetAll();
  // The volume goes away between the fifth access and the list: that is a failure, not an
  // absent list.
  machine().faults = {{"CreateFileW", u"\\\\.\\C:", kErrorFileNotFound, 5}};
  VolumeSettings settings;
  EXPECT_FALSE(ZOLTVolume(u"C:").GetSettings(settings));
  EXPECT_EQ(machine().CallCount("RegQueryValueExW"), 5);
  // No key was opened for the list: its size is 0, whatever room its buffer has.
  EXPECT_TRUE(settings.ExclusionList);
  EXPECT_EQ(settings.ExclusionListSize, 0u);
}

VolumeSettings Record(std::uint32_t protect, std::vector<std::uint8_t> list) {
  VolumeSettings settings;
  settings.Protected = protect;
  settings.MaxCacheSize = 0x0102030405060708;
  settings.YellowLevel = 16;
  settings.RedLevel = 32;
  settings.GreenLevel = 48;
  settings.ExclusionListSize = static_cast<std::uint32_t>(list.size());
  settings.ExclusionList = NewListBuffer(list.size());
  std::copy(list.begin(), list.end(), settings.ExclusionList.get());
  return settings;
}

TEST_F(StoreTest, SetSettingsWritesTypesAndBytes) {
  ASSERT_TRUE(ZOLTVolume(u"C:").SetSettings(Record(1, kList)));
  const sim::RegistryKey* key = machine().registry.FindKey(kKey);
  ASSERT_NE(key, nullptr);
  const std::vector<sim::RegistryValue> expected = {
      {u"Protected", kRegDword, LittleEndian(1, 4)},
      {u"MaxCacheSize", kRegQword, Bytes({8, 7, 6, 5, 4, 3, 2, 1})},
      {u"YellowLevel", kRegQword, LittleEndian(16, 8)},
      {u"RedLevel", kRegQword, LittleEndian(32, 8)},
      {u"GreenLevel", kRegQword, LittleEndian(48, 8)},
      {u"ExclusionList", kRegMultiSz, kList}};
  EXPECT_EQ(key->values, expected);
  EXPECT_EQ(machine().CallCount("CreateFileW", u"\\\\.\\C:"), 6);
  EXPECT_EQ(machine().CallCount("RegCloseKey"), 6);
}

TEST_F(StoreTest, SetSettingsWritesAListOfAnyLength) {
  const std::vector<std::uint8_t> longList(10000, 0x5A);
  ASSERT_TRUE(ZOLTVolume(u"C:").SetSettings(Record(0, longList)));
  EXPECT_TRUE(Data(u"ExclusionList") == longList);
  VolumeSettings settings;
  EXPECT_FALSE(ZOLTVolume(u"C:").GetSettings(settings));
}

TEST_F(StoreTest, EmptyListDeletesTheValue) {
  SetAll();
  ASSERT_TRUE(ZOLTVolume(u"C:").SetSettings(Record(0, {})));
  EXPECT_EQ(machine().registry.FindValue(kKey, u"ExclusionList"), nullptr);
  EXPECT_EQ(Data(u"Protected"), LittleEndian(0, 4));
  // Already absent: the volume has no list, as asked.
  ASSERT_TRUE(ZOLTVolume(u"C:").SetSettings(Record(0, {})));
  EXPECT_EQ(machine().CallCount("RegDeleteValueW"), 2);
}

TEST_F(StoreTest, RefusedDeletionFails) {
  SetAll();
  machine().faults = {{"RegDeleteValueW", u"ExclusionList", kErrorAccessDenied, 0}};
  EXPECT_FALSE(ZOLTVolume(u"C:").SetSettings(Record(0, {})));
  EXPECT_EQ(Data(u"ExclusionList"), kList);
}

// Each value in its turn refused: those before it hold the new data, it and those after it the
// old, and no write is tried after the refused one.
class RefusedWriteTest : public StoreTest, public ::testing::WithParamInterface<int> {};

TEST_P(RefusedWriteTest, StopsAndUndoesNothing) {
  const char16_t* const names[] = {u"Protected", u"MaxCacheSize", u"YellowLevel",
                                   u"RedLevel",  u"GreenLevel",   u"ExclusionList"};
  const std::vector<std::uint8_t> before[] = {LittleEndian(1, 4),  LittleEndian(0x40000000, 8),
                                              LittleEndian(70, 8), LittleEndian(90, 8),
                                              LittleEndian(50, 8), kList};
  const std::vector<std::uint8_t> after[] = {LittleEndian(0, 4),  Bytes({8, 7, 6, 5, 4, 3, 2, 1}),
                                             LittleEndian(16, 8), LittleEndian(32, 8),
                                             LittleEndian(48, 8), Bytes({1, 2})};
  const int refused = GetParam();
  SetAll();
  machine().faults = {{"RegSetValueExW", names[refused], kErrorAccessDenied, 0}};
  EXPECT_FALSE(ZOLTVolume(u"C:").SetSettings(Record(0, Bytes({1, 2}))));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Data(names[i]), i < refused ? after[i] : before[i]) << i;
  EXPECT_EQ(machine().CallCount("RegSetValueExW"), refused + 1);
}

INSTANTIATE_TEST_SUITE_P(Values, RefusedWriteTest, ::testing::Range(0, 6));

TEST_F(StoreTest, RoundTripOfAnEmptyList) {
  SetSettingsValues(machine(), kKey, 1, 2, 3, 4, 5, {});
  VolumeSettings first;
  ASSERT_TRUE(ZOLTVolume(u"C:").GetSettings(first));
  ASSERT_EQ(first.ExclusionListSize, 0u);
  ASSERT_TRUE(ZOLTVolume(u"D:").SetSettings(first));
  VolumeSettings second;
  ASSERT_TRUE(ZOLTVolume(u"D:").GetSettings(second));
  EXPECT_EQ(EncodeSettingsHead(second), EncodeSettingsHead(first));
}

}  // namespace
