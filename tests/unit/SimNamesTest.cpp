// The simulated machine names files as each Windows and file system does: devices by their
// names, and files by the index that FAT takes from their directory entries.

#include <gtest/gtest.h>

#include <string>

#include "platform/Unique.h"
#include "platform/sim/Text.h"
#include "support/CaseName.h"
#include "support/Rename.h"
#include "unit/SimTest.h"

namespace {

using namespace platform;

struct FullPathCase {
  const char* name;
  sim::Windows windows;
  std::u16string typed;
  std::u16string formed;
};
const FullPathCase kFullPathCases[] = {
    {"ExtensionNamesTheDeviceBefore11", sim::Windows::k10_1709, u"C:\\d\\nul.txt", u"\\\\.\\nul"},
    {"SpacesBeforeTheExtension", sim::Windows::k8, u"C:\\d\\COM1 .log", u"\\\\.\\COM1"},
    {"ExtensionNamesAFileOn11", sim::Windows::k11, u"C:\\d\\nul.txt", u"C:\\d\\nul.txt"},
    {"BareNameIsTheDeviceOn11", sim::Windows::k11, u"C:\\d\\Lpt9", u"\\\\.\\Lpt9"},
    {"TrailingDotIsNoExtension", sim::Windows::k11, u"C:\\d\\con. ", u"\\\\.\\con"},
    {"NoSuchPort", sim::Windows::k7, u"C:\\d\\COM10", u"C:\\d\\COM10"},
    {"VerbatimIsAFile", sim::Windows::k7, u"\\\\?\\C:\\d\\NUL", u"\\\\?\\C:\\d\\NUL"},
};

class FullPathTest : public SimTest, public ::testing::WithParamInterface<FullPathCase> {};

TEST_P(FullPathTest, DevicesAreNamedAsThisWindowsNamesThem) {
  machine().windows = GetParam().windows;
  std::u16string formed(300, u'\0');
  std::uint32_t length = 0;
  ASSERT_EQ(GetFullPathNameW(GetParam().typed.c_str(), 300, formed.data(), &length), 0u);
  formed.resize(length);
  EXPECT_EQ(formed, GetParam().formed);
}

INSTANTIATE_TEST_SUITE_P(Names, FullPathTest, ::testing::ValuesIn(kFullPathCases), CaseName());

// FAT's index is the place of the file's directory entry: new where a longer name needs more
// entries than the file had, and another file's once that file is deleted.
TEST_F(SimTest, FatIndexFollowsTheDirectoryEntry) {
  machine().fileSystem = sim::FileSystem::kFat32;
  const auto path = [&](const char* name) { return sim::ToUtf16((programDir() / name).string()); };
  const auto index = [&](const char* name) {
    UniqueHandle file;
    ByHandleFileInformation information{};
    EXPECT_EQ(CreateFileW(path(name).c_str(), kGenericRead | kDelete, kFileShareRead, kOpenAlways,
                          kFileAttributeNormal, file.put()),
              0u);
    EXPECT_EQ(GetFileInformationByHandle(file.get(), &information), 0u);
    return information.nFileIndexLow;
  };
  const auto rename = [&](const char* from, const char* to) {
    UniqueHandle file;
    ASSERT_EQ(CreateFileW(path(from).c_str(), kDelete, 0, kOpenExisting, 0, file.put()), 0u);
    ASSERT_EQ(RenameTo(file.get(), path(to), false), 0u);
  };
  const auto first = index("a.dat");
  EXPECT_NE(index("b.dat"), first);
  rename("a.dat", "c.dat");
  EXPECT_EQ(index("c.dat"), first);
  rename("c.dat", "a longer name than it had.dat");
  EXPECT_NE(index("a longer name than it had.dat"), first);
  EXPECT_EQ(index("d.dat"), first);
}

}  // namespace
