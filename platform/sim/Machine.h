#pragma once

// A simulated Windows machine behind the seam: drives and volume interfaces, the registry below
// HKEY_LOCAL_MACHINE, the process heap, real files, and the console. It answers each seam call
// as Windows does in the cases that ZOLTMgr meets, can be told to make any call fail, and counts
// what is open and which calls were made.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/Systems.h"

namespace sim {

using platform::Status;

struct Drive {
  std::u16string name;  // "C:", opened as \\.\C:
  std::uint32_t volumeNumber = 0;
  Status openError = 0;   // nonzero: the open fails with it
  Status queryError = 0;  // nonzero: the volume-number query fails with it
  // At most 8 characters. A drive is the same device as its volume interface and answers the
  // same name: when unset, that of the first interface with the drive's volume number.
  std::optional<std::u16string> volumeManagerName;
  bool operator==(const Drive&) const = default;
};

struct VolumeInterface {
  std::u16string devicePath;  // \\?\STORAGE#Volume#...
  std::u16string instanceId;  // STORAGE\VOLUME\...
  std::uint32_t volumeNumber = 0;
  std::u16string volumeManagerName;  // at most 8 characters
  Status openError = 0;
  Status queryError = 0;
  bool operator==(const VolumeInterface&) const = default;
};

struct RegistryValue {
  std::u16string name;
  std::uint32_t type = platform::kRegNone;
  std::vector<std::uint8_t> data;
  bool operator==(const RegistryValue&) const = default;
};

struct RegistryKey {
  std::u16string path;                // below HKEY_LOCAL_MACHINE, as first created
  std::vector<RegistryValue> values;  // in the order they were first set
  bool isVolatile = false;            // gone at the next start: never saved
  bool operator==(const RegistryKey&) const = default;
};

// Keys and value names compare without regard to case; a key exists with every key above it.
class Registry {
 public:
  // Creates the key and every missing key above it, volatile or not; `created` tells whether any
  // was missing. Empty path elements are ignored.
  RegistryKey& CreateKey(std::u16string_view path, bool* created = nullptr,
                         bool isVolatile = false);
  // Whether creating `path` would make a key below a volatile one.
  bool BelowVolatile(std::u16string_view path) const;
  RegistryKey* FindKey(std::u16string_view path);
  const RegistryKey* FindKey(std::u16string_view path) const;
  bool HasSubKeys(std::u16string_view path) const;

  const RegistryValue* FindValue(std::u16string_view path, std::u16string_view name) const;
  void SetValue(std::u16string_view path, std::u16string_view name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  bool DeleteValue(std::u16string_view path, std::u16string_view name);

  // Every key, in the order of their folded paths.
  const std::map<std::u16string, RegistryKey>& Keys() const { return keys_; }
  bool operator==(const Registry&) const = default;

 private:
  std::map<std::u16string, RegistryKey> keys_;  // by folded path
};

// Makes matching calls fail with `status`. A call matches by its seam name and, when `name` is
// set, by what it works on (compared without regard to case): the value name of a registry value
// call, the key path of RegCreateKeyExW, the path a handle was opened with for the handle calls,
// the new name for a rename by SetFileInformationByHandle, the interface's
// device path for the device installation calls. The first `skip` matching calls go through;
// after them `count` calls fail (every later one when unset). With `bytes`, a ReadFile, WriteFile
// or WriteConsoleW that the fault hits moves at most that many bytes (characters for the
// console) and answers `status`, which may be 0: a short transfer that reports success. With
// `after` (SetFileInformationByHandle alone), the call does its work first and then answers
// `status`, as a rename on a share does whose reply was lost.
struct Fault {
  std::string call;
  std::optional<std::u16string> name;
  Status status = 0;
  std::uint32_t skip = 0;
  std::optional<std::uint32_t> count;
  std::optional<std::uint32_t> bytes;
  bool after = false;
  bool operator==(const Fault&) const = default;
};

// MUTEX_ALL_ACCESS, and what the default security of the system account's objects grants the
// Administrators group (read and execute: SYNCHRONIZE, READ_CONTROL and MUTANT_QUERY_STATE).
inline constexpr std::uint32_t kMutexAllAccess = 0x001F0001;
inline constexpr std::uint32_t kSystemMutexAdministratorsAccess = 0x00120001;

// A named mutex. Another process may hold it (a wait for it then times out), or may have ended
// while holding it (the next wait takes it and answers WAIT_ABANDONED). Another process may have
// created it with security that grants the program less than all access, or taken its name for
// an object of another kind (an event), which no CreateMutexExW opens.
struct NamedMutex {
  bool heldElsewhere = false;
  bool abandoned = false;
  int owned = 0;  // how often the program took it and has not yet released it
  std::uint32_t grantedAccess = kMutexAllAccess;
  bool otherKind = false;
  std::u16string security;  // the descriptor it was created with by the program, as SDDL
};

// A private namespace, made by the program or by another process that holds it open. Its
// descriptor decides who may open it: where it was given none, the creator's defaults grant the
// Administrators group full access when an administrator made it, and only read access when the
// system account did. It ends when its last handle is closed, or for everyone at once when a
// handle is closed with PRIVATE_NAMESPACE_FLAG_DESTROY, while the objects named in it live on
// out of reach; the record stays, as a mutex's does.
struct PrivateNamespace {
  std::u16string security;  // the descriptor it was created with, as SDDL; empty for none
  bool bySystemAccount = false;
  bool elsewhere = false;  // another process holds it open: it cannot be created, only opened
  bool ended = false;      // no one can open it, and a create makes a new one
};

// A file that another process holds open, as it opened it.
struct HeldFile {
  std::string path;
  std::uint32_t access = 0;
  std::uint32_t share = 0;
};

// What is open at a moment.
struct OpenCounts {
  int handles = 0;
  int deviceSets = 0;
  int keys = 0;
  int heapBlocks = 0;
  int ownedMutexes = 0;
  int localBlocks = 0;
  int boundaryDescriptors = 0;
  int privateNamespaces = 0;
  bool operator==(const OpenCounts&) const = default;
};

// A call's subject as faults and counts compare it: one path with either separator, with or
// without \\?\ before it, on the simulated volume's drive C: or from its root, is one subject.
std::u16string SubjectOf(std::u16string_view path);

struct CallRecord {
  std::string call;
  std::u16string subject;                // what the call worked on, as Fault::name matches it
  std::vector<std::uint32_t> arguments;  // the flags it was given, for the calls that take them
};

class Machine {
 public:
  // The machine as configured; the program sees it through the seam.
  std::vector<Drive> drives;
  std::vector<VolumeInterface> volumeInterfaces;
  Registry registry;
  std::vector<Fault> faults;
  std::map<std::u16string, NamedMutex> mutexes;  // by name, which is case-sensitive
  // Whether kernel32 has the private namespace functions (Windows has since Vista; Wine has not),
  // and whether the program runs as a member of the Administrators group, within their boundary.
  bool namespaceFunctions = true;
  bool administrator = true;
  std::map<std::u16string, PrivateNamespace> namespaces;  // by alias
  // Attributes beyond the file system's, such as read-only, hidden and system, by the file's real
  // path.
  std::map<std::string, std::uint32_t> fileAttributes;
  std::vector<HeldFile> heldElsewhere;
  // Files whose security denies the program DELETE, by real path: neither opened for it nor
  // renamed over.
  std::set<std::string> deleteDenied;
  // The Windows that runs, and the file system of the program's folder; what the file calls
  // answer follows from the two.
  sim::Windows windows = Windows::k11;
  sim::FileSystem fileSystem = FileSystem::kNtfs;
  // LongPathsEnabled is 1 (Windows 10 1607 and later), which the program's manifest opts into: a
  // path is no longer limited to 259 characters outside the \\?\ form.
  bool longPaths = false;
  // Files marked for deletion whose last handle is gone, while another process still holds
  // them: their names stay taken, and every open of them is refused, until it lets go.
  std::set<std::string> pendingDeletion;
  // Where the file system keeps a file's index in its directory entry (FAT): each folder's
  // entries by their place, each holding the Linux name of the file that it belongs to, or
  // empty where it is free. A file takes its entries when its index is first asked for.
  std::map<std::string, std::vector<std::string>> directoryEntries;
  // The running executable's path; the real one (/proc/self/exe) when unset.
  std::optional<std::string> moduleFileName;
  // The long form of that path, when it has one of its own (as a path with 8.3 names has).
  std::optional<std::string> longModuleFileName;
  // Printed text also goes to standard output, as UTF-8.
  bool echoConsole = false;
  // Whether the program's standard output is a console (GetConsoleMode answers for it) or a
  // file or pipe.
  bool consoleOutput = false;
  // Whether Sleep and a wait that times out take real time; otherwise they only advance `clock`.
  bool realTime = false;

  // What the program did.
  std::u16string console;
  std::vector<CallRecord> calls;
  bool registryChanged = false;
  int badReleases = 0;      // closes and frees of things that were not open
  int peakHandles = 0;      // the most handles open at one time
  std::uint64_t clock = 0;  // milliseconds spent in Sleep and in waits that timed out

  // What this machine's Windows and file system answer; there is no such pair as ReFS on
  // Windows 7, which the machine file refuses.
  const Answers& System() const;

  OpenCounts Open() const;
  int CallCount(std::string_view call) const;
  int CallCount(std::string_view call, std::u16string_view subject) const;

  // The configuration alone: Windows and file system, drives, interfaces, registry and faults.
  bool SameConfiguration(const Machine& other) const;

  // Used by the seam: records the call and answers the status of the first fault that hits it.
  // When that fault limits the transfer, `*bytes` (if given) is set to its limit.
  Status Enter(std::string_view call, std::u16string_view subject,
               std::vector<std::uint32_t> arguments = {}, std::uint32_t* bytes = nullptr);
  // What a call that has done its work answers: `done`, or, where it succeeded and an `after`
  // fault hit it on entry, that fault's status.
  Status Answer(Status done);

  struct OpenObject {
    enum class Kind { Drive, Interface, File, Mutex, Find, Null } kind;
    std::u16string path;  // the mutex's name, for a mutex; the pattern, for a search
    std::uint32_t volumeNumber = 0;
    std::u16string volumeManagerName;
    Status queryError = 0;
    int fd = -1;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    // The file itself, whatever path reached it; a link, where it was opened as one.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool link = false;
    bool deleteOnClose = false;
    bool posixDelete = false;  // the name goes when this handle closes, whoever else holds it
    std::string linux;         // where the file lies now, as the file system names it
    std::vector<std::u16string> found;  // a search's names still to come
  };
  struct OpenBoundary {
    std::u16string name;
    std::vector<std::vector<std::uint8_t>> sids;
  };
  struct OpenSet {
    std::vector<VolumeInterface> interfaces;  // as present when the set was made
  };
  struct OpenKey {
    std::u16string path;
    std::uint32_t access = 0;
  };
  // What the program has open. Whatever is left open when the machine is replaced or ends is
  // released then (files closed, heap blocks freed), so that a leak shows in the counts only.
  struct OpenObjects {
    std::map<std::uintptr_t, OpenObject> handles;
    std::map<std::uintptr_t, OpenSet> deviceSets;
    std::map<std::uintptr_t, OpenKey> keys;
    std::map<void*, std::size_t> heapBlocks;
    std::map<std::uintptr_t, std::u16string> localBlocks;  // security descriptors, as SDDL
    std::map<std::uintptr_t, OpenBoundary> boundaries;
    std::map<std::uintptr_t, std::u16string> namespaces;  // by alias

    OpenObjects() = default;
    OpenObjects(OpenObjects&& other) noexcept;
    OpenObjects& operator=(OpenObjects&& other) noexcept;
    ~OpenObjects();
    void Release();
  };
  OpenObjects open;
  std::uintptr_t NextId() { return nextId_ += 4; }

 private:
  std::uintptr_t nextId_ = 0x1000;
  Status afterwards_ = 0;  // what the call under way answers once it has done its work
};

// The machine that the seam answers from.
Machine& TheMachine();

}  // namespace sim
