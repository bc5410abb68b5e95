// What the settings transfer relies on of the file and console calls, pinned down through the
// seam. The same cases run against the simulated machine and, under Wine, against a real file
// system: wherever the two differ, the simulation is wrong.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Unique.h"
#include "support/Files.h"
#include "support/Rename.h"
#include "support/TempDir.h"

namespace {

using namespace platform;

class FileContractTest : public ::testing::Test {
 protected:
  std::u16string Path(const char* name) const {
    return dir_.path().u16string() + u"\\" + std::u16string(name, name + std::strlen(name));
  }
  std::filesystem::path File(const char* name) const { return dir_.path() / name; }

  Status Open(const char* name, std::uint32_t access, std::uint32_t share,
              std::uint32_t disposition, UniqueHandle& file) const {
    return CreateFileW(Path(name).c_str(), access, share, disposition, kFileAttributeNormal,
                       file.put());
  }

  TempDir dir_;
};

constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;

TEST_F(FileContractTest, CreateNewOpensNothingThatExists) {
  WriteBytes(File("a"), {1});
  std::filesystem::create_directory(File("d"));
  UniqueHandle file;
  EXPECT_EQ(Open("a", kReadWrite, kFileShareRead, kCreateNew, file), kErrorFileExists);
  EXPECT_EQ(Open("d", kReadWrite, kFileShareRead, kCreateNew, file), kErrorFileExists);
  EXPECT_EQ(Open("n", kReadWrite, kFileShareRead, kCreateNew, file), kErrorSuccess);
  EXPECT_EQ(ReadBytes(File("a")), std::vector<std::uint8_t>{1});
  // Below a folder that is not there, or no name at all: the path, not the file, is missing.
  EXPECT_EQ(Open("missing\\a", kReadWrite, kFileShareRead, kCreateNew, file), kErrorPathNotFound);
  EXPECT_EQ(Open("missing\\a", kGenericRead, kFileShareRead, kOpenExisting, file),
            kErrorPathNotFound);
  EXPECT_EQ(Open("b", kGenericRead, kFileShareRead, kOpenExisting, file), kErrorFileNotFound);
  EXPECT_EQ(CreateFileW(u"", kGenericRead, kFileShareRead, kOpenExisting, kFileAttributeNormal,
                        file.put()),
            kErrorPathNotFound);
}

TEST_F(FileContractTest, SharingModes) {
  WriteBytes(File("a"), {1});
  UniqueHandle writer;
  ASSERT_EQ(Open("a", kGenericWrite, kFileShareRead | kFileShareWrite, kOpenExisting, writer),
            kErrorSuccess);
  UniqueHandle reader;
  // Reading alongside a writer needs the reader to share writing.
  EXPECT_EQ(Open("a", kGenericRead, kFileShareRead, kOpenExisting, reader), kErrorSharingViolation);
  EXPECT_EQ(Open("a", kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, reader),
            kErrorSuccess);
  UniqueHandle exclusive;
  EXPECT_EQ(Open("a", kGenericRead, 0, kOpenExisting, exclusive), kErrorSharingViolation);
}

TEST_F(FileContractTest, FlushNeedsWriteAccess) {
  WriteBytes(File("a"), {1});
  UniqueHandle file;
  ASSERT_EQ(Open("a", kGenericRead, kFileShareRead, kOpenExisting, file), kErrorSuccess);
  EXPECT_EQ(FlushFileBuffers(file.get()), kErrorAccessDenied);
  ASSERT_EQ(Open("b", kReadWrite, kFileShareRead, kCreateNew, file), kErrorSuccess);
  EXPECT_EQ(FlushFileBuffers(file.get()), kErrorSuccess);
}

TEST_F(FileContractTest, RenameByHandleReplacesOnlyWhenAskedAndClosed) {
  WriteBytes(File("new"), {2});
  WriteBytes(File("target"), {1});
  // Windows renames only through a handle that may delete the file (Wine through any).
  UniqueHandle file;
  ASSERT_EQ(Open("new", kReadWrite | kDelete, kFileShareRead, kOpenExisting, file), kErrorSuccess);
  EXPECT_EQ(RenameTo(file.get(), Path("target"), false), kErrorAlreadyExists);
  EXPECT_EQ(RenameTo(file.get(), Path("missing\\target"), true), kErrorPathNotFound);
  {
    // Nor is an open file replaced, whatever its handle shares.
    UniqueHandle reader;
    ASSERT_EQ(Open("target", kGenericRead, kFileShareRead | kFileShareWrite | kFileShareDelete,
                   kOpenExisting, reader),
              kErrorSuccess);
    EXPECT_EQ(RenameTo(file.get(), Path("target"), true), kErrorAccessDenied);
  }
  EXPECT_EQ(ReadBytes(File("target")), std::vector<std::uint8_t>{1});
  // Nobody else may touch the renamed file meanwhile, under either name.
  EXPECT_EQ(RenameTo(file.get(), Path("target"), true), kErrorSuccess);
  UniqueHandle other;
  EXPECT_EQ(Open("target", kDelete, kFileShareRead | kFileShareWrite | kFileShareDelete,
                 kOpenExisting, other),
            kErrorSharingViolation);
  file.reset();
  EXPECT_EQ(ReadBytes(File("target")), std::vector<std::uint8_t>{2});
  EXPECT_FALSE(std::filesystem::exists(File("new")));
}

TEST_F(FileContractTest, DeleteByHandleNeedsDeleteAccess) {
  WriteBytes(File("a"), {1});
  const FileDispositionInfo deleteIt{1};
  UniqueHandle file;
  ASSERT_EQ(Open("a", kReadWrite, kFileShareRead, kOpenExisting, file), kErrorSuccess);
  EXPECT_EQ(SetFileInformationByHandle(file.get(), kFileDispositionInfo, &deleteIt, 1),
            kErrorAccessDenied);
  ASSERT_EQ(Open("a", kReadWrite | kDelete, kFileShareRead, kOpenExisting, file), kErrorSuccess);
  EXPECT_EQ(SetFileInformationByHandle(file.get(), kFileDispositionInfo, &deleteIt, 1),
            kErrorSuccess);
  EXPECT_TRUE(std::filesystem::exists(File("a")));
  file.reset();
  EXPECT_FALSE(std::filesystem::exists(File("a")));
}

// What decides which file a name is: Windows' own forming of the name, and the file's identity.
TEST_F(FileContractTest, NamesAreFormedAndFilesKnownByIdentity) {
  WriteBytes(File("a"), {1});
  WriteBytes(File("b"), {2});
  std::u16string formed(1024, u'\0');
  std::uint32_t length = 0;
  ASSERT_EQ(GetFullPathNameW((Path("a") + u". .").c_str(), 1024, formed.data(), &length), 0u);
  formed.resize(length);
  UniqueHandle handles[3];
  ASSERT_EQ(CreateFileW(formed.c_str(), kGenericRead, kFileShareRead, kOpenExisting,
                        kFileFlagOpenReparsePoint, handles[0].put()),
            kErrorSuccess);
  ASSERT_EQ(Open("a", kGenericRead, kFileShareRead, kOpenExisting, handles[1]), kErrorSuccess);
  ASSERT_EQ(Open("b", kGenericRead, kFileShareRead, kOpenExisting, handles[2]), kErrorSuccess);
  FileIdInfo ids[3]{};
  ByHandleFileInformation indexes[3]{};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(GetFileInformationByHandleEx(handles[i].get(), kFileIdInfo, &ids[i], 24), 0u);
    ASSERT_EQ(GetFileInformationByHandle(handles[i].get(), &indexes[i]), kErrorSuccess);
  }
  EXPECT_EQ(std::memcmp(&ids[0], &ids[1], sizeof(FileIdInfo)), 0);
  EXPECT_NE(std::memcmp(&ids[0], &ids[2], sizeof(FileIdInfo)), 0);
  EXPECT_EQ(indexes[0].nFileIndexLow, indexes[1].nFileIndexLow);
  EXPECT_NE(indexes[0].nFileIndexLow, indexes[2].nFileIndexLow);
  // A new file never opens what exists, asked not to follow links either.
  UniqueHandle created;
  EXPECT_EQ(CreateFileW(Path("a").c_str(), kGenericWrite, 0, kCreateNew, kFileFlagOpenReparsePoint,
                        created.put()),
            kErrorFileExists);
}

// The POSIX deletion is done or refused as a class that is not there; the plain one is not.
TEST_F(FileContractTest, DeletionByHandleWithPosixSemanticsOrWithout) {
  WriteBytes(File("a"), {1});
  UniqueHandle file;
  ASSERT_EQ(Open("a", kGenericRead | kDelete, kFileShareRead, kOpenExisting, file), kErrorSuccess);
  const FileDispositionInfoEx posix{kFileDispositionFlagDelete |
                                    kFileDispositionFlagPosixSemantics};
  const Status status = SetFileInformationByHandle(file.get(), kFileDispositionInfoEx, &posix, 4);
  EXPECT_TRUE(status == kErrorSuccess || status == kErrorInvalidParameter ||
              status == kErrorNotSupported || status == kErrorInvalidFunction)
      << status;
  const FileDispositionInfo plain{1};
  if (status) {
    EXPECT_EQ(SetFileInformationByHandle(file.get(), kFileDispositionInfo, &plain, 1), 0u);
  }
  file.reset();
  EXPECT_FALSE(std::filesystem::exists(File("a")));
}

TEST_F(FileContractTest, NoBufferWithASizeIsRefused) {
  WriteBytes(File("a"), {1, 2, 3, 4});
  UniqueHandle file;
  ASSERT_EQ(Open("a", kReadWrite, kFileShareRead, kOpenExisting, file), kErrorSuccess);
  std::uint32_t done = 7;
  EXPECT_EQ(ReadFile(file.get(), nullptr, 4, &done), kErrorNoAccess);
  EXPECT_EQ(WriteFile(file.get(), nullptr, 4, &done), kErrorInvalidUserBuffer);
  EXPECT_EQ(WriteFile(file.get(), nullptr, 0, &done), kErrorSuccess);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(ReadBytes(File("a")), (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST_F(FileContractTest, AFileIsNoConsole) {
  UniqueHandle file;
  ASSERT_EQ(Open("a", kReadWrite, kFileShareRead, kCreateNew, file), kErrorSuccess);
  std::uint32_t mode = 0;
  EXPECT_EQ(GetConsoleMode(file.get(), &mode), kErrorInvalidHandle);
  std::uint32_t written = 0;
  EXPECT_EQ(WriteConsoleW(file.get(), u"x", 1, &written), kErrorInvalidHandle);
}

}  // namespace
