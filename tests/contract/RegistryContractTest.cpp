// What the settings store relies on of the registry, pinned down through the seam. The same
// cases run against the simulated registry and, under Wine, against a real one: wherever the two
// differ, the simulation is wrong.

#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/TestKey.h"
#include "platform/Platform.h"
#include "platform/Unique.h"
#include "support/Narrow.h"

namespace {

using namespace platform;
using Bytes = std::vector<std::uint8_t>;

class RegistryContractTest : public ::testing::Test {
 protected:
  void SetUp() override { base_ = NewTestKeyPath(); }
  void TearDown() override { DeleteTestKey(base_); }

  // Opens (creating) base\sub as the store does.
  UniqueRegKey Create(const std::u16string& sub, Status expected = kErrorSuccess) {
    UniqueRegKey key;
    const std::u16string path = sub.empty() ? base_ : base_ + u"\\" + sub;
    EXPECT_EQ(RegCreateKeyExW(HKeyLocalMachine(), path.c_str(), kRegOptionNonVolatile,
                              kKeyQueryValue | kKeySetValue, key.put()),
              expected)
        << "creating " << Narrow(sub);
    return key;
  }

  static void Set(const UniqueRegKey& key, const char16_t* name, std::uint32_t type,
                  const Bytes& data) {
    ASSERT_EQ(
        RegSetValueExW(key.get(), name, type, data.data(), static_cast<std::uint32_t>(data.size())),
        kErrorSuccess);
  }

  struct Answer {
    Status status;
    std::uint32_t type;
    std::uint32_t size;
    Bytes data;
  };
  static Answer Query(const UniqueRegKey& key, const char16_t* name, std::uint32_t room) {
    Answer answer{0, 0xEEEE, room, Bytes(room, 0xCD)};
    answer.status =
        RegQueryValueExW(key.get(), name, &answer.type, answer.data.data(), &answer.size);
    if (answer.status == kErrorSuccess) answer.data.resize(answer.size);
    return answer;
  }

  std::u16string base_;
};

TEST_F(RegistryContractTest, CreateMakesEveryMissingKeyAbove) {
  UniqueRegKey deep = Create(u"a\\b\\c");
  Set(deep, u"V", kRegDword, {1, 2, 3, 4});
  UniqueRegKey middle = Create(u"a\\b");
  EXPECT_EQ(Query(middle, u"V", 4).status, kErrorFileNotFound);
  UniqueRegKey again = Create(u"a\\b\\c");
  EXPECT_EQ(Query(again, u"V", 4).data, (Bytes{1, 2, 3, 4}));
}

TEST_F(RegistryContractTest, NamesIgnoreCase) {
  UniqueRegKey key = Create(u"Settings\\{Disk}#0000000000100000");
  Set(key, u"ExclusionList", kRegMultiSz, {0x41, 0, 0, 0, 0, 0});
  UniqueRegKey same = Create(u"SETTINGS\\{disk}#0000000000100000");
  const Answer answer = Query(same, u"exclusionlist", 64);
  EXPECT_EQ(answer.status, kErrorSuccess);
  EXPECT_EQ(answer.type, kRegMultiSz);
  EXPECT_EQ(answer.data, (Bytes{0x41, 0, 0, 0, 0, 0}));
}

TEST_F(RegistryContractTest, TrailingBackslashNamesTheKeyItself) {
  UniqueRegKey key = Create(u"p\\");
  Set(key, u"V", kRegDword, {9, 0, 0, 0});
  UniqueRegKey plain = Create(u"p");
  EXPECT_EQ(Query(plain, u"V", 4).data, (Bytes{9, 0, 0, 0}));
}

struct QueryCase {
  const char* name;
  std::uint32_t type;
  Bytes buffer;         // what the writer's buffer holds
  std::uint32_t count;  // how much of it is handed over
  std::uint32_t room;
  Status status;
  std::uint32_t size;  // reported by the query
};

Bytes Ending(std::size_t size, Bytes end) {
  Bytes bytes(size, 0x41);
  std::copy(end.begin(), end.end(), bytes.end() - static_cast<std::ptrdiff_t>(end.size()));
  return bytes;
}

const QueryCase kQueryCases[] = {
    {"DwordExact", kRegDword, {1, 0, 0, 0}, 4, 4, kErrorSuccess, 4},
    {"DwordInMoreRoom", kRegDword, {1, 0, 0, 0}, 4, 8, kErrorSuccess, 4},
    {"DwordOfTwoBytes", kRegDword, {1, 0}, 2, 4, kErrorSuccess, 2},
    {"QwordIntoDwordRoom", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 4, kErrorMoreData, 8},
    {"ListTooLong", kRegMultiSz, Ending(8194, {0, 0}), 8194, 8192, kErrorMoreData, 8194},
    {"ListFull", kRegMultiSz, Ending(8192, {0, 0}), 8192, 8192, kErrorSuccess, 8192},
    {"ListEmpty", kRegMultiSz, {}, 0, 8192, kErrorSuccess, 0},
    {"ListOddLength", kRegMultiSz, {0x41, 0, 0x42, 0x43}, 3, 8192, kErrorSuccess, 3},
    // Data that does not end in a zero character: the write also takes the character after it
    // when that one is zero, and only then.
    {"UnterminatedBeforeZero", kRegMultiSz, {0x41, 0, 0x42, 0, 0, 0}, 4, 8192, kErrorSuccess, 6},
    {"UnterminatedBeforeGuard",
     kRegMultiSz,
     {0x41, 0, 0x42, 0, 0xFF, 0xFF},
     4,
     8192,
     kErrorSuccess,
     4},
    {"StringAsStored", kRegSz, {0x41, 0, 0, 0}, 4, 8192, kErrorSuccess, 4},
};

class RegistryQueryTest : public RegistryContractTest,
                          public ::testing::WithParamInterface<QueryCase> {};

TEST_P(RegistryQueryTest, DeliversTypeAndSize) {
  const QueryCase& c = GetParam();
  UniqueRegKey key = Create(u"q");
  ASSERT_EQ(RegSetValueExW(key.get(), u"Value", c.type, c.buffer.data(), c.count), kErrorSuccess);
  const Answer answer = Query(key, u"Value", c.room);
  EXPECT_EQ(answer.status, c.status);
  EXPECT_EQ(answer.type, c.type);
  EXPECT_EQ(answer.size, c.size);
  if (c.status == kErrorSuccess) {
    EXPECT_EQ(answer.data, Bytes(c.buffer.begin(), c.buffer.begin() + c.size));
  }
}

INSTANTIATE_TEST_SUITE_P(Values, RegistryQueryTest, ::testing::ValuesIn(kQueryCases), CaseName());

TEST_F(RegistryContractTest, MissingValue) {
  UniqueRegKey key = Create(u"m");
  EXPECT_EQ(Query(key, u"Protected", 4).status, kErrorFileNotFound);
  EXPECT_EQ(RegDeleteValueW(key.get(), u"Protected"), kErrorFileNotFound);
}

TEST_F(RegistryContractTest, VolatileKeysHaveVolatileChildrenOnly) {
  UniqueRegKey key;
  // The keys that the create makes above it are volatile too.
  const std::u16string path = base_ + u"\\v";
  ASSERT_EQ(RegCreateKeyExW(HKeyLocalMachine(), path.c_str(), kRegOptionVolatile,
                            kKeyQueryValue | kKeySetValue, key.put()),
            kErrorSuccess);
  const std::u16string child = path + u"\\c";
  EXPECT_EQ(RegCreateKeyExW(HKeyLocalMachine(), child.c_str(), kRegOptionNonVolatile,
                            kKeyQueryValue | kKeySetValue, key.put()),
            kErrorChildMustBeVolatile);
  EXPECT_EQ(RegCreateKeyExW(HKeyLocalMachine(), child.c_str(), kRegOptionVolatile,
                            kKeyQueryValue | kKeySetValue, key.put()),
            kErrorSuccess);
}

TEST_F(RegistryContractTest, NoDataWithASizeIsRefused) {
  UniqueRegKey key = Create(u"n");
  EXPECT_EQ(RegSetValueExW(key.get(), u"V", kRegBinary, nullptr, 4), kErrorNoAccess);
  EXPECT_EQ(RegSetValueExW(key.get(), u"V", kRegBinary, nullptr, 0), kErrorSuccess);
  std::uint32_t type = 0;
  std::uint32_t size = 4;
  EXPECT_EQ(RegQueryValueExW(key.get(), u"V", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 0u);
}

TEST_F(RegistryContractTest, SetReplacesWithExactlyTheGivenBytes) {
  UniqueRegKey key = Create(u"r");
  Set(key, u"V", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  Set(key, u"v", kRegDword, {9, 9});
  const Answer answer = Query(key, u"V", 8);
  EXPECT_EQ(answer.type, kRegDword);
  EXPECT_EQ(answer.data, (Bytes{9, 9}));
  EXPECT_EQ(RegDeleteValueW(key.get(), u"V"), kErrorSuccess);
  EXPECT_EQ(Query(key, u"V", 8).status, kErrorFileNotFound);
}

}  // namespace
