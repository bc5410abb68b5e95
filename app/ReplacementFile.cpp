#include "app/ReplacementFile.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "app/AsciiCase.h"
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

// Exports take turns through their whole file step, and each keeps its replacement open until
// it is in place: a replacement that nobody has open was left by an export killed before it
// could remove it. Each is deleted, but never the target itself (which may have a replacement's
// name), one that someone has open (a virus scanner), a folder, or a link, whose deletion through
// this elevated run would otherwise follow it to whatever file it names; those stay.
void RemoveLeftovers(const std::u16string& directory, std::u16string_view targetName) {
  FindData found{};
  UniqueFind search;
  const std::u16string pattern = ReplacementPath(directory, u"*");
  if (FindFirstFileW(pattern.c_str(), &found, search.put()) != kErrorSuccess) return;
  do {
    const std::u16string_view name(
        found.cFileName, static_cast<std::size_t>(std::find(std::begin(found.cFileName),
                                                            std::end(found.cFileName), u'\0') -
                                                  std::begin(found.cFileName)));
    if (!IsReplacementName(name) || EqualsIgnoringAsciiCase(name, targetName) ||
        (found.dwFileAttributes & (kFileAttributeDirectory | kFileAttributeReparsePoint))) {
      continue;
    }
    // Shared with nobody, so refused while anyone has it open; deleted when closed. Should the
    // name have become a link since the search, the link itself is what goes.
    UniqueHandle leftover;
    static_cast<void>(CreateFileW((directory + std::u16string(name)).c_str(), kDelete, 0,
                                  kOpenExisting, kFileFlagDeleteOnClose | kFileFlagOpenReparsePoint,
                                  leftover.put()));
  } while (FindNextFileW(search.get(), &found) == kErrorSuccess);
}

// The full path of the open file behind a link: with its drive letter where the mount manager
// names the volume, else by the volume's GUID, else by its device name, which every volume has
// (a RAM disk may have neither of the others).
Status FinalPath(Handle file, std::u16string* path) {
  constexpr std::pair<std::uint32_t, std::u16string_view> kForms[] = {
      {kVolumeNameDos, u""}, {kVolumeNameGuid, u""}, {kVolumeNameNt, u"\\\\?\\GLOBALROOT"}};
  Status status = kErrorSuccess;
  for (const auto& [flags, prefix] : kForms) {
    std::u16string found(kMaxPath, u'\0');
    std::uint32_t length = 0;
    status = GetFinalPathNameByHandleW(file, found.data(), kMaxPath, flags, &length);
    if (status == kErrorSuccess && length >= kMaxPath) status = kErrorFilenameExcedRange;
    if (status == kErrorSuccess) {
      found.resize(length);
      *path = std::u16string(prefix) + found;
      return status;
    }
  }
  return status;
}

}  // namespace

ReplacementFile::ReplacementFile(std::u16string target) : target_(std::move(target)) {}

ReplacementFile::~ReplacementFile() {
  if (placed_ || !file_.get()) return;
  // Deleted as it closes, through the handle that no one else could share: no other file of
  // that name can be hit.
  const FileDispositionInfo deleteIt{1};
  static_cast<void>(
      SetFileInformationByHandle(file_.get(), kFileDispositionInfo, &deleteIt, sizeof(deleteIt)));
}

Status ReplacementFile::Create() {
  if (Status status = FindTarget()) return status;
  const std::u16string directory(DirectoryOf(target_));
  const std::u16string_view targetName = std::u16string_view(target_).substr(directory.size());
  RemoveLeftovers(directory, targetName);
  Status status = kErrorFileExists;
  for (unsigned n = 1; n <= kNameAttempts; ++n) {
    const std::u16string name = ReplacementPath(directory, Decimal(n));
    if (EqualsIgnoringAsciiCase(std::u16string_view(name).substr(directory.size()), targetName)) {
      continue;
    }
    // DELETE, to rename it into place and to delete it through this handle.
    status = file_.Open(name, kAccess | kDelete, kShare, kCreateNew);
    if (status != kErrorFileExists && status != kErrorAlreadyExists) return status;
  }
  return status;
}

Status ReplacementFile::FindTarget() {
  KFile existing;
  // The name itself, a link included, so that what is looked at is what was opened.
  Status status = existing.Open(target_, kAccess, kShare, kOpenExisting, kFileFlagOpenReparsePoint);
  // Nothing to replace: the new file takes the name itself.
  if (status == kErrorFileNotFound) return kErrorSuccess;
  if (status != kErrorSuccess) return status;
  FileAttributeTagInfo information{};
  const auto lookAt = [&] {
    return GetFileInformationByHandleEx(existing.get(), kFileAttributeTagInfo, &information,
                                        sizeof(information));
  };
  if ((status = lookAt())) return status;
  const bool link = (information.FileAttributes & kFileAttributeReparsePoint) &&
                    information.ReparseTag == kIoReparseTagSymlink;
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
  // Every other target keeps its path as typed: a final path is not to be had on every volume.
  return link ? FinalPath(existing.get(), &target_) : kErrorSuccess;
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
    // Older Windows, FAT, many SMB servers: the plain rename, which any open handle refuses.
    if (status != kErrorInvalidParameter && status != kErrorNotSupported) return status;
    posixSemantics_ = false;
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
  if (status != kErrorSuccess) return status;
  placed_ = true;
  return file_.Close();
}
