#include "platform/sim/Systems.h"

#include <utility>
#include <vector>

namespace sim {
namespace {

constexpr Status kOk = platform::kErrorSuccess;
constexpr Status kInvalidFunction = platform::kErrorInvalidFunction;            // 1
constexpr Status kNotSupported = platform::kErrorNotSupported;                  // 50
constexpr Status kInvalidParameter = platform::kErrorInvalidParameter;          // 87
constexpr Status kSymlinkClassDisabled = platform::kErrorSymlinkClassDisabled;  // 1463

// Where each answer comes from. Where no record says what a row says, the row takes the stricter
// answer, the one that asks more of the program, and says so with "(stricter)".
// [R1] rust-lang/rust pull request 138133, its maintainer's measurements over many versions and
//      file systems: before Windows 10 1607, FileRenameInfoEx always answers 87. The client
//      refuses a class that its Windows does not know, on a share too.
// [R2] rust-lang/rust issues 137499 and 137652, and pull request 138133: 1607 (and Server 2016)
//      answers 1, "Incorrect function", and only 1607 does. An NTFS volume that Server 2016 made
//      may go on refusing the POSIX rename on later Windows until it is upgraded; no record
//      gives its status, and the program follows any refusal but a held file's with the plain
//      rename.
// [R3] Microsoft, FILE_RENAME_INFORMATION: FILE_RENAME_POSIX_SEMANTICS; pull request 138133:
//      later versions rename so on NTFS.
// [R4] pull request 138133: ReFS on Windows Server 2022 answers 50.
// [R5] swiftlang/swift-package-manager issue 9867, swiftlang/swift-foundation pull request 1926:
//      exFAT on Windows 10 answers 87; FAT32 answers as exFAT does [D3].
// [R6] MS-SMB2 3.3.5.21.1: a server fails a set-information class that SMB2 does not carry
//      (FileRenameInformationEx, FileDispositionInformationEx) with STATUS_NOT_SUPPORTED, 50.
// [D1] rust-lang/rust pull request 159439: Windows 7 answers FileDispositionInfoEx with 87.
// [D2] dokan-dev/dokany issue 777: FileDispositionInformationEx came with Windows 10 1709;
//      Microsoft, FILE_DISPOSITION_INFORMATION_EX: the name goes when the deleting handle closes.
//      Pull request 159439 takes the class from 1607 on: the records disagree for 1607, and its
//      row refuses the class with 87 (stricter).
// [D3] ziglang/zig issue 16497 and pull request 16499: POSIX deletion on NTFS only; FAT answers
//      STATUS_INVALID_PARAMETER (87). ReFS answers as its rename does [R4] (stricter).
// [I1] Microsoft, FILE_ID_INFO: Windows 8 and later, the 128-bit identifier that ReFS needs;
//      python/cpython issue 111856 and pull request 112038, adang1345/PythonVista issue 19:
//      Windows 7, FAT32 and exFAT refuse FileIdInfo with 87.
// [I2] MS-SMB2 3.3.5.20.1: a server of the SMB 3 dialects answers FileIdInformation; Windows 7's
//      client (SMB 2.1) does not know the class and refuses it with 87 [I1].
// [T1] microsoft/STL pull request 2373, winfsp/winfsp issue 661: FAT32 and exFAT answer
//      FileAttributeTagInfo with 87.
// [F1] Microsoft, BY_HANDLE_FILE_INFORMATION: on FAT the file index comes from the directory
//      entry's place, and a rename into a longer name may change it; python/cpython issue
//      111856 shows such an index. exFAT's is taken the same way (stricter).
// [L1] Microsoft, "File system functionality comparison": reparse points, and so symbolic links,
//      on NTFS and ReFS, none on FAT32 or exFAT; an SMB share shows the server's.
// [L2] Microsoft, "fsutil behavior" (SymlinkEvaluation): by default Windows follows no link
//      that it finds on a share, to a local file or a remote one, and refuses the open with
//      ERROR_SYMLINK_CLASS_DISABLED (1463); the link itself opens.
// [S1] Microsoft, "Naming Files, Paths, and Namespaces" and "File system functionality
//      comparison": 8.3 names on NTFS and FAT32, none on exFAT or ReFS; an SMB share shows the
//      server's.
// [A1] Microsoft, "File Streams (Local File Systems)": "name::$DATA" is a file's unnamed stream,
//      the file itself, on NTFS, and on ReFS from Windows 8.1; FAT32 and exFAT have no streams,
//      and the machine refuses such a name with 123 (ERROR_INVALID_NAME), as Windows refuses a
//      colon in their names.
// [N1] Microsoft, "File path formats on Windows systems" (Handle legacy devices), dotnet/docs
//      issue 41193, dotnet/runtime issue 78834: before Windows 11 a last element that is NUL,
//      CON, PRN, AUX, COM1 to COM9 or LPT1 to LPT9, with or without an extension, names the
//      device (\\.\NUL); on Windows 11 a name with an extension is a file's. A bare device
//      name stays the device's there too (stricter).

using enum Windows;
using enum FileSystem;

// What a file system has whichever Windows runs it, after its name in the machine file:
// attribute tags [T1], links [L1] and whether they are followed [L2], the file index [F1], 8.3
// names [S1] and streams [A1].
struct Traits {
  FileSystem fileSystem;
  std::string_view name;
  Status attributeTag;
  bool links;
  Status linkFollowed;
  bool entryIndex;
  bool shortNames;
  bool streams;
};
constexpr Traits kTraits[] = {
    {kNtfs, "NTFS", kOk, true, kOk, false, true, true},
    {kReFs, "ReFS", kOk, true, kOk, false, false, true},
    {kFat32, "FAT32", kInvalidParameter, false, kOk, true, true, false},
    {kExFat, "exFAT", kInvalidParameter, false, kOk, true, false, false},
    {kSmb, "SMB", kOk, true, kSymlinkClassDisabled, false, true, true},
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
    // Windows 7: no POSIX classes [R1][D1], no FileIdInfo [I1][I2].
    {k7, kNtfs, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k7, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k7, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k7, kSmb, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    // Windows 8, 8.1 and 10 before 1607: FileIdInfo where the file system has it [I1][I2], still
    // no POSIX classes [R1][D2].
    {k8, kNtfs, kInvalidParameter, kInvalidParameter, kOk},
    {k8, kReFs, kInvalidParameter, kInvalidParameter, kOk},
    {k8, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k8, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k8, kSmb, kInvalidParameter, kInvalidParameter, kOk},
    {k8_1, kNtfs, kInvalidParameter, kInvalidParameter, kOk},
    {k8_1, kReFs, kInvalidParameter, kInvalidParameter, kOk},
    {k8_1, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k8_1, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k8_1, kSmb, kInvalidParameter, kInvalidParameter, kOk},
    {k10_1511, kNtfs, kInvalidParameter, kInvalidParameter, kOk},
    {k10_1511, kReFs, kInvalidParameter, kInvalidParameter, kOk},
    {k10_1511, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1511, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1511, kSmb, kInvalidParameter, kInvalidParameter, kOk},
    // Windows 10 1607 and Server 2016: every FileRenameInfoEx answers 1 [R2]; no POSIX deletion
    // [D2] (stricter).
    {k10_1607, kNtfs, kInvalidFunction, kInvalidParameter, kOk},
    {k10_1607, kReFs, kInvalidFunction, kInvalidParameter, kOk},
    {k10_1607, kFat32, kInvalidFunction, kInvalidParameter, kInvalidParameter},
    {k10_1607, kExFat, kInvalidFunction, kInvalidParameter, kInvalidParameter},
    {k10_1607, kSmb, kInvalidFunction, kInvalidParameter, kOk},
    // Windows 10 1709 and later, and 11: POSIX renames and deletions on NTFS [R3][D2]; ReFS
    // [R4][D3], FAT32 and exFAT [R5][D3] and SMB [R6] refuse them.
    {k10_1709, kNtfs, kOk, kOk, kOk},
    {k10_1709, kReFs, kNotSupported, kNotSupported, kOk},
    {k10_1709, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1709, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k10_1709, kSmb, kNotSupported, kNotSupported, kOk},
    {k11, kNtfs, kOk, kOk, kOk},
    {k11, kReFs, kNotSupported, kNotSupported, kOk},
    {k11, kFat32, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k11, kExFat, kInvalidParameter, kInvalidParameter, kInvalidParameter},
    {k11, kSmb, kNotSupported, kNotSupported, kOk},
};

// What differs by Windows alone: its name in the machine file, and whether a device's name with
// an extension still names the device [N1].
struct Version {
  Windows windows;
  std::string_view name;
  bool devicesWithExtension;
};
constexpr Version kVersions[] = {
    {k7, "7", true},
    {k8, "8", true},
    {k8_1, "8.1", true},
    {k10_1511, "10-1511", true},
    {k10_1607, "10-1607", true},
    {k10_1709, "10-1709", true},
    {k11, "11", false},
};

// The entry of `table` whose `field` is `value`; null where there is none.
template <typename Entry, typename T, std::size_t N>
const Entry* EntryWith(const Entry (&table)[N], T Entry::*field, const T& value) {
  for (const Entry& entry : table) {
    if (entry.*field == value) return &entry;
  }
  return nullptr;
}

// Every pair, built once from the tables.
struct Pair {
  Windows windows;
  FileSystem fileSystem;
  Answers answers;
};
const std::vector<Pair>& Pairs() {
  static const std::vector<Pair> pairs = [] {
    std::vector<Pair> built;
    for (const Row& row : kRows) {
      const Traits& traits = *EntryWith(kTraits, &Traits::fileSystem, row.fileSystem);
      const Version& version = *EntryWith(kVersions, &Version::windows, row.windows);
      built.push_back({row.windows,
                       row.fileSystem,
                       {row.renameEx, row.dispositionEx, row.idInfo, traits.attributeTag,
                        traits.links, traits.linkFollowed, traits.entryIndex, traits.shortNames,
                        traits.streams, version.devicesWithExtension}});
    }
    return built;
  }();
  return pairs;
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

std::string_view NameOf(Windows windows) {
  return EntryWith(kVersions, &Version::windows, windows)->name;
}
std::string_view NameOf(FileSystem fileSystem) {
  return EntryWith(kTraits, &Traits::fileSystem, fileSystem)->name;
}
std::optional<Windows> WindowsNamed(std::string_view name) {
  const Version* version = EntryWith(kVersions, &Version::name, name);
  return version ? std::optional(version->windows) : std::nullopt;
}
std::optional<FileSystem> FileSystemNamed(std::string_view name) {
  const Traits* traits = EntryWith(kTraits, &Traits::name, name);
  return traits ? std::optional(traits->fileSystem) : std::nullopt;
}

}  // namespace sim
