// The simulated seam: the process: its heap, its executable's path, and the functions found at run
// time.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"
#include "platform/sim/Win32Paths.h"

namespace platform {

using namespace seam;

namespace {

const Heap kProcessHeap = reinterpret_cast<Heap>(std::uintptr_t{0x4ea9});

}  // namespace

Heap GetProcessHeap() { return kProcessHeap; }

// Stricter than Windows, which knows flags such as HEAP_ZERO_MEMORY: ZOLTMgr asks for none, and
// one given by mistake would change what the block holds, or how a failure shows.
void* HeapAlloc(Heap heap, std::uint32_t flags, std::size_t bytes) {
  Machine& machine = TheMachine();
  if (machine.Enter("HeapAlloc", u"", {flags, static_cast<std::uint32_t>(bytes)}) ||
      heap != kProcessHeap || flags != 0) {
    return nullptr;
  }
  void* block = std::malloc(std::max<std::size_t>(bytes, 1));
  if (!block) return nullptr;
  // Heap memory is not cleared: nothing may rely on its content.
  std::memset(block, 0xCD, bytes);
  machine.open.heapBlocks.emplace(block, bytes);
  return block;
}

Status HeapFree(Heap heap, std::uint32_t flags, void* block) {
  Machine& machine = TheMachine();
  machine.Enter("HeapFree", u"", {flags});
  if (heap != kProcessHeap || flags != 0 || !machine.open.heapBlocks.erase(block)) {
    ++machine.badReleases;
    return kErrorInvalidParameter;
  }
  std::free(block);
  return kErrorSuccess;
}

Status GetModuleFileNameW(char16_t* fileName, std::uint32_t size, std::uint32_t* length) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("GetModuleFileNameW", u"", {size})) return status;
  std::string path;
  if (machine.moduleFileName) {
    path = *machine.moduleFileName;
  } else {
    char link[PATH_MAX];
    const ssize_t got = ::readlink("/proc/self/exe", link, sizeof(link));
    if (got <= 0) return kErrorGenFailure;
    path.assign(link, static_cast<std::size_t>(got));
  }
  const std::u16string wide = sim::ToUtf16(path);
  if (size == 0) return kErrorInsufficientBuffer;
  // A path that does not fit is cut short and the whole buffer reported, as Windows does.
  const std::size_t copied = std::min<std::size_t>(wide.size(), size - 1);
  std::copy_n(wide.begin(), copied, fileName);
  fileName[copied] = u'\0';
  *length = wide.size() < size ? static_cast<std::uint32_t>(wide.size()) : size;
  return kErrorSuccess;
}

Status GetLongPathNameW(const char16_t* shortPath, char16_t* longPath, std::uint32_t size,
                        std::uint32_t* length) {
  Machine& machine = TheMachine();
  std::u16string path(shortPath);
  if (Status status = machine.Enter("GetLongPathNameW", path, {size})) return status;
  if (machine.longModuleFileName && machine.moduleFileName &&
      path == sim::ToUtf16(*machine.moduleFileName)) {
    path = sim::ToUtf16(*machine.longModuleFileName);
  } else {
    std::string linux;
    if (Status status = LongPath(std::u16string(path), &path, &linux)) return status;
  }
  // Too little room: the room needed, terminator included.
  if (path.size() + 1 > size) {
    *length = static_cast<std::uint32_t>(path.size() + 1);
    return kErrorSuccess;
  }
  std::copy(path.begin(), path.end(), longPath);
  longPath[path.size()] = u'\0';
  *length = static_cast<std::uint32_t>(path.size());
  return kErrorSuccess;
}

namespace {

const Module kKernel32 = reinterpret_cast<Module>(std::uintptr_t{0x7ff8'0000'0000});

// What GetProcAddress finds for each function that it knows; never called as it is.
template <int N>
void Entry() {}
constexpr std::pair<std::string_view, Procedure> kEntries[] = {
    {"SetDefaultDllDirectories", &Entry<0>},   {"CreateBoundaryDescriptorW", &Entry<1>},
    {"AddSIDToBoundaryDescriptor", &Entry<2>}, {"DeleteBoundaryDescriptor", &Entry<3>},
    {"CreatePrivateNamespaceW", &Entry<4>},    {"OpenPrivateNamespaceW", &Entry<5>},
    {"ClosePrivateNamespace", &Entry<6>}};
constexpr std::size_t kFirstNamespaceEntry = 1;

}  // namespace

bool seam::IsEntry(Procedure procedure, std::string_view name) {
  return std::any_of(std::begin(kEntries), std::end(kEntries), [&](const auto& entry) {
    return entry.first == name && entry.second == procedure;
  });
}

// Only kernel32 is loaded. It exports SetDefaultDllDirectories, and the private namespace
// functions where the machine has them: a machine of a Windows that lacks one is one whose
// GetProcAddress fails with ERROR_PROC_NOT_FOUND.
Status GetModuleHandleW(const char16_t* moduleName, Module* module) {
  const std::u16string name(moduleName ? moduleName : u"");
  if (Status status = TheMachine().Enter("GetModuleHandleW", name)) return status;
  if (!sim::EqualsIgnoringCase(name, u"kernel32.dll") &&
      !sim::EqualsIgnoringCase(name, u"kernel32")) {
    return kErrorModNotFound;
  }
  *module = kKernel32;
  return kErrorSuccess;
}

Status GetProcAddress(Module module, const char* procName, Procedure* procedure) {
  const std::string name(procName ? procName : "");
  if (Status status = TheMachine().Enter("GetProcAddress", sim::ToUtf16(name))) return status;
  if (module != kKernel32) return kErrorInvalidHandle;
  // Export names compare exactly.
  const std::size_t known =
      TheMachine().namespaceFunctions ? std::size(kEntries) : kFirstNamespaceEntry;
  for (std::size_t i = 0; i < known; ++i) {
    if (kEntries[i].first == name) {
      *procedure = kEntries[i].second;
      return kErrorSuccess;
    }
  }
  return kErrorProcNotFound;
}

Status SetDefaultDllDirectories(Procedure setDefaultDllDirectories, std::uint32_t directoryFlags) {
  if (Status status = TheMachine().Enter("SetDefaultDllDirectories", u"", {directoryFlags})) {
    return status;
  }
  if (!IsEntry(setDefaultDllDirectories, "SetDefaultDllDirectories")) return kErrorInvalidParameter;
  // LOAD_LIBRARY_SEARCH_APPLICATION_DIR, _USER_DIRS, _SYSTEM32 and _DEFAULT_DIRS.
  constexpr std::uint32_t kKnown = 0x200 | 0x400 | 0x800 | 0x1000;
  return directoryFlags != 0 && !(directoryFlags & ~kKnown) ? kErrorSuccess
                                                            : kErrorInvalidParameter;
}

}  // namespace platform
