#include "app/ReplacementFile.h"

#include <utility>

using namespace platform;

namespace {

// Enough for the names that earlier runs, cut off before they could clean up, may have left.
constexpr unsigned kNameAttempts = 100;
// About two seconds in all.
constexpr unsigned kRenameRetries = 20;
constexpr std::uint32_t kRenamePauseMilliseconds = 100;

constexpr std::uint32_t kAccess = kGenericRead | kGenericWrite;
constexpr std::uint32_t kShare = kFileShareRead;

std::u16string Decimal(unsigned number) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
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
    if (status != kErrorSuccess && status != kErrorFileNotFound) return status;
  }
  const std::u16string directory = target_.substr(0, target_.find_last_of(u"\\/") + 1);
  Status status = kErrorFileExists;
  for (unsigned n = 1; n <= kNameAttempts; ++n) {
    std::u16string name = directory + u"ZOLTMgr.~" + Decimal(n) + u".tmp";
    status = file_.Open(name, kAccess, kShare, kCreateNew);
    if (status == kErrorSuccess) {
      temporary_ = std::move(name);
      return status;
    }
    if (status != kErrorFileExists && status != kErrorAlreadyExists) return status;
  }
  return status;
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
