// The simulated seam: volumes and the device installation calls that list them.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"

namespace platform {

using namespace seam;

namespace {

// The GUID of the volume device setup class.
constexpr Guid kVolumeClassGuid = {
    0x71a27cdd, 0x812a, 0x11d0, {0xbe, 0xc7, 0x08, 0x00, 0x2b, 0xe2, 0x09, 0x2f}};

// The drive's own name, or else that of the first interface with its number: the same device.
std::u16string DriveManagerName(const sim::Drive& drive) {
  if (drive.volumeManagerName) return *drive.volumeManagerName;
  for (const sim::VolumeInterface& volume : TheMachine().volumeInterfaces) {
    if (volume.volumeNumber == drive.volumeNumber) return volume.volumeManagerName;
  }
  return u"";
}

}  // namespace

// \\.\ and \\?\ lead into the device namespace, where drives and volume interfaces live.
Status seam::OpenDevice(std::u16string_view path, Handle* device) {
  Machine& machine = TheMachine();
  const std::u16string_view name = path.substr(4);
  for (const sim::Drive& drive : machine.drives) {
    if (!sim::EqualsIgnoringCase(drive.name, name)) continue;
    if (drive.openError) return drive.openError;
    *device = NewHandle({Kind::Drive, std::u16string(path), drive.volumeNumber,
                         DriveManagerName(drive), drive.queryError});
    return kErrorSuccess;
  }
  for (const sim::VolumeInterface& volume : machine.volumeInterfaces) {
    if (volume.devicePath.size() < 4 ||
        !sim::EqualsIgnoringCase(std::u16string_view(volume.devicePath).substr(4), name)) {
      continue;
    }
    if (volume.openError) return volume.openError;
    *device = NewHandle({Kind::Interface, std::u16string(path), volume.volumeNumber,
                         volume.volumeManagerName, volume.queryError});
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

Status DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* outBuffer,
                       std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
  if (Status status = TheMachine().Enter("DeviceIoControl", PathOf(device), {ioControlCode})) {
    return status;
  }
  auto* object = Find(TheMachine().open.handles, device);
  if (!object) return kErrorInvalidHandle;
  // Volumes alone answer the volume request; a file, or a device such as NUL, does not.
  if ((object->kind != Kind::Drive && object->kind != Kind::Interface) ||
      ioControlCode != kIoctlVolumeQueryVolumeNumber) {
    return kErrorInvalidFunction;
  }
  if (object->queryError) return object->queryError;
  if (!outBuffer && outBufferSize != 0) return kErrorInvalidUserBuffer;
  if (outBufferSize < sizeof(VolumeNumber)) return kErrorInsufficientBuffer;
  VolumeNumber answer{};
  answer.VolumeNumber = object->volumeNumber;
  // The manager name is padded with spaces to its eight characters.
  std::fill(std::begin(answer.VolumeManagerName), std::end(answer.VolumeManagerName), u' ');
  std::copy_n(object->volumeManagerName.begin(),
              std::min<std::size_t>(8, object->volumeManagerName.size()), answer.VolumeManagerName);
  std::memcpy(outBuffer, &answer, sizeof(answer));
  *bytesReturned = sizeof(answer);
  return kErrorSuccess;
}

Status SetupDiGetClassDevsW(const Guid* classGuid, std::uint32_t flags, DevInfoSet* set) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("SetupDiGetClassDevsW", u"", {flags})) return status;
  Machine::OpenSet open;
  // Only volume interfaces exist here, and all of them are present.
  if (*classGuid == kGuidDevinterfaceVolume && (flags & kDigcfDeviceInterface)) {
    open.interfaces = machine.volumeInterfaces;
  }
  const std::uintptr_t id = machine.NextId();
  machine.open.deviceSets.emplace(id, std::move(open));
  *set = reinterpret_cast<DevInfoSet>(id);
  return kErrorSuccess;
}

namespace {

// The set's interface that an interface record (or device information record) refers to.
const sim::VolumeInterface* InterfaceOf(Machine::OpenSet& set, std::uintptr_t reference) {
  return reference >= 1 && reference <= set.interfaces.size() ? &set.interfaces[reference - 1]
                                                              : nullptr;
}

}  // namespace

Status SetupDiEnumDeviceInterfaces(DevInfoSet set, const Guid* interfaceClassGuid,
                                   std::uint32_t memberIndex, DeviceInterfaceData* interfaceData) {
  Machine& machine = TheMachine();
  auto* open = Find(machine.open.deviceSets, set);
  const sim::VolumeInterface* volume =
      open && memberIndex < open->interfaces.size() ? &open->interfaces[memberIndex] : nullptr;
  if (Status status = machine.Enter("SetupDiEnumDeviceInterfaces",
                                    volume ? volume->devicePath : u"", {memberIndex})) {
    return status;
  }
  if (!open) return kErrorInvalidHandle;
  // A record of the wrong size is a wrong parameter, as Wine's setupapi answers it.
  if (interfaceData->cbSize != kDeviceInterfaceDataSize) return kErrorInvalidParameter;
  if (!volume || !(*interfaceClassGuid == kGuidDevinterfaceVolume)) return kErrorNoMoreItems;
  interfaceData->InterfaceClassGuid = kGuidDevinterfaceVolume;
  interfaceData->Flags = 1;  // SPINT_ACTIVE
  interfaceData->Reserved = memberIndex + 1;
  return kErrorSuccess;
}

Status SetupDiGetDeviceInterfaceDetailW(DevInfoSet set, DeviceInterfaceData* interfaceData,
                                        DeviceInterfaceDetailData* detail, std::uint32_t detailSize,
                                        std::uint32_t* requiredSize, DevInfoData* devInfoData) {
  Machine& machine = TheMachine();
  auto* open = Find(machine.open.deviceSets, set);
  const sim::VolumeInterface* volume =
      open && interfaceData ? InterfaceOf(*open, interfaceData->Reserved) : nullptr;
  if (Status status = machine.Enter("SetupDiGetDeviceInterfaceDetailW",
                                    volume ? volume->devicePath : u"", {detailSize})) {
    return status;
  }
  if (!open) return kErrorInvalidHandle;
  if (!volume || interfaceData->cbSize != kDeviceInterfaceDataSize) return kErrorInvalidParameter;
  const std::uint32_t required = static_cast<std::uint32_t>(
      offsetof(DeviceInterfaceDetailData, DevicePath) + 2 * (volume->devicePath.size() + 1));
  if (requiredSize) *requiredSize = required;
  if (!detail) return detailSize == 0 ? kErrorInsufficientBuffer : kErrorInvalidUserBuffer;
  // Windows takes the 64-bit fixed part's size alone (Wine also takes the 32-bit one).
  if (detail->cbSize != kDeviceInterfaceDetailDataSize) return kErrorInvalidUserBuffer;
  if (detailSize < required) return kErrorInsufficientBuffer;
  char16_t* path = detail->DevicePath;
  std::copy(volume->devicePath.begin(), volume->devicePath.end(), path);
  path[volume->devicePath.size()] = u'\0';
  // A device record of the wrong size is left as it is, as Wine's setupapi leaves it; the
  // instance-ID call then refuses it.
  if (devInfoData && devInfoData->cbSize == kDevInfoDataSize) {
    devInfoData->ClassGuid = kVolumeClassGuid;
    devInfoData->DevInst = static_cast<std::uint32_t>(interfaceData->Reserved);
    devInfoData->Reserved = interfaceData->Reserved;
  }
  return kErrorSuccess;
}

Status SetupDiGetDeviceInstanceIdW(DevInfoSet set, DevInfoData* devInfoData, char16_t* instanceId,
                                   std::uint32_t instanceIdSize, std::uint32_t* requiredSize) {
  Machine& machine = TheMachine();
  auto* open = Find(machine.open.deviceSets, set);
  const sim::VolumeInterface* volume =
      open && devInfoData ? InterfaceOf(*open, devInfoData->Reserved) : nullptr;
  if (Status status = machine.Enter("SetupDiGetDeviceInstanceIdW",
                                    volume ? volume->devicePath : u"", {instanceIdSize})) {
    return status;
  }
  if (!open) return kErrorInvalidHandle;
  if (!devInfoData || devInfoData->cbSize != kDevInfoDataSize) return kErrorInvalidParameter;
  if (!volume) return kErrorInvalidParameter;
  const auto required = static_cast<std::uint32_t>(volume->instanceId.size() + 1);
  if (requiredSize) *requiredSize = required;
  // Room without a buffer is no size query: refused, as the detail call refuses it (Wine's
  // setupapi writes through the null pointer instead).
  if (!instanceId && instanceIdSize != 0) return kErrorInvalidUserBuffer;
  if (!instanceId || instanceIdSize < required) return kErrorInsufficientBuffer;
  std::copy(volume->instanceId.begin(), volume->instanceId.end(), instanceId);
  instanceId[volume->instanceId.size()] = u'\0';
  return kErrorSuccess;
}

Status SetupDiDestroyDeviceInfoList(DevInfoSet set) {
  Machine& machine = TheMachine();
  machine.Enter("SetupDiDestroyDeviceInfoList", u"");
  return ReleaseFrom(machine.open.deviceSets, set);
}

}  // namespace platform
