#include "platform/sim/MachineFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <utility>

#include "platform/sim/Text.h"

namespace sim {
namespace {

// Ordered, so that a key's values keep their order through a save and a load.
using json = nlohmann::ordered_json;
using nlohmann::ordered_json;

// Every call of the seam, by the name a fault gives it.
constexpr std::string_view kCalls[] = {"CreateFileW",
                                       "DeviceIoControl",
                                       "ReadFile",
                                       "WriteFile",
                                       "GetFileSizeEx",
                                       "FlushFileBuffers",
                                       "GetFileInformationByHandleEx",
                                       "GetFileInformationByHandle",
                                       "SetFileInformationByHandle",
                                       "GetFinalPathNameByHandleW",
                                       "GetFullPathNameW",
                                       "CloseHandle",
                                       "FindFirstFileW",
                                       "FindNextFileW",
                                       "FindClose",
                                       "ConvertStringSecurityDescriptorToSecurityDescriptorW",
                                       "LocalFree",
                                       "CreateWellKnownSid",
                                       "CreateBoundaryDescriptorW",
                                       "AddSIDToBoundaryDescriptor",
                                       "DeleteBoundaryDescriptor",
                                       "CreatePrivateNamespaceW",
                                       "OpenPrivateNamespaceW",
                                       "ClosePrivateNamespace",
                                       "CreateMutexExW",
                                       "WaitForSingleObject",
                                       "ReleaseMutex",
                                       "Sleep",
                                       "GetStdHandle",
                                       "GetConsoleMode",
                                       "WriteConsoleW",
                                       "HeapAlloc",
                                       "HeapFree",
                                       "SetupDiGetClassDevsW",
                                       "SetupDiEnumDeviceInterfaces",
                                       "SetupDiGetDeviceInterfaceDetailW",
                                       "SetupDiGetDeviceInstanceIdW",
                                       "SetupDiDestroyDeviceInfoList",
                                       "RegCreateKeyExW",
                                       "RegQueryValueExW",
                                       "RegSetValueExW",
                                       "RegDeleteValueW",
                                       "RegCloseKey",
                                       "GetModuleFileNameW",
                                       "GetLongPathNameW",
                                       "GetModuleHandleW",
                                       "GetProcAddress",
                                       "SetDefaultDllDirectories",
                                       "wprintf"};
// The calls whose transfer a fault may cut short.
constexpr std::string_view kTransferCalls[] = {"ReadFile", "WriteFile", "WriteConsoleW"};

template <std::size_t N>
bool OneOf(const std::string_view (&names)[N], const std::string& name) {
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

constexpr std::array<std::pair<std::string_view, std::uint32_t>, 7> kTypeNames = {{
    {"REG_NONE", platform::kRegNone},
    {"REG_SZ", platform::kRegSz},
    {"REG_EXPAND_SZ", platform::kRegExpandSz},
    {"REG_BINARY", platform::kRegBinary},
    {"REG_DWORD", platform::kRegDword},
    {"REG_MULTI_SZ", platform::kRegMultiSz},
    {"REG_QWORD", platform::kRegQword},
}};

struct FormatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
  throw FormatError(where + ": " + problem);
}

void CheckMembers(const json& object, const std::string& where,
                  std::initializer_list<std::string_view> allowed) {
  if (!object.is_object()) Fail(where, "must be an object");
  for (const auto& [name, value] : object.items()) {
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
      Fail(where, "unknown member \"" + name + "\"");
    }
  }
}

const json& Member(const json& object, const std::string& where, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) Fail(where, std::string("lacks \"") + name + "\"");
  return *it;
}

std::u16string Text(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "must be a string");
  return ToUtf16(value.get<std::string>());
}

std::uint32_t Number(const json& value, const std::string& where) {
  if (!value.is_number_unsigned() || value.get<std::uint64_t>() > UINT32_MAX) {
    Fail(where, "must be a whole number from 0 to 4294967295");
  }
  return value.get<std::uint32_t>();
}

std::optional<std::uint32_t> NumberIfThere(const json& object, const std::string& where,
                                           const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return std::nullopt;
  return Number(*it, where + "." + name);
}

std::uint32_t OptionalNumber(const json& object, const std::string& where, const char* name) {
  return NumberIfThere(object, where, name).value_or(0);
}

std::u16string ManagerName(const json& value, const std::string& where) {
  std::u16string name = Text(value, where);
  if (name.size() > 8) Fail(where, "has more than 8 characters");
  return name;
}

std::uint32_t ValueType(const json& value, const std::string& where) {
  if (value.is_string()) {
    for (const auto& [name, type] : kTypeNames) {
      if (value.get<std::string>() == name) return type;
    }
    Fail(where, "unknown registry type \"" + value.get<std::string>() + "\"");
  }
  return Number(value, where);
}

std::vector<std::uint8_t> Hex(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "must be a string of hexadecimal digits");
  const std::string& text = value.get_ref<const std::string&>();
  if (text.size() % 2) Fail(where, "has an odd number of hexadecimal digits");
  const auto digit = [&](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    Fail(where, "holds something other than hexadecimal digits");
  };
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
  }
  return bytes;
}

std::string HexText(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

const json& Array(const json& object, const char* name) {
  static const json kEmpty = json::array();
  const auto it = object.find(name);
  if (it == object.end()) return kEmpty;
  if (!it->is_array()) Fail(name, "must be an array");
  return *it;
}

// The Windows and the file system, where the file names them.
void LoadSystem(const json& root, Machine& machine) {
  if (root.contains("windows")) {
    const json& name = root["windows"];
    const auto windows = name.is_string() ? WindowsNamed(name.get<std::string>()) : std::nullopt;
    if (!windows) {
      Fail("windows",
           "must be \"7\", \"8\", \"8.1\", \"10-1511\", \"10-1607\", \"10-1709\" or \"11\"");
    }
    machine.windows = *windows;
  }
  if (root.contains("fileSystem")) {
    const json& name = root["fileSystem"];
    const auto fileSystem =
        name.is_string() ? FileSystemNamed(name.get<std::string>()) : std::nullopt;
    if (!fileSystem) {
      Fail("fileSystem", "must be \"NTFS\", \"ReFS\", \"FAT32\", \"exFAT\" or \"SMB\"");
    }
    machine.fileSystem = *fileSystem;
  }
  if (!AnswersFor(machine.windows, machine.fileSystem)) {
    Fail("fileSystem", "is not one that this Windows has");
  }
  if (root.contains("longPaths")) {
    if (!root["longPaths"].is_boolean()) Fail("longPaths", "must be true or false");
    machine.longPaths = root["longPaths"].get<bool>();
    if (machine.longPaths && machine.windows < Windows::k10_1607) {
      Fail("longPaths", "came with Windows 10 1607");
    }
  }
}

void LoadDrives(const json& root, Machine& machine) {
  std::set<std::u16string> names;
  for (std::size_t i = 0; i < Array(root, "drives").size(); ++i) {
    const json& item = root["drives"][i];
    const std::string where = "drives[" + std::to_string(i) + "]";
    CheckMembers(item, where,
                 {"name", "volumeNumber", "volumeManagerName", "openError", "queryError"});
    Drive drive;
    drive.name = Text(Member(item, where, "name"), where + ".name");
    if (drive.name.empty()) Fail(where + ".name", "must not be empty");
    if (!names.insert(FoldCase(drive.name)).second) Fail(where + ".name", "names a drive twice");
    drive.volumeNumber = Number(Member(item, where, "volumeNumber"), where + ".volumeNumber");
    if (item.contains("volumeManagerName")) {
      drive.volumeManagerName =
          ManagerName(item["volumeManagerName"], where + ".volumeManagerName");
    }
    drive.openError = OptionalNumber(item, where, "openError");
    drive.queryError = OptionalNumber(item, where, "queryError");
    machine.drives.push_back(std::move(drive));
  }
}

void LoadInterfaces(const json& root, Machine& machine) {
  for (std::size_t i = 0; i < Array(root, "volumeInterfaces").size(); ++i) {
    const json& item = root["volumeInterfaces"][i];
    const std::string where = "volumeInterfaces[" + std::to_string(i) + "]";
    CheckMembers(item, where,
                 {"devicePath", "instanceId", "volumeNumber", "volumeManagerName", "openError",
                  "queryError"});
    VolumeInterface volume;
    volume.devicePath = Text(Member(item, where, "devicePath"), where + ".devicePath");
    if (!volume.devicePath.starts_with(u"\\\\?\\")) {
      Fail(where + ".devicePath", "must begin with \\\\?\\");
    }
    volume.instanceId = Text(Member(item, where, "instanceId"), where + ".instanceId");
    volume.volumeNumber = Number(Member(item, where, "volumeNumber"), where + ".volumeNumber");
    if (item.contains("volumeManagerName")) {
      volume.volumeManagerName =
          ManagerName(item["volumeManagerName"], where + ".volumeManagerName");
    }
    volume.openError = OptionalNumber(item, where, "openError");
    volume.queryError = OptionalNumber(item, where, "queryError");
    machine.volumeInterfaces.push_back(std::move(volume));
  }
}

void LoadRegistry(const json& root, Machine& machine) {
  const auto it = root.find("registry");
  if (it == root.end()) return;
  if (!it->is_object()) Fail("registry", "must be an object");
  std::set<std::u16string> paths;
  for (const auto& [pathText, values] : it->items()) {
    const std::string where = "registry[\"" + pathText + "\"]";
    const std::u16string path = ToUtf16(pathText);
    if (path.empty() || path.starts_with(u'\\') || path.ends_with(u'\\') ||
        path.find(u"\\\\") != std::u16string::npos) {
      Fail(where, "is not a key path");
    }
    if (!paths.insert(FoldCase(path)).second) Fail(where, "names a key twice");
    if (!values.is_object()) Fail(where, "must be an object");
    machine.registry.CreateKey(path);
    std::set<std::u16string> names;
    for (const auto& [nameText, value] : values.items()) {
      const std::string at = where + "[\"" + nameText + "\"]";
      const std::u16string name = ToUtf16(nameText);
      if (!names.insert(FoldCase(name)).second) Fail(at, "names a value twice");
      CheckMembers(value, at, {"type", "data"});
      machine.registry.SetValue(path, name, ValueType(Member(value, at, "type"), at + ".type"),
                                Hex(Member(value, at, "data"), at + ".data"));
    }
  }
}

void LoadFaults(const json& root, Machine& machine) {
  for (std::size_t i = 0; i < Array(root, "faults").size(); ++i) {
    const json& item = root["faults"][i];
    const std::string where = "faults[" + std::to_string(i) + "]";
    CheckMembers(item, where, {"call", "name", "status", "skip", "count", "bytes", "after"});
    const json& call = Member(item, where, "call");
    if (!call.is_string() || !OneOf(kCalls, call.get<std::string>())) {
      Fail(where + ".call", "must name a call of the seam");
    }
    Fault fault;
    fault.call = call.get<std::string>();
    if (item.contains("name")) fault.name = Text(item["name"], where + ".name");
    fault.status = Number(Member(item, where, "status"), where + ".status");
    fault.skip = OptionalNumber(item, where, "skip");
    fault.count = NumberIfThere(item, where, "count");
    fault.bytes = NumberIfThere(item, where, "bytes");
    if (fault.bytes && !OneOf(kTransferCalls, fault.call)) {
      Fail(where + ".bytes", "applies only to ReadFile, WriteFile and WriteConsoleW");
    }
    if (item.contains("after")) {
      if (!item["after"].is_boolean()) Fail(where + ".after", "must be true or false");
      fault.after = item["after"].get<bool>();
      if (fault.after && fault.call != "SetFileInformationByHandle") {
        Fail(where + ".after", "applies only to SetFileInformationByHandle");
      }
    }
    machine.faults.push_back(std::move(fault));
  }
}

ordered_json SaveType(std::uint32_t type) {
  for (const auto& [name, known] : kTypeNames) {
    if (known == type) return std::string(name);
  }
  return type;
}

void SaveErrors(ordered_json& item, Status openError, Status queryError) {
  if (openError) item["openError"] = openError;
  if (queryError) item["queryError"] = queryError;
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

std::vector<std::uint8_t> LittleEndian(std::uint64_t value, std::size_t size) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < size; ++i)
    bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return bytes;
}

}  // namespace

std::optional<std::string> LoadMachine(std::string_view text, Machine& machine) {
  Machine loaded;
  try {
    const json root = json::parse(text);  // keeps each key's values in their order
    CheckMembers(
        root, "the machine",
        {"windows", "fileSystem", "longPaths", "drives", "volumeInterfaces", "registry", "faults"});
    LoadSystem(root, loaded);
    LoadDrives(root, loaded);
    LoadInterfaces(root, loaded);
    LoadRegistry(root, loaded);
    LoadFaults(root, loaded);
  } catch (const json::exception& error) {
    return std::string("not JSON: ") + error.what();
  } catch (const FormatError& error) {
    return std::string(error.what());
  }
  machine.windows = loaded.windows;
  machine.fileSystem = loaded.fileSystem;
  machine.longPaths = loaded.longPaths;
  machine.drives = std::move(loaded.drives);
  machine.volumeInterfaces = std::move(loaded.volumeInterfaces);
  machine.registry = std::move(loaded.registry);
  machine.faults = std::move(loaded.faults);
  return std::nullopt;
}

std::string SaveMachine(const Machine& machine) {
  // One line for each drive, interface, value and fault, so that the file reads as a table.
  std::string text = "{\n";
  // Today's Windows on NTFS unless the machine is another.
  const Machine standard;
  if (machine.windows != standard.windows || machine.fileSystem != standard.fileSystem) {
    text += "  \"windows\": " + ordered_json(std::string(NameOf(machine.windows))).dump() + ",\n";
    text +=
        "  \"fileSystem\": " + ordered_json(std::string(NameOf(machine.fileSystem))).dump() + ",\n";
  }
  if (machine.longPaths) text += "  \"longPaths\": true,\n";
  const auto list = [&text](const char* name, const std::vector<ordered_json>& items, bool last) {
    text += std::string("  \"") + name + "\": [";
    for (std::size_t i = 0; i < items.size(); ++i) {
      text += (i ? ",\n    " : "\n    ") + items[i].dump();
    }
    text += items.empty() ? "]" : "\n  ]";
    text += last ? "\n" : ",\n";
  };

  std::vector<ordered_json> drives;
  for (const Drive& drive : machine.drives) {
    ordered_json item = {{"name", ToUtf8(drive.name)}, {"volumeNumber", drive.volumeNumber}};
    if (drive.volumeManagerName) item["volumeManagerName"] = ToUtf8(*drive.volumeManagerName);
    SaveErrors(item, drive.openError, drive.queryError);
    drives.push_back(std::move(item));
  }
  list("drives", drives, false);

  std::vector<ordered_json> interfaces;
  for (const VolumeInterface& volume : machine.volumeInterfaces) {
    ordered_json item = {{"devicePath", ToUtf8(volume.devicePath)},
                         {"instanceId", ToUtf8(volume.instanceId)},
                         {"volumeNumber", volume.volumeNumber},
                         {"volumeManagerName", ToUtf8(volume.volumeManagerName)}};
    SaveErrors(item, volume.openError, volume.queryError);
    interfaces.push_back(std::move(item));
  }
  list("volumeInterfaces", interfaces, false);

  // Keys above a listed key exist anyway: only those with values, and the leaves, are listed.
  text += "  \"registry\": {";
  bool firstKey = true;
  for (const auto& [folded, key] : machine.registry.Keys()) {
    // Volatile keys last until the next start, which a saved machine is.
    if (key.path.empty() || key.isVolatile ||
        (key.values.empty() && machine.registry.HasSubKeys(key.path))) {
      continue;
    }
    text += (firstKey ? "\n    " : ",\n    ") + ordered_json(ToUtf8(key.path)).dump() + ": {";
    for (std::size_t i = 0; i < key.values.size(); ++i) {
      const RegistryValue& value = key.values[i];
      const ordered_json item = {{"type", SaveType(value.type)}, {"data", HexText(value.data)}};
      text += (i ? ",\n      " : "\n      ") + ordered_json(ToUtf8(value.name)).dump() + ": " +
              item.dump();
    }
    text += key.values.empty() ? "}" : "\n    }";
    firstKey = false;
  }
  text += firstKey ? "}" : "\n  }";

  std::vector<ordered_json> faults;
  for (const Fault& fault : machine.faults) {
    ordered_json item = {{"call", fault.call}};
    if (fault.name) item["name"] = ToUtf8(*fault.name);
    item["status"] = fault.status;
    if (fault.skip) item["skip"] = fault.skip;
    if (fault.count) item["count"] = *fault.count;
    if (fault.bytes) item["bytes"] = *fault.bytes;
    if (fault.after) item["after"] = true;
    faults.push_back(std::move(item));
  }
  if (faults.empty()) {
    text += "\n";
  } else {
    text += ",\n";
    list("faults", faults, true);
  }
  return text + "}\n";
}

Machine DefaultMachine() {
  constexpr std::u16string_view kDisk = u"{7f3c9a52-1e4b-4d8a-9c61-2b5e8d0f4a17}";
  constexpr std::u16string_view kInterfaceClass = u"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
  const auto volume = [&](std::u16string_view offset, std::uint32_t number) {
    const std::u16string device = std::u16string(kDisk) + u"#" + std::u16string(offset);
    return VolumeInterface{
        u"\\\\?\\STORAGE#Volume#" + device + u"#" + std::u16string(kInterfaceClass),
        u"STORAGE\\VOLUME\\" + device,
        number,
        u"VOLMGR",
        0,
        0};
  };
  Machine machine;
  machine.drives = {Drive{u"C:", 1, 0, 0, {}}, Drive{u"D:", 2, 0, 0, {}}};
  machine.volumeInterfaces = {volume(u"0000000000100000", 3), volume(u"0000000006500000", 1),
                              volume(u"0000003a5e100000", 2)};
  const std::u16string settings = u"System\\CurrentControlSet\\Services\\KvVolRedir\\Parameters\\" +
                                  std::u16string(kDisk) + u"#0000000006500000";
  machine.registry.SetValue(settings, u"Protected", platform::kRegDword, LittleEndian(1, 4));
  machine.registry.SetValue(settings, u"MaxCacheSize", platform::kRegQword,
                            LittleEndian(0x40000000, 8));  // 1 GiB
  machine.registry.SetValue(settings, u"YellowLevel", platform::kRegQword, LittleEndian(70, 8));
  machine.registry.SetValue(settings, u"RedLevel", platform::kRegQword, LittleEndian(90, 8));
  machine.registry.SetValue(settings, u"GreenLevel", platform::kRegQword, LittleEndian(50, 8));
  // Two paths, each ended by a zero character, and the empty string that ends the list.
  static constexpr char16_t kList[] = u"\\Windows\\Temp\0\\Users\\Public\\Downloads\0";
  machine.registry.SetValue(settings, u"ExclusionList", platform::kRegMultiSz,
                            Utf16Bytes(std::u16string_view(kList, std::size(kList))));
  return machine;
}

}  // namespace sim
