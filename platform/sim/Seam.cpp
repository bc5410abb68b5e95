// What the groups of the simulated seam share.

#include "platform/sim/Seam.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace platform::seam {

std::u16string PathOf(void* handle) {
  auto* object = Find(TheMachine().open.handles, handle);
  return object ? object->path : std::u16string();
}

std::u16string_view WithoutVolumeName(std::u16string_view path) {
  const std::u16string globalRoot = u"\\\\?\\GLOBALROOT" + std::u16string(kVolumeDevicePath);
  for (const std::u16string_view prefix :
       {std::u16string_view(globalRoot), kVolumeGuidPath, std::u16string_view(u"\\\\?\\")}) {
    if (path.starts_with(prefix) && path.substr(prefix.size()).starts_with(u'/')) {
      return path.substr(prefix.size());
    }
  }
  return path;
}

bool NamesDevice(std::u16string_view path) {
  // A drive's files behind the prefix, "\\?\C:\a.dat", are no device.
  const bool drivePath =
      path.starts_with(u"\\\\?\\") && path.size() > 7 && path[5] == u':' && path[6] == u'\\';
  return (path.starts_with(u"\\\\.\\") || path.starts_with(u"\\\\?\\")) && !drivePath &&
         WithoutVolumeName(path).size() == path.size();
}

Status FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    default:
      return kErrorGenFailure;
  }
}

Handle NewHandle(Machine::OpenObject object) {
  Machine& machine = TheMachine();
  const std::uintptr_t id = machine.NextId();
  machine.open.handles.emplace(id, std::move(object));
  machine.peakHandles =
      std::max(machine.peakHandles, static_cast<int>(machine.open.handles.size()));
  return reinterpret_cast<Handle>(id);
}

}  // namespace platform::seam
