#include "platform/sim/Systems.h"

#include <utility>
#include <vector>

namespace sim {
namespace {

constexpr Status kOk = platform::kErrorSuccess;
constexpr Status kInvalidFunction = platform::kErrorInvalidFunction;    // 1
constexpr Status kNotSupported = platform::kErrorNotSupported;          // 50
constexpr Status kInvalidParameter = platform::kErrorInvalidParameter;  // 87

// Where each answer comes from:
// [R1] rust-lang/rust pull request 138133, its maintainer's measurements over many versions and
//      file systems: before Windows 10 1607, FileRenameInfoEx always answers 87.
// [R2] rust-lang/rust issues 137499 and 137652, and pull request 138133: 1607 (and Server 2016)
//      answers 1, "Incorrect function", and only 1607 does.
// [R3] Microsoft, FILE_RENAME_INFORMATION: FILE_RENAME_POSIX_SEMANTICS; pull request 138133:
//      later versions rename so on NTFS.
// [R4] pull request 138133: ReFS on Windows Server 2022 answers 50.
// [R5] swiftlang/swift-package-manager issue 9867, swiftlang/swift-foundation pull request 1926:
//      exFAT on Windows 10 answers 87; FAT32 answers as exFAT does [D3].
// [R6] MS-SMB2 3.3.5.21.1: a server fails an information class that SMB2 does not carry with
//      STATUS_INVALID_INFO_CLASS (87) or STATUS_NOT_SUPPORTED (50); the machine takes 87.
// [D1] rust-lang/rust pull request 159439: Windows 7 answers FileDispositionInfoEx with 87.
// [D2] dokan-dev/dokany issue 777: FileDispositionInformationEx came with Windows 10 1709;
//      Microsoft, FILE_DISPOSITION_INFORMATION_EX: the name goes when the deleting handle closes.
// [D3] ziglang/zig issue 16497 and pull request 16499: POSIX deletion on NTFS only; FAT answers
//      STATUS_INVALID_PARAMETER (87).
// [D4] oven-sh/bun pull request 34832: FAT32, exFAT, SMB redirectors and some ReFS refuse it with
//      87 or 50; the machine takes 50 for ReFS, as its rename answers [R4], and 87 for SMB [R6].
// [I1] Microsoft, FILE_ID_INFO: Windows 8 and later, the 128-bit identifier that ReFS needs;
//      Windows 7 refuses a class it does not know with 87 (Chuyu-Team/YY-Thunks issue 12).
// [I2] microsoft/WindowsProtocolTestSuites pull request 256: FileIdInformation on NTFS and ReFS
//      only; the machine refuses it on FAT32 and exFAT with 87, and over SMB with 87 as [R6]
//      does, the stricter of the answers that it may get. (cppcheck-opensource/simplecpp issue
//      583: where it is refused, GetFileInformationByHandle still answers.)
// [T1] microsoft/STL pull request 2373, winfsp/winfsp issue 661: FAT32 and exFAT answer
//      FileAttributeTagInfo with 87.
// [L1] Microsoft, "File system functionality comparison": reparse points, and so symbolic links,
//      on NTFS and ReFS, none on FAT32 or exFAT; an SMB share shows the server's.
// [S1] Microsoft, "Naming Files, Paths, and Namespaces" and "File system functionality
//      comparison": 8.3 names on NTFS and FAT32, none on exFAT or ReFS; an SMB share shows the
//      server's.
// [A1] Microsoft, "File Streams (Local File Systems)": "name::$DATA" is a file's unnamed stream,
//      the file itself, on NTFS, and on ReFS from Windows 8.1; FAT32 and exFAT have no streams,
//      and the machine refuses such a name with 123 (ERROR_INVALID_NAME), as Windows refuses a
//      colon in their names.

using enum Windows;
using enum FileSystem;

// What a file system has whichever Windows runs it: attribute tags [T1], links [L1], 8.3 names
// [S1] and streams [A1].
struct Traits {
  FileSystem fileSystem;
  Status attributeTag;
  bool links;
  bool shortNames;
  bool streams;
};
constexpr Traits kTraits[] = {
    {kNtfs, kOk, true, true, true},
    {kReFs, kOk, true, false, true},
    {kFat32, kInvalidParameter, false, true, false},
    {kExFat, kInvalidParameter, false, false, false},
    {kSmb, kOk, true, true, true},
};

// What differs by Windows and file system. There is no ReFS on Windows 7.
struct Row {
  Windows windows;
  FileSystem fileSystem;
  Status renameEx;
  Status dispositionEx;
  Status idInfo;
};
// Each row: the Windows, the file system, then what FileRenameInfoEx, FileDispositionInfoEx and
// FileIdInfo answer.
constexpr Row kRows[] = {
    // Windows 7: no POSIX classes [R1][D1], no FileIdInfo [I1].
    {k7, kNtfs, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k7, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k7, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k7, kSmb, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    // Windows 8.1 and 10 before 1607: FileIdInfo where the file system has it [I1][I2], still no
    // POSIX classes [R1][D2].
    {k8_1, kNtfs, kInvalidParameter, kInvalidParameter, kOk},
    {k8_1, kReFs, kInvalidParameter, kInvalidParameter, kOk},
    {k8_1, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k8_1, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k8_1, kSmb, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1511, kNtfs, kInvalidParameter, kInvalidParameter, kOk},
    {k10_1511, kReFs, kInvalidParameter, kInvalidParameter, kOk},
    {k10_1511, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1511, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1511, kSmb, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    // Windows 10 1607 and Server 2016: every FileRenameInfoEx answers 1 [R2]; no POSIX deletion
    // yet [D2].
    {k10_1607, kNtfs, kInvalidFunction, kInvalidParameter, kOk},
    {k10_1607, kReFs, kInvalidFunction, kInvalidParameter, kOk},
    {k10_1607, kFat32, kInvalidFunction, kInvalidParameter, kInvalidParameter},
    {k10_1607, kExFat, kInvalidFunction, kInvalidParameter, kInvalidParameter},
    {k10_1607, kSmb, kInvalidFunction, kInvalidParameter, kInvalidParameter},
    // Windows 10 1709 and later, and 11: POSIX renames and deletions on NTFS [R3][D2]; ReFS
    // [R4][D4], FAT32 and exFAT [R5][D3] and SMB [R6][D4] refuse them.
    {k10_1709, kNtfs, kOk, kOk, kOk},
    {k10_1709, kReFs, kNotSupported, kNotSupported, kOk},
    {k10_1709, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1709, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1709, kSmb, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k11, kNtfs, kOk, kOk, kOk},
    {k11, kReFs, kNotSupported, kNotSupported, kOk},
    {k11, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k11, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k11, kSmb, kInvalidParameter, kInvalidParameter, kInvalidParameter},
};

// Every pair, built once from the two tables.
struct Pair {
  Windows windows;
  FileSystem fileSystem;
  Answers answers;
};
const std::vector<Pair>& Pairs() {
  static const std::vector<Pair> pairs = [] {
    std::vector<Pair> built;
    for (const Row& row : kRows) {
      for (const Traits& traits : kTraits) {
        if (traits.fileSystem != row.fileSystem) continue;
        built.push_back({row.windows,
                         row.fileSystem,
                         {row.renameEx, row.dispositionEx, row.idInfo, traits.attributeTag,
                          traits.links, traits.shortNames, traits.streams}});
      }
    }
    return built;
  }();
  return pairs;
}

constexpr std::pair<Windows, std::string_view> kWindowsNames[] = {
    {k7, "7"},  {k8_1, "8.1"}, {k10_1511, "10-1511"}, {k10_1607, "10-1607"}, {k10_1709, "10-1709"},
    {k11, "11"}};
constexpr std::pair<FileSystem, std::string_view> kFileSystemNames[] = {
    {kNtfs, "NTFS"}, {kReFs, "ReFS"}, {kFat32, "FAT32"}, {kExFat, "exFAT"}, {kSmb, "SMB"}};

template <typename T, std::size_t N>
std::string_view NameIn(const std::pair<T, std::string_view> (&names)[N], T value) {
  for (const auto& [known, name] : names) {
    if (known == value) return name;
  }
  return {};
}

template <typename T, std::size_t N>
std::optional<T> Named(const std::pair<T, std::string_view> (&names)[N], std::string_view name) {
  for (const auto& [known, text] : names) {
    if (text == name) return known;
  }
  return std::nullopt;
}

}  // namespace

const Answers* AnswersFor(Windows windows, FileSystem fileSystem) {
  for (const Pair& pair : Pairs()) {
    if (pair.windows == windows && pair.fileSystem == fileSystem) return &pair.answers;
  }
  return nullptr;
}

std::vector<std::pair<Windows, FileSystem>> EveryPair() {
  std::vector<std::pair<Windows, FileSystem>> pairs;
  for (const Pair& pair : Pairs()) pairs.emplace_back(pair.windows, pair.fileSystem);
  return pairs;
}

std::string_view NameOf(Windows windows) { return NameIn(kWindowsNames, windows); }
std::string_view NameOf(FileSystem fileSystem) { return NameIn(kFileSystemNames, fileSystem); }
std::optional<Windows> WindowsNamed(std::string_view name) { return Named(kWindowsNames, name); }
std::optional<FileSystem> FileSystemNamed(std::string_view name) {
  return Named(kFileSystemNames, name);
}

}  // namespace sim
