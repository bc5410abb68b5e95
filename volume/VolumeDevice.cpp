#include "volume/VolumeDevice.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/Unique.h"

using namespace platform;

namespace {

// MAX_PATH less its terminator.
constexpr std::size_t kMaxFormedPathLength = 259;

// Opens `path`, asks for its volume number and closes it again, whether the query worked or not.
Status QueryVolumeNumber(const char16_t* path, VolumeNumber* number) {
  UniqueHandle device;
  if (Status status = OpenVolumeDevice(path, device.put())) return status;
  VolumeNumber answer{};
  std::uint32_t returned = 0;
  Status status = DeviceIoControl(device.get(), kIoctlVolumeQueryVolumeNumber, &answer,
                                  sizeof(answer), &returned);
  if (status == kErrorSuccess) *number = answer;
  return status;
}

// Numbers are unique only within one volume manager: the drive and its own interface are one
// device and give the same whole answer, number and manager alike.
bool SameVolume(const VolumeNumber& a, const VolumeNumber& b) {
  return a.VolumeNumber == b.VolumeNumber &&
         std::equal(std::begin(a.VolumeManagerName), std::end(a.VolumeManagerName),
                    std::begin(b.VolumeManagerName));
}

}  // namespace

Status OpenVolumeDevice(const char16_t* path, Handle* device) {
  std::u16string formed =
      path[0] == u'\\' ? std::u16string(path) : u"\\\\.\\" + std::u16string(path);
  if (formed.size() > kMaxFormedPathLength) return kErrorInsufficientBuffer;
  if (!formed.empty() && formed.back() == u'\\') formed.pop_back();
  return CreateFileW(formed.c_str(), 0, kFileShareRead | kFileShareWrite | kFileShareDelete,
                     kOpenExisting, kFileFlagBackupSemantics, device);
}

Status FindVolumeInstanceId(const char16_t* volume, char16_t** instanceId) {
  VolumeNumber target{};
  if (Status status = QueryVolumeNumber(volume, &target)) return status;

  // Declared in reverse order of their release: the set first, then the detail, then the ID.
  UniqueHeapBlock<char16_t> id;
  UniqueHeapBlock<DeviceInterfaceDetailData> detail;
  UniqueDevInfoSet set;
  if (Status status = SetupDiGetClassDevsW(&kGuidDevinterfaceVolume,
                                           kDigcfPresent | kDigcfDeviceInterface, set.put())) {
    return status;
  }

  Status search = kErrorFileNotFound;
  DeviceInterfaceData interfaceData{};
  interfaceData.cbSize = kDeviceInterfaceDataSize;
  DevInfoData devInfo{};
  for (std::uint32_t index = 0;; ++index) {
    // Whatever ends the enumeration, the search keeps the status of the last candidate.
    if (SetupDiEnumDeviceInterfaces(set.get(), &kGuidDevinterfaceVolume, index, &interfaceData)) {
      break;
    }
    detail.reset();

    devInfo.cbSize = kDevInfoDataSize;
    std::uint32_t detailSize = 0;
    Status status = SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, nullptr, 0,
                                                     &detailSize, &devInfo);
    if (status != kErrorSuccess && status != kErrorInsufficientBuffer) return status;
    // Never less than the fixed part, which is written before the fill.
    detailSize = std::max(detailSize, kDeviceInterfaceDetailDataSize);
    detail.reset(
        static_cast<DeviceInterfaceDetailData*>(HeapAlloc(GetProcessHeap(), 0, detailSize)));
    if (!detail) return kErrorOutOfMemory;
    detail.get()->cbSize = kDeviceInterfaceDetailDataSize;
    status = SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, detail.get(), detailSize,
                                              nullptr, &devInfo);
    if (status) return status;

    VolumeNumber number{};
    search = QueryVolumeNumber(detail.get()->DevicePath, &number);
    if (search) continue;
    if (!SameVolume(number, target)) {
      search = kErrorFileNotFound;
      continue;
    }

    std::uint32_t idLength = 0;
    status = SetupDiGetDeviceInstanceIdW(set.get(), &devInfo, nullptr, 0, &idLength);
    if (status != kErrorSuccess && status != kErrorInsufficientBuffer) return status;
    id.reset(static_cast<char16_t*>(HeapAlloc(GetProcessHeap(), 0, 2 * std::size_t{idLength})));
    if (!id) return kErrorOutOfMemory;
    if (Status fill =
            SetupDiGetDeviceInstanceIdW(set.get(), &devInfo, id.get(), idLength, nullptr)) {
      return fill;
    }
    *instanceId = id.release();
    return kErrorSuccess;
  }
  return search;
}
