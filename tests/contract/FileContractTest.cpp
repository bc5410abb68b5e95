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

TEST_F(FileContractTest, MoveReplacesOnlyWhenAskedAndClosed) {
  constexpr std::uint32_t kReplace = kMovefileReplaceExisting | kMovefileWriteThrough;
  WriteBytes(File("new"), {2});
  WriteBytes(File("target"), {1});
  EXPECT_EQ(MoveFileExW(Path("new").c_str(), Path("target").c_str(), kMovefileWriteThrough),
            kErrorAlreadyExists);
  {
    // The file moved may be open only where deletion is shared, the file replaced not at all.
    UniqueHandle open;
    ASSERT_EQ(Open("new", kReadWrite, kFileShareRead, kOpenExisting, open), kErrorSuccess);
    EXPECT_EQ(MoveFileExW(Path("new").c_str(), Path("target").c_str(), kReplace),
              kErrorSharingViolation);
    UniqueHandle target;
    ASSERT_EQ(Open("target", kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, target),
              kErrorSuccess);
    open.reset();
    EXPECT_EQ(MoveFileExW(Path("new").c_str(), Path("target").c_str(), kReplace),
              kErrorAccessDenied);
  }
  EXPECT_EQ(ReadBytes(File("target")), std::vector<std::uint8_t>{1});
  EXPECT_EQ(MoveFileExW(Path("new").c_str(), Path("target").c_str(), kReplace), kErrorSuccess);
  EXPECT_EQ(ReadBytes(File("target")), std::vector<std::uint8_t>{2});
  EXPECT_FALSE(std::filesystem::exists(File("new")));
  EXPECT_EQ(MoveFileExW(Path("new").c_str(), Path("other").c_str(), kReplace), kErrorFileNotFound);
}

TEST_F(FileContractTest, DeleteNeedsAClosedFile) {
  WriteBytes(File("a"), {1});
  std::filesystem::create_directory(File("d"));
  {
    UniqueHandle open;
    ASSERT_EQ(Open("a", kReadWrite, kFileShareRead, kOpenExisting, open), kErrorSuccess);
    EXPECT_EQ(DeleteFileW(Path("a").c_str()), kErrorSharingViolation);
  }
  EXPECT_EQ(DeleteFileW(Path("d").c_str()), kErrorAccessDenied);
  EXPECT_EQ(DeleteFileW(Path("a").c_str()), kErrorSuccess);
  EXPECT_EQ(DeleteFileW(Path("a").c_str()), kErrorFileNotFound);
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
