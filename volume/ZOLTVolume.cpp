#include "volume/ZOLTVolume.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/Unique.h"
#include "settings/LittleEndian.h"
#include "volume/VolumeDevice.h"

using namespace platform;

namespace {

constexpr std::u16string_view kKeyPathPrefix =
    u"System\\CurrentControlSet\\Services\\KvVolRedir\\Parameters\\";
// The instance ID's first characters ("STORAGE\VOLUME\") are not part of the key name.
constexpr std::size_t kDroppedInstanceIdLength = 15;

constexpr char16_t kProtected[] = u"Protected";
constexpr char16_t kMaxCacheSize[] = u"MaxCacheSize";
constexpr char16_t kYellowLevel[] = u"YellowLevel";
constexpr char16_t kRedLevel[] = u"RedLevel";
constexpr char16_t kGreenLevel[] = u"GreenLevel";
constexpr char16_t kExclusionList[] = u"ExclusionList";

// Protected is a REG_DWORD, the four other numbers are REG_QWORDs.
template <typename T>
constexpr std::uint32_t kNumberType = sizeof(T) == 4 ? kRegDword : kRegQword;

}  // namespace

Status OpenVolumeSettingsKey(const char16_t* volume, RegKey* key) {
  UniqueHeapBlock<char16_t> instanceId;
  if (Status status = FindVolumeInstanceId(volume, instanceId.put())) return status;
  const std::u16string_view id(instanceId.get());
  if (id.size() < kDroppedInstanceIdLength) return kErrorInvalidParameter;
  const std::u16string_view remainder = id.substr(kDroppedInstanceIdLength);

  // The prefix, the remainder and the terminator, with one character to spare.
  const std::size_t pathLength = kKeyPathPrefix.size() + remainder.size() + 2;
  UniqueHeapBlock<char16_t> path(
      static_cast<char16_t*>(HeapAlloc(GetProcessHeap(), 0, pathLength * sizeof(char16_t))));
  if (!path) return kErrorOutOfMemory;
  char16_t* end = std::copy(kKeyPathPrefix.begin(), kKeyPathPrefix.end(), path.get());
  end = std::copy(remainder.begin(), remainder.end(), end);
  *end = u'\0';

  return RegCreateKeyExW(HKeyLocalMachine(), path.get(), kRegOptionNonVolatile,
                         kKeyQueryValue | kKeySetValue, key);
}

ZOLTVolume::ZOLTVolume(std::u16string volumeName) : volumeName_(std::move(volumeName)) {}

ZOLTVolume::~ZOLTVolume() = default;

Status ZOLTVolume::ReadValue(const char16_t* name, std::uint32_t type, void* destination,
                             std::uint32_t room, std::uint32_t* size, bool* absent) const {
  *size = 0;
  if (absent) *absent = false;
  UniqueRegKey key;
  if (Status status = OpenVolumeSettingsKey(volumeName_.c_str(), key.put())) return status;
  *size = room;
  std::uint32_t storedType = kRegNone;
  if (Status status = RegQueryValueExW(key.get(), name, &storedType, destination, size)) {
    if (absent) *absent = status == kErrorFileNotFound;
    return status;
  }
  if (storedType != type) return kErrorIncorrectSize;
  if (*size > room) return kErrorInsufficientBuffer;
  return kErrorSuccess;
}

Status ZOLTVolume::WriteValue(const char16_t* name, std::uint32_t type, const void* source,
                              std::uint32_t size) const {
  UniqueRegKey key;
  if (Status status = OpenVolumeSettingsKey(volumeName_.c_str(), key.put())) return status;
  return RegSetValueExW(key.get(), name, type, source, size);
}

Status ZOLTVolume::DeleteValueIfPresent(const char16_t* name) const {
  UniqueRegKey key;
  if (Status status = OpenVolumeSettingsKey(volumeName_.c_str(), key.put())) return status;
  // Deleting a value that is not there leaves the key as asked: without it.
  const Status status = RegDeleteValueW(key.get(), name);
  return status == kErrorFileNotFound ? kErrorSuccess : status;
}

bool ZOLTVolume::GetSettings(VolumeSettings& settings) const {
  const auto readNumber = [this](const char16_t* name, auto& member) {
    using T = std::remove_reference_t<decltype(member)>;
    std::array<std::uint8_t, sizeof(T)> bytes{};
    std::uint32_t size = 0;
    const Status status = ReadValue(name, kNumberType<T>, bytes.data(), sizeof(T), &size, nullptr);
    if (status != kErrorSuccess || size != sizeof(T)) return false;
    member = LoadLittleEndian<T>(bytes.data());
    return true;
  };
  if (!readNumber(kProtected, settings.Protected) ||
      !readNumber(kMaxCacheSize, settings.MaxCacheSize) ||
      !readNumber(kYellowLevel, settings.YellowLevel) ||
      !readNumber(kRedLevel, settings.RedLevel) || !readNumber(kGreenLevel, settings.GreenLevel)) {
    return false;
  }

  settings.ExclusionList = NewListBuffer(kMaxExclusionListSize);
  if (!settings.ExclusionList) return false;
  std::uint32_t size = 0;
  bool absent = false;
  const Status status = ReadValue(kExclusionList, kRegMultiSz, settings.ExclusionList.get(),
                                  kMaxExclusionListSize, &size, &absent);
  if (absent) {
    // A volume without a list value has an empty list, which is also what an import of an
    // empty list leaves behind.
    settings.ExclusionListSize = 0;
    return true;
  }
  settings.ExclusionListSize = size;
  return status == kErrorSuccess;
}

bool ZOLTVolume::SetSettings(const VolumeSettings& settings) const {
  const auto writeNumber = [this](const char16_t* name, auto value) {
    using T = decltype(value);
    std::array<std::uint8_t, sizeof(T)> bytes{};
    StoreLittleEndian(bytes.data(), value);
    return WriteValue(name, kNumberType<T>, bytes.data(), sizeof(T)) == kErrorSuccess;
  };
  if (!writeNumber(kProtected, settings.Protected) ||
      !writeNumber(kMaxCacheSize, settings.MaxCacheSize) ||
      !writeNumber(kYellowLevel, settings.YellowLevel) ||
      !writeNumber(kRedLevel, settings.RedLevel) ||
      !writeNumber(kGreenLevel, settings.GreenLevel)) {
    return false;
  }

  if (settings.ExclusionListSize == 0) {
    return DeleteValueIfPresent(kExclusionList) == kErrorSuccess;
  }
  if (!settings.ExclusionList) return false;
  return WriteValue(kExclusionList, kRegMultiSz, settings.ExclusionList.get(),
                    settings.ExclusionListSize) == kErrorSuccess;
}
