#include "app/ReplacementFile.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "app/AsciiCase.h"
#include "app/Unsupported.h"
#include "platform/Unique.h"

using namespace platform;

namespace {

// Enough for the names that earlier runs, cut off before they could clean up, may have left.
constexpr unsigned kNameAttempts = 100;
// About two seconds in all.
constexpr unsigned kRenameRetries = 20;
constexpr std::uint32_t kRenamePauseMilliseconds = 100;

// What a direct create of the target asks for.
constexpr std::uint32_t kAccess = kGenericRead | kGenericWrite;
constexpr std::uint32_t kShare = kFileShareRead;

// A replacement's name is "ZOLTMgr.~N.tmp".
constexpr std::u16string_view kNamePrefix = u"ZOLTMgr.~";
constexpr std::u16string_view kNameSuffix = u".tmp";
// The longest path that Windows takes, with its NUL.
constexpr std::uint32_t kMaxPath = 32768;

std::u16string Decimal(unsigned number) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

// "ZOLTMgr.~<middle>.tmp" in `directory`: a replacement's path, or with "*" a pattern for them all.
std::u16string ReplacementPath(const std::u16string& directory, std::u16string_view middle) {
  return directory + std::u16string(kNamePrefix) + std::u16string(middle) +
         std::u16string(kNameSuffix);
}

bool IsReplacementName(std::u16string_view name) {
  if (!name.starts_with(kNamePrefix) || !name.ends_with(kNameSuffix)) return false;
  const std::u16string_view number =
      name.substr(kNamePrefix.size(), name.size() - kNamePrefix.size() - kNameSuffix.size());
  return !number.empty() && std::all_of(number.begin(), number.end(),
                                        [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::u16string_view DirectoryOf(std::u16string_view path) {
  return path.substr(0, path.find_last_of(u"\\/") + 1);
}

// Whether the last element of `path` names a device on Windows 7 to 10 (NUL, CON, PRN, AUX,
// COM1 to COM9, LPT1 to LPT9, with or without an extension or spaces before it): such a name
// opens the device there, and is a file on Windows 11 alone, which no other Windows can read.
bool NamesADevice(std::u16string_view path) {
  std::u16string_view name = path.substr(path.find_last_of(u"\\/") + 1);
  name = name.substr(0, name.find(u'.'));
  while (!name.empty() && name.back() == u' ') name.remove_suffix(1);
  for (std::u16string_view device : {u"NUL", u"CON", u"PRN", u"AUX"}) {
    if (EqualsIgnoringAsciiCase(name, device)) return true;
  }
  return name.size() == 4 &&
         (EqualsIgnoringAsciiCase(name.substr(0, 3), u"COM") ||
          EqualsIgnoringAsciiCase(name.substr(0, 3), u"LPT")) &&
         name[3] >= u'1' && name[3] <= u'9';
}

// The name of a directory entry that a search found.
std::u16string_view NameIn(const FindData& found) {
  const auto end = std::find(std::begin(found.cFileName), std::end(found.cFileName), u'\0');
  return {found.cFileName, static_cast<std::size_t>(end - std::begin(found.cFileName))};
}

// The default data stream's own name, which Windows takes as the file.
constexpr std::u16string_view kDataStream = u"::$DATA";

// Marks the file to be deleted when `file` closes: with POSIX semantics where Windows has them
// (Windows 10 1709 and later, on NTFS), so that its name is free at once though a virus scanner
// or an indexer may still hold the file; elsewhere the name stays taken until they let go.
Status DeleteThroughHandle(Handle file) {
  const FileDispositionInfoEx posix{kFileDispositionFlagDelete |
                                    kFileDispositionFlagPosixSemantics};
  const Status status =
      SetFileInformationByHandle(file, kFileDispositionInfoEx, &posix, sizeof(posix));
  if (!RefusedAsUnsupported(status)) return status;
  const FileDispositionInfo plain{1};
  return SetFileInformationByHandle(file, kFileDispositionInfo, &plain, sizeof(plain));
}

// Whether this run may delete the file at `path`, as a rename over it does: a file whose security
// denies it would otherwise be found only when the new file is complete, after two seconds of
// renames refused. Any other answer is left to the rename: someone else's handle that does not
// share deletion is there only for a moment (a virus scanner), and the rename waits for it.
Status MayDelete(const std::u16string& path) {
  UniqueHandle file;
  const Status status = CreateFileW(path.c_str(), kDelete | kFileReadAttributes,
                                    kFileShareRead | kFileShareWrite | kFileShareDelete,
                                    kOpenExisting, kFileFlagOpenReparsePoint, file.put());
  return status == kErrorAccessDenied ? status : kErrorSuccess;
}

// The path that `call` writes into the room of the longest path, which it is given with its size
// and reports the length of.
template <typename Call>
Status PathFrom(Call call, std::u16string* path) {
  std::u16string found(kMaxPath, u'\0');
  std::uint32_t length = 0;
  Status status = call(found.data(), kMaxPath, &length);
  if (status == kErrorSuccess && length >= kMaxPath) status = kErrorFilenameExcedRange;
  if (status != kErrorSuccess) return status;
  found.resize(length);
  *path = found;
  return kErrorSuccess;
}

// The full path of `path` as Windows forms it for every file call.
Status FullPathName(const std::u16string& path, std::u16string* full) {
  return PathFrom(
      [&](char16_t* buffer, std::uint32_t size, std::uint32_t* length) {
        return GetFullPathNameW(path.c_str(), size, buffer, length);
      },
      full);
}

// The form of a full path that Windows hands to the file system as it is, limited only by the
// file system: a drive's path behind \\?\, a share's behind \\?\UNC\. A device path (\\.\)
// has been formed already.
std::u16string Verbatim(const std::u16string& full) {
  constexpr std::u16string_view kVerbatim = u"\\\\?\\";
  if (full.starts_with(kVerbatim)) return full;
  if (full.starts_with(u"\\\\.\\")) return std::u16string(kVerbatim) + full.substr(4);
  if (full.starts_with(u"\\\\")) return std::u16string(kVerbatim) + u"UNC\\" + full.substr(2);
  return std::u16string(kVerbatim) + full;
}

// The full path of the open file behind a link: with its drive letter where the mount manager
// names the volume, else by the volume's GUID, else by its device name, which every volume has
// (a RAM disk may have neither of the others).
Status FinalPath(Handle file, std::u16string* path) {
  constexpr std::pair<std::uint32_t, std::u16string_view> kForms[] = {
      {kVolumeNameDos, u""}, {kVolumeNameGuid, u""}, {kVolumeNameNt, u"\\\\?\\GLOBALROOT"}};
  Status status = kErrorSuccess;
  for (const auto& form : kForms) {
    std::u16string found;
    status = PathFrom(
        [&](char16_t* buffer, std::uint32_t size, std::uint32_t* length) {
          return GetFinalPathNameByHandleW(file, buffer, size, form.first, length);
        },
        &found);
    if (status == kErrorSuccess) {
      *path = std::u16string(form.second) + found;
      return status;
    }
  }
  return status;
}

}  // namespace

ReplacementFile::ReplacementFile(std::u16string target) : target_(std::move(target)) {}

ReplacementFile::~ReplacementFile() {
  if (placed_ || kept_ || !file_.get()) return;
  // Deleted as it closes, through the handle that no other writer could share: no other file
  // of that name can be hit.
  static_cast<void>(DeleteThroughHandle(file_.get()));
}

Status ReplacementFile::Create() {
  // Before the name is formed, which turns a device's name into the device's path.
  if (NamesADevice(target_)) return kErrorInvalidName;
  if (Status status = FullPathName(target_, &target_)) return status;
  // "a.dat::$DATA" is a.dat, whose name the rename gives the new file.
  if (target_.size() > kDataStream.size() &&
      EqualsIgnoringAsciiCase(
          std::u16string_view(target_).substr(target_.size() - kDataStream.size()), kDataStream)) {
    target_.resize(target_.size() - kDataStream.size());
  }
  if (Status status = FindTarget()) return status;
  if (targetIdentity_) {
    if (Status status = MayDelete(target_)) return status;
  }
  const std::u16string directory(DirectoryOf(target_));
  const std::u16string_view targetName = std::u16string_view(target_).substr(directory.size());
  RemoveLeftovers(directory);
  Status status = kErrorFileExists;
  for (unsigned n = 1; n <= kNameAttempts; ++n) {
    const std::u16string name = ReplacementPath(directory, Decimal(n));
    if (EqualsIgnoringAsciiCase(std::u16string_view(name).substr(directory.size()), targetName)) {
      continue;
    }
    // DELETE, to rename it into place and to delete it through this handle. A link of that name
    // is a name taken, never a way to a file elsewhere.
    status = file_.Open(name, kAccess | kDelete, kShare, kCreateNew, kFileFlagOpenReparsePoint);
    // Taken: by a file or a link, or by a deletion that a reader still holds up, which Windows
    // refuses as it refuses access (nothing tells the two apart): the next name may be free.
    if (status != kErrorFileExists && status != kErrorAlreadyExists &&
        status != kErrorAccessDenied) {
      return status;
    }
  }
  return status;
}

// Exports take turns through their whole file step, and each keeps its replacement open until
// it is in place: a replacement that nobody has open was left by an export killed before it
// could remove it. Each is deleted, but never the target itself (which may have a replacement's
// name, under any spelling), one that someone has open (a virus scanner), a folder, or a link,
// whose deletion through this elevated run would otherwise follow it to whatever file it names;
// those stay.
void ReplacementFile::RemoveLeftovers(const std::u16string& directory) {
  FindData found{};
  UniqueFind search;
  const std::u16string pattern = ReplacementPath(directory, u"*");
  if (FindFirstFileW(pattern.c_str(), &found, search.put()) != kErrorSuccess) return;
  do {
    const std::u16string_view name = NameIn(found);
    if (!IsReplacementName(name) ||
        (found.dwFileAttributes & (kFileAttributeDirectory | kFileAttributeReparsePoint))) {
      continue;
    }
    // Shared with nobody, so refused while anyone has it open. Should the name have become a
    // link since the search, the link itself is what is looked at, and what goes.
    UniqueHandle leftover;
    if (CreateFileW((directory + std::u16string(name)).c_str(), kDelete | kFileReadAttributes, 0,
                    kOpenExisting, kFileFlagOpenReparsePoint, leftover.put()) != kErrorSuccess) {
      continue;
    }
    if (targetIdentity_) {
      FileIdentity identity;
      if (ReadFileIdentity(leftover.get(), identityWay_, &identity) != kErrorSuccess ||
          identity == *targetIdentity_) {
        continue;
      }
    }
    static_cast<void>(DeleteThroughHandle(leftover.get()));
  } while (FindNextFileW(search.get(), &found) == kErrorSuccess);
}

Status ReplacementFile::FindTarget() {
  KFile existing;
  // The name itself, a link included, so that what is looked at is what was opened.
  Status status = existing.Open(target_, kAccess, kShare, kOpenExisting, kFileFlagOpenReparsePoint);
  // From here on, no call needs a path shorter than the target's: not the replacement's, which
  // may be longer, nor the search's.
  if (status == kErrorSuccess || status == kErrorFileNotFound) target_ = Verbatim(target_);
  // Nothing to replace: the new file takes the name itself.
  if (status == kErrorFileNotFound) return kErrorSuccess;
  if (status != kErrorSuccess) return status;
  // The basic attributes every file system has; the tag only a reparse point has (FAT has none,
  // and refuses the question).
  FileBasicInfo information{};
  const auto lookAt = [&] {
    return GetFileInformationByHandleEx(existing.get(), kFileBasicInfo, &information,
                                        sizeof(information));
  };
  if ((status = lookAt())) return status;
  bool link = false;
  if (information.FileAttributes & kFileAttributeReparsePoint) {
    FileAttributeTagInfo tag{};
    if ((status = GetFileInformationByHandleEx(existing.get(), kFileAttributeTagInfo, &tag,
                                               sizeof(tag)))) {
      return status;
    }
    link = tag.ReparseTag == kIoReparseTagSymlink;
  }
  if (link) {
    // The file behind it, as a direct create would reach it; a link to nothing is refused, as
    // there is no file to replace and the link should stay.
    status = existing.Open(target_, kAccess, kShare, kOpenExisting);
    if (status == kErrorSuccess) status = lookAt();
    if (status != kErrorSuccess) return status;
  }
  if (information.FileAttributes & (kFileAttributeHidden | kFileAttributeSystem)) {
    return kErrorAccessDenied;
  }
  // Every other target keeps its path as formed (a final path is not to be had on every volume),
  // but with its name as its directory entry has it: renamed over the file by its 8.3 name, or
  // by its name in another case, the new file would have that name for its own. Where the folder
  // may not be listed, the name stays as typed.
  if (link) {
    if ((status = FinalPath(existing.get(), &target_))) return status;
  } else {
    FindData entry{};
    UniqueFind search;
    if (FindFirstFileW(target_.c_str(), &entry, search.put()) == kErrorSuccess) {
      target_ = std::u16string(DirectoryOf(target_)) + std::u16string(NameIn(entry));
    }
  }
  FileIdentity identity;
  if ((status = ReadFileIdentity(existing.get(), identityWay_, &identity))) return status;
  targetIdentity_ = identity;
  return kErrorSuccess;
}

bool ReplacementFile::WriteExactly(const void* buffer, std::uint32_t size) {
  return file_.WriteExactly(buffer, size);
}

Status ReplacementFile::Rename() {
  // The full path, with no root directory: a bare name would be taken relative to the current
  // directory.
  const auto nameBytes = static_cast<std::uint32_t>(target_.size() * sizeof(char16_t));
  const auto size = static_cast<std::uint32_t>(sizeof(FileRenameInfo) + nameBytes);
  std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  auto* information = reinterpret_cast<FileRenameInfo*>(storage.data());
  information->FileNameLength = nameBytes;
  std::memcpy(information->FileName, target_.data(), nameBytes);
  if (posixSemantics_) {
    information->Flags = kFileRenameFlagReplaceIfExists | kFileRenameFlagPosixSemantics;
    const Status status =
        SetFileInformationByHandle(file_.get(), kFileRenameInfoEx, information, size);
    // Someone holds the old file: the plain rename would be refused too, and the rename is
    // tried again.
    if (status == kErrorSuccess || status == kErrorAccessDenied ||
        status == kErrorSharingViolation) {
      return status;
    }
    // Older Windows, 1607, ReFS, FAT, SMB: the plain rename from now on, which any open handle
    // refuses. Any other refusal (a file system's limitation, a volume that the POSIX form does
    // not span) may still let the plain rename through, this time.
    if (RefusedAsUnsupported(status)) posixSemantics_ = false;
  }
  information->Flags = 1;  // ReplaceIfExists
  return SetFileInformationByHandle(file_.get(), kFileRenameInfo, information, size);
}

Status ReplacementFile::Commit() {
  if (Status status = file_.Flush()) return status;
  // One rename within the directory: the name holds the old file or the new one, never neither.
  Status status = Rename();
  for (unsigned retry = 0;
       retry < kRenameRetries && (status == kErrorAccessDenied || status == kErrorSharingViolation);
       ++retry) {
    Sleep(kRenamePauseMilliseconds);
    status = Rename();
  }
  if (status != kErrorSuccess) {
    switch (WhereItIs()) {
      case Place::kElsewhere:
        return status;
      case Place::kUnknown:
        kept_ = true;
        return status;
      case Place::kInPlace:
        break;
    }
  }
  placed_ = true;
  return file_.Close();
}

ReplacementFile::Place ReplacementFile::WhereItIs() {
  FileIdentity replacement;
  if (ReadFileIdentity(file_.get(), identityWay_, &replacement) != kErrorSuccess) {
    return Place::kUnknown;
  }
  // Attributes alone, which no sharing refuses; the name itself, never a link's file.
  UniqueHandle target;
  const Status opened = CreateFileW(target_.c_str(), kFileReadAttributes,
                                    kFileShareRead | kFileShareWrite | kFileShareDelete,
                                    kOpenExisting, kFileFlagOpenReparsePoint, target.put());
  if (opened == kErrorFileNotFound) return Place::kElsewhere;
  FileIdentity found;
  if (opened != kErrorSuccess ||
      ReadFileIdentity(target.get(), identityWay_, &found) != kErrorSuccess) {
    return Place::kUnknown;
  }
  return found == replacement ? Place::kInPlace : Place::kElsewhere;
}
