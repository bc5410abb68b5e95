#include "app/ReplacementFile.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "platform/Unique.h"

using namespace platform;

namespace {

// Enough for the names that earlier runs, cut off before they could clean up, may have left.
constexpr unsigned kNameAttempts = 100;
// About two seconds in all.
constexpr unsigned kRenameRetries = 20;
constexpr std::uint32_t kRenamePauseMilliseconds = 100;

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

// Exports take turns through their whole file step, so none is writing a replacement now: one
// that is there was left by an export killed before it could remove it. Each is deleted unless
// someone still has it open (a virus scanner), in which case it stays and its name is passed.
void RemoveLeftovers(const std::u16string& directory) {
  FindData found{};
  UniqueFind search;
  const std::u16string pattern = ReplacementPath(directory, u"*");
  if (FindFirstFileW(pattern.c_str(), &found, search.put()) != kErrorSuccess) return;
  do {
    const std::u16string_view name(
        found.cFileName, static_cast<std::size_t>(std::find(std::begin(found.cFileName),
                                                            std::end(found.cFileName), u'\0') -
                                                  std::begin(found.cFileName)));
    if (!IsReplacementName(name)) continue;
    // Shared with nobody, so refused while anyone has it open; deleted when closed.
    UniqueHandle leftover;
    static_cast<void>(CreateFileW((directory + std::u16string(name)).c_str(), kDelete, 0,
                                  kOpenExisting, kFileFlagDeleteOnClose, leftover.put()));
  } while (FindNextFileW(search.get(), &found) == kErrorSuccess);
}

}  // namespace

ReplacementFile::ReplacementFile(std::u16string target) : target_(std::move(target)) {}

ReplacementFile::~ReplacementFile() {
  if (temporary_.empty()) return;
  // A file that is still open cannot be deleted.
  static_cast<void>(file_.Close());
  static_cast<void>(DeleteFileW(temporary_.c_str()));
}

Status ReplacementFile::Create() {
  {
    KFile existing;
    const Status status = existing.Open(target_, kAccess, kShare, kOpenExisting);
    if (status == kErrorFileNotFound) {
      // Nothing to replace: the new file takes the name itself.
    } else if (status != kErrorSuccess) {
      return status;
    } else if (Status refused = FollowExisting(existing)) {
      return refused;
    }
  }
  const std::u16string directory = target_.substr(0, target_.find_last_of(u"\\/") + 1);
  RemoveLeftovers(directory);
  Status status = kErrorFileExists;
  for (unsigned n = 1; n <= kNameAttempts; ++n) {
    std::u16string name = ReplacementPath(directory, Decimal(n));
    status = file_.Open(name, kAccess, kShare, kCreateNew);
    if (status == kErrorSuccess) {
      temporary_ = std::move(name);
      return status;
    }
    if (status != kErrorFileExists && status != kErrorAlreadyExists) return status;
  }
  return status;
}

Status ReplacementFile::FollowExisting(const KFile& existing) {
  FileInformation information{};
  if (Status status = GetFileInformationByHandle(existing.get(), &information)) return status;
  if (information.dwFileAttributes & (kFileAttributeHidden | kFileAttributeSystem)) {
    return kErrorAccessDenied;
  }
  std::u16string path(kMaxPath, u'\0');
  std::uint32_t length = 0;
  if (Status status = GetFinalPathNameByHandleW(existing.get(), path.data(), kMaxPath, &length)) {
    return status;
  }
  if (length >= kMaxPath) return kErrorFilenameExcedRange;
  path.resize(length);
  target_ = std::move(path);
  return kErrorSuccess;
}

bool ReplacementFile::WriteExactly(const void* buffer, std::uint32_t size) {
  return file_.WriteExactly(buffer, size);
}

Status ReplacementFile::Commit() {
  if (Status status = file_.Flush()) return status;
  if (Status status = file_.Close()) return status;
  // One rename within the directory: the name holds the old file or the new one, never neither.
  const auto moveIntoPlace = [this] {
    return MoveFileExW(temporary_.c_str(), target_.c_str(),
                       kMovefileReplaceExisting | kMovefileWriteThrough);
  };
  Status status = moveIntoPlace();
  for (unsigned retry = 0;
       retry < kRenameRetries && (status == kErrorAccessDenied || status == kErrorSharingViolation);
       ++retry) {
    Sleep(kRenamePauseMilliseconds);
    status = moveIntoPlace();
  }
  if (status == kErrorSuccess) temporary_.clear();
  return status;
}
