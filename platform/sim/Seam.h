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

// A file path as Linux takes it: backslashes are separators too.
std::string LinuxPath(std::u16string_view path);

Status FromErrno(int error);

// A new handle of the program's to `object`.
Handle NewHandle(Machine::OpenObject object);

// Opens a drive or volume interface by its path in the device namespace (devices).
Status OpenDevice(std::u16string_view path, Handle* device);

// Whether `procedure` is what GetProcAddress found for `name` (process): any other address would
// be a call into the unknown.
bool IsEntry(Procedure procedure, std::string_view name);

}  // namespace platform::seam
