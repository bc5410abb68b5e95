#pragma once

// What the groups of the simulated seam share: the machine's tables of what the program has open,
// and paths and statuses as Linux gives them.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"

namespace platform::seam {

using sim::Machine;
using sim::TheMachine;
using Kind = Machine::OpenObject::Kind;

template <typename T>
T* Find(std::map<std::uintptr_t, T>& table, void* id) {
  const auto it = table.find(reinterpret_cast<std::uintptr_t>(id));
  return it == table.end() ? nullptr : &it->second;
}

// Lets go of what `table` holds as `id`. Letting go of what is not held is a bad release, which
// the tests count.
template <typename T>
Status ReleaseFrom(std::map<std::uintptr_t, T>& table, void* id) {
  if (table.erase(reinterpret_cast<std::uintptr_t>(id))) return kErrorSuccess;
  ++TheMachine().badReleases;
  return kErrorInvalidHandle;
}

// The path (or name) that a handle was opened with; empty for none.
std::u16string PathOf(void* handle);

// The simulated file system is one volume whose files have their Linux paths. Windows also names
// a file on it behind the \\?\ prefix, by the volume's GUID path, or (behind \\?\GLOBALROOT)
// by its device.
inline constexpr std::u16string_view kVolumeGuidPath =
    u"\\\\?\\Volume{5a1e0001-0000-4000-8000-00000000c0de}";
inline constexpr std::u16string_view kVolumeDevicePath = u"\\Device\\HarddiskVolume1";

// The path behind one of the simulated volume's names (\\?\, its GUID path, its device), from
// the root of its Linux file system; or the path as it is.
std::u16string_view WithoutVolumeName(std::u16string_view path);

// Whether the path leads into the device namespace (\\.\ or \\?\), where drives and volume
// interfaces live, rather than to a file.
bool NamesDevice(std::u16string_view path);

Status FromErrno(int error);

// A new handle of the program's to `object`.
Handle NewHandle(Machine::OpenObject object);

// Opens a drive or volume interface by its path in the device namespace (devices).
Status OpenDevice(std::u16string_view path, Handle* device);

// Whether `procedure` is what GetProcAddress found for `name` (process): any other address would
// be a call into the unknown.
bool IsEntry(Procedure procedure, std::string_view name);

}  // namespace platform::seam
