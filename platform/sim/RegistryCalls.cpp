// The simulated seam: the registry below HKEY_LOCAL_MACHINE.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"

namespace platform {

using namespace seam;

namespace {

// Distinct from every id that NextId hands out.
const RegKey kLocalMachineKey = reinterpret_cast<RegKey>(std::uintptr_t{0x80000002});

std::u16string KeyPathOf(RegKey key) {
  auto* open = Find(TheMachine().open.keys, key);
  return open ? open->path : std::u16string();
}

}  // namespace

RegKey HKeyLocalMachine() { return kLocalMachineKey; }

Status RegCreateKeyExW(RegKey key, const char16_t* subKey, std::uint32_t options,
                       std::uint32_t samDesired, RegKey* result) {
  Machine& machine = TheMachine();
  const std::u16string_view path(subKey);
  if (Status status = machine.Enter("RegCreateKeyExW", path, {options, samDesired})) {
    return status;
  }
  std::u16string base;
  if (key != kLocalMachineKey) {
    auto* parent = Find(machine.open.keys, key);
    if (!parent) return kErrorInvalidHandle;
    base = parent->path + u'\\';
  }
  if (path.starts_with(u'\\')) return 161;  // ERROR_BAD_PATHNAME
  const std::u16string full = base + std::u16string(path);
  const bool isVolatile = (options & kRegOptionVolatile) != 0;
  if (!isVolatile && !machine.registry.FindKey(full) && machine.registry.BelowVolatile(full)) {
    return kErrorChildMustBeVolatile;
  }
  bool created = false;
  const sim::RegistryKey& opened = machine.registry.CreateKey(full, &created, isVolatile);
  machine.registryChanged |= created;
  const std::uintptr_t id = machine.NextId();
  machine.open.keys.emplace(id, Machine::OpenKey{opened.path, samDesired});
  *result = reinterpret_cast<RegKey>(id);
  return kErrorSuccess;
}

namespace {

// The open key for a value call, or the status that refuses it.
Status OpenKeyFor(RegKey key, std::uint32_t access, Machine::OpenKey** open) {
  *open = Find(TheMachine().open.keys, key);
  if (!*open) return kErrorInvalidHandle;
  if (!((*open)->access & access)) return kErrorAccessDenied;
  if (!TheMachine().registry.FindKey((*open)->path)) return 1018;  // ERROR_KEY_DELETED
  return kErrorSuccess;
}

}  // namespace

Status RegQueryValueExW(RegKey key, const char16_t* valueName, std::uint32_t* type, void* data,
                        std::uint32_t* dataSize) {
  Machine& machine = TheMachine();
  const std::u16string_view name(valueName ? valueName : u"");
  if (Status status = machine.Enter("RegQueryValueExW", name)) return status;
  Machine::OpenKey* open = nullptr;
  if (Status status = OpenKeyFor(key, kKeyQueryValue, &open)) return status;
  const sim::RegistryValue* value = machine.registry.FindValue(open->path, name);
  if (!value) return kErrorFileNotFound;
  if (data && !dataSize) return kErrorInvalidParameter;
  if (type) *type = value->type;
  if (!dataSize) return kErrorSuccess;
  const auto size = static_cast<std::uint32_t>(value->data.size());
  const std::uint32_t room = *dataSize;
  *dataSize = size;
  if (!data) return kErrorSuccess;
  if (room < size) return kErrorMoreData;
  std::copy(value->data.begin(), value->data.end(), static_cast<std::uint8_t*>(data));
  return kErrorSuccess;
}

Status RegSetValueExW(RegKey key, const char16_t* valueName, std::uint32_t type, const void* data,
                      std::uint32_t dataSize) {
  Machine& machine = TheMachine();
  const std::u16string_view name(valueName ? valueName : u"");
  if (Status status = machine.Enter("RegSetValueExW", name, {type, dataSize})) return status;
  Machine::OpenKey* open = nullptr;
  if (Status status = OpenKeyFor(key, kKeySetValue, &open)) return status;
  if (!data && dataSize) return kErrorNoAccess;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  // Like Windows, a string whose data does not end in a zero character gets the character just
  // past the data as well when that one is zero: the caller's buffer is read one character
  // beyond what it handed over.
  const bool isString = type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
  if (isString && bytes && dataSize >= 2) {
    const auto at = [&](std::size_t character) {
      return bytes[2 * character] | bytes[2 * character + 1] << 8;
    };
    if (at(dataSize / 2 - 1) != 0 && at(dataSize / 2) == 0) dataSize += 2;
  }
  machine.registry.SetValue(
      open->path, name, type,
      bytes ? std::vector<std::uint8_t>(bytes, bytes + dataSize) : std::vector<std::uint8_t>());
  machine.registryChanged = true;
  return kErrorSuccess;
}

Status RegDeleteValueW(RegKey key, const char16_t* valueName) {
  Machine& machine = TheMachine();
  const std::u16string_view name(valueName ? valueName : u"");
  if (Status status = machine.Enter("RegDeleteValueW", name)) return status;
  Machine::OpenKey* open = nullptr;
  if (Status status = OpenKeyFor(key, kKeySetValue, &open)) return status;
  if (!machine.registry.DeleteValue(open->path, name)) return kErrorFileNotFound;
  machine.registryChanged = true;
  return kErrorSuccess;
}

Status RegCloseKey(RegKey key) {
  Machine& machine = TheMachine();
  machine.Enter("RegCloseKey", KeyPathOf(key));
  return ReleaseFrom(machine.open.keys, key);
}

}  // namespace platform
