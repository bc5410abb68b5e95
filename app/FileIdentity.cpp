#include "app/FileIdentity.h"

#include <cstddef>
#include <cstring>

#include "app/Unsupported.h"

using namespace platform;

Status ReadFileIdentity(Handle file, FileIdentity::Way& way, FileIdentity* identity) {
  if (way != FileIdentity::Way::kByHandle) {
    FileIdInfo id{};
    const Status status = GetFileInformationByHandleEx(file, kFileIdInfo, &id, sizeof(id));
    if (status == kErrorSuccess) {
      way = FileIdentity::Way::kFileId;
      identity->volume = id.VolumeSerialNumber;
      std::memcpy(identity->file.data(), id.FileId, sizeof(id.FileId));
      return status;
    }
    if (way == FileIdentity::Way::kFileId || !RefusedAsUnsupported(status)) return status;
  }
  ByHandleFileInformation information{};
  if (const Status status = GetFileInformationByHandle(file, &information)) return status;
  way = FileIdentity::Way::kByHandle;
  identity->volume = information.dwVolumeSerialNumber;
  const std::uint64_t index =
      static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  identity->file = {};
  for (std::size_t i = 0; i < sizeof(index); ++i) {
    identity->file[i] = static_cast<std::uint8_t>(index >> (8 * i));
  }
  return kErrorSuccess;
}
