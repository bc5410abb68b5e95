#pragma once

// What the simulated machine answers differs by the Windows it runs and the file system of the
// volume that holds the program's folder; all of that is data, here, and each call asks for it.

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace sim {

using platform::Status;

// A server edition counts as the client version that shares its kernel: Server 2012 is "8",
// Server 2012 R2 "8.1", Server 2016 "10-1607", Server 2019 and 2022 are "10-1709", which stands
// for 1709 and every later Windows 10.
enum class Windows { k7, k8, k8_1, k10_1511, k10_1607, k10_1709, k11 };
// SMB: a folder that a Windows server of the same version shares from NTFS, over SMB 3.
enum class FileSystem { kNtfs, kReFs, kFat32, kExFat, kSmb };

// What one Windows answers on one file system where they differ. A status is the call's answer
// when it is asked for the class (0: it does what was asked).
struct Answers {
  Status renameEx;       // SetFileInformationByHandle, FileRenameInfoEx with POSIX semantics
  Status dispositionEx;  // SetFileInformationByHandle, FileDispositionInfoEx with POSIX semantics
  Status idInfo;         // GetFileInformationByHandleEx, FileIdInfo
  Status attributeTag;   // GetFileInformationByHandleEx, FileAttributeTagInfo
  bool links;            // symbolic links exist (reparse points)
  Status linkFollowed;   // an open through a link: 0 where Windows follows it
  bool entryIndex;       // the file index is the directory entry's place, not the file's own
  bool shortNames;       // a long name has an 8.3 name beside it, which names the same file
  bool streams;          // "name::$DATA" is the file itself; elsewhere such a name is invalid
  bool devicesWithExtension;  // "NUL.txt" names the device NUL, as a bare "NUL" does everywhere
};

// Null for a pair that does not exist: ReFS came with Windows 8's kernel.
const Answers* AnswersFor(Windows windows, FileSystem fileSystem);
// Every pair that exists, Windows by Windows.
std::vector<std::pair<Windows, FileSystem>> EveryPair();

// The names that the machine file uses.
std::string_view NameOf(Windows windows);
std::string_view NameOf(FileSystem fileSystem);
std::optional<Windows> WindowsNamed(std::string_view name);
std::optional<FileSystem> FileSystemNamed(std::string_view name);

}  // namespace sim
