// The seam over the simulated machine. Each call checks what Windows checks in the cases that
// ZOLTMgr meets (record sizes, handle kinds, access rights), so that a wrong argument fails here
// as it would there.

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Text.h"

namespace platform {
namespace {

using sim::Machine;
using sim::TheMachine;
using Kind = Machine::OpenObject::Kind;

// Distinct from every id that NextId hands out.
const RegKey kLocalMachineKey = reinterpret_cast<RegKey>(std::uintptr_t{0x80000002});
const Heap kProcessHeap = reinterpret_cast<Heap>(std::uintptr_t{0x4ea9});

// The GUID of the volume device setup class.
constexpr Guid kVolumeClassGuid = {
    0x71a27cdd, 0x812a, 0x11d0, {0xbe, 0xc7, 0x08, 0x00, 0x2b, 0xe2, 0x09, 0x2f}};

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

std::u16string PathOf(void* handle) {
  auto* object = Find(TheMachine().open.handles, handle);
  return object ? object->path : std::u16string();
}

std::u16string KeyPathOf(RegKey key) {
  auto* open = Find(TheMachine().open.keys, key);
  return open ? open->path : std::u16string();
}

// A file path as Linux takes it: backslashes are separators too.
std::string LinuxPath(std::u16string_view path) {
  std::string linux = sim::ToUtf8(path);
  std::replace(linux.begin(), linux.end(), '\\', '/');
  return linux;
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

// The drive's own name, or else that of the first interface with its number: the same device.
std::u16string DriveManagerName(const sim::Drive& drive) {
  if (drive.volumeManagerName) return *drive.volumeManagerName;
  for (const sim::VolumeInterface& volume : TheMachine().volumeInterfaces) {
    if (volume.volumeNumber == drive.volumeNumber) return volume.volumeManagerName;
  }
  return u"";
}

// \\.\ and \\?\ lead into the device namespace, where drives and volume interfaces live.
Status OpenDevice(std::u16string_view path, Handle* device) {
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

// Whether a file that some handle holds may be opened with `access` and `share` besides: each
// open must allow what the other does with the file.
bool SharingAllows(const Machine::OpenObject& held, std::uint32_t access, std::uint32_t share) {
  const auto allows = [](std::uint32_t shareMode, std::uint32_t accessMode) {
    return (!(accessMode & kGenericRead) || (shareMode & kFileShareRead)) &&
           (!(accessMode & kGenericWrite) || (shareMode & kFileShareWrite)) &&
           (!(accessMode & kDelete) || (shareMode & kFileShareDelete));
  };
  return allows(held.share, access) && allows(share, held.access);
}

// The handles that hold the file at `linux`, if it exists.
std::vector<const Machine::OpenObject*> HoldersOf(const std::string& linux) {
  std::vector<const Machine::OpenObject*> holders;
  struct stat info {};
  if (::stat(linux.c_str(), &info) != 0) return holders;
  for (const auto& [id, object] : TheMachine().open.handles) {
    if (object.kind == Kind::File && object.device == info.st_dev && object.inode == info.st_ino) {
      holders.push_back(&object);
    }
  }
  return holders;
}

// A file may be deleted or renamed only while every handle that holds it allows deletion.
Status CheckDeletable(const std::string& linux) {
  for (const Machine::OpenObject* holder : HoldersOf(linux)) {
    if (!(holder->share & kFileShareDelete)) return kErrorSharingViolation;
  }
  return kErrorSuccess;
}

// A file that is not there: only the file, or the folder it would be in as well.
Status Missing(const std::string& linux) {
  const std::size_t slash = linux.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return kErrorFileNotFound;
  struct stat info {};
  return ::stat(linux.substr(0, slash).c_str(), &info) == 0 && S_ISDIR(info.st_mode)
             ? kErrorFileNotFound
             : kErrorPathNotFound;
}

// The file's path with every link resolved, as the machine's attributes are kept by; empty
// where there is no such file.
std::string RealPath(const std::string& linux) {
  char* real = ::realpath(linux.c_str(), nullptr);
  if (!real) return {};
  std::string path(real);
  std::free(real);
  return path;
}

std::uint32_t ExtraAttributes(const std::string& linux) {
  const auto& attributes = TheMachine().fileAttributes;
  const auto it = attributes.find(RealPath(linux));
  return it == attributes.end() ? 0 : it->second;
}

Status OpenFile(std::u16string_view path, std::uint32_t access, std::uint32_t share,
                std::uint32_t disposition, std::uint32_t flagsAndAttributes, Handle* file) {
  if (path.empty()) return kErrorPathNotFound;
  const bool deleteOnClose = (flagsAndAttributes & kFileFlagDeleteOnClose) != 0;
  if (deleteOnClose && !(access & kDelete)) return kErrorInvalidParameter;
  const std::string linux = LinuxPath(path);
  const bool write = (access & kGenericWrite) != 0;
  int flags = write ? ((access & kGenericRead) ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case kOpenExisting:
      break;
    case kOpenAlways:
      flags |= O_CREAT;
      break;
    case kTruncateExisting:
      // Emptying a file needs the right to write it.
      if (!write) return kErrorInvalidParameter;
      flags |= O_TRUNC;
      break;
    default:
      return kErrorInvalidParameter;
  }
  struct stat info {};
  if (::stat(linux.c_str(), &info) == 0) {
    // A new file may not have the name of anything that exists, a directory included.
    if (disposition == kCreateNew) return kErrorFileExists;
    // Windows opens no directory as a file.
    if (S_ISDIR(info.st_mode)) return kErrorAccessDenied;
    // Nor does it replace a hidden or system file by one with other attributes.
    const std::uint32_t kept = kFileAttributeHidden | kFileAttributeSystem;
    if (disposition == kCreateAlways && (ExtraAttributes(linux) & kept & ~flagsAndAttributes)) {
      return kErrorAccessDenied;
    }
    for (const Machine::OpenObject* holder : HoldersOf(linux)) {
      if (!SharingAllows(*holder, access, share)) return kErrorSharingViolation;
    }
  }
  const int fd = ::open(linux.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return kErrorFileExists;
    return errno == ENOENT ? Missing(linux) : FromErrno(errno);
  }
  ::fstat(fd, &info);
  Machine::OpenObject object{Kind::File, std::u16string(path), 0, u"", 0, fd, access, share};
  object.device = info.st_dev;
  object.inode = info.st_ino;
  object.deleteOnClose = deleteOnClose;
  *file = NewHandle(std::move(object));
  return kErrorSuccess;
}

}  // namespace

Status CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                   Handle* file) {
  const std::u16string_view path(fileName);
  if (Status status =
          TheMachine().Enter("CreateFileW", path,
                             {desiredAccess, shareMode, creationDisposition, flagsAndAttributes})) {
    return status;
  }
  if (path.starts_with(u"\\\\.\\") || path.starts_with(u"\\\\?\\")) {
    // A mounted volume is open already, for reading and writing: as Windows documents for
    // volumes, only an open that shares both may join (Wine's test driver enforces no sharing).
    if ((shareMode & (kFileShareRead | kFileShareWrite)) != (kFileShareRead | kFileShareWrite)) {
      return kErrorSharingViolation;
    }
    return OpenDevice(path, file);
  }
  return OpenFile(path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes, file);
}

Status DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* outBuffer,
                       std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
  if (Status status = TheMachine().Enter("DeviceIoControl", PathOf(device), {ioControlCode})) {
    return status;
  }
  auto* object = Find(TheMachine().open.handles, device);
  if (!object) return kErrorInvalidHandle;
  if (object->kind == Kind::File || ioControlCode != kIoctlVolumeQueryVolumeNumber) {
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

Status ReadFile(Handle file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
  *bytesRead = 0;
  std::uint32_t limit = bytesToRead;
  if (Status status = TheMachine().Enter("ReadFile", PathOf(file), {bytesToRead}, &limit)) {
    return status;
  }
  auto* object = Find(TheMachine().open.handles, file);
  if (!object) return kErrorInvalidHandle;
  if (object->kind != Kind::File) return kErrorInvalidFunction;
  if (!(object->access & kGenericRead)) return kErrorAccessDenied;
  if (!buffer && bytesToRead != 0) return kErrorNoAccess;
  // One request reads what the file holds, up to the size asked.
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::uint32_t wanted = std::min(bytesToRead, limit);
  while (*bytesRead < wanted) {
    const std::size_t chunk = std::min<std::size_t>(wanted - *bytesRead, 1u << 30);
    const ssize_t got = ::read(object->fd, bytes + *bytesRead, chunk);
    if (got < 0) return FromErrno(errno);
    if (got == 0) break;
    *bytesRead += static_cast<std::uint32_t>(got);
  }
  return kErrorSuccess;
}

Status WriteFile(Handle file, const void* buffer, std::uint32_t bytesToWrite,
                 std::uint32_t* bytesWritten) {
  *bytesWritten = 0;
  std::uint32_t limit = bytesToWrite;
  if (Status status = TheMachine().Enter("WriteFile", PathOf(file), {bytesToWrite}, &limit)) {
    return status;
  }
  auto* object = Find(TheMachine().open.handles, file);
  if (!object) return kErrorInvalidHandle;
  if (object->kind != Kind::File) return kErrorInvalidFunction;
  if (!(object->access & kGenericWrite)) return kErrorAccessDenied;
  if (!buffer && bytesToWrite != 0) return kErrorInvalidUserBuffer;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  const std::uint32_t wanted = std::min(bytesToWrite, limit);
  while (*bytesWritten < wanted) {
    const ssize_t put = ::write(object->fd, bytes + *bytesWritten, wanted - *bytesWritten);
    if (put < 0) return FromErrno(errno);
    *bytesWritten += static_cast<std::uint32_t>(put);
  }
  return kErrorSuccess;
}

Status GetFileSizeEx(Handle file, std::uint64_t* size) {
  if (Status status = TheMachine().Enter("GetFileSizeEx", PathOf(file))) return status;
  auto* object = Find(TheMachine().open.handles, file);
  if (!object) return kErrorInvalidHandle;
  if (object->kind != Kind::File) return kErrorInvalidFunction;
  struct stat info {};
  if (::fstat(object->fd, &info) != 0) return FromErrno(errno);
  *size = static_cast<std::uint64_t>(info.st_size);
  return kErrorSuccess;
}

Status FlushFileBuffers(Handle file) {
  if (Status status = TheMachine().Enter("FlushFileBuffers", PathOf(file))) return status;
  auto* object = Find(TheMachine().open.handles, file);
  if (!object) return kErrorInvalidHandle;
  if (object->kind != Kind::File) return kErrorInvalidFunction;
  // Only a handle that may write has anything to flush.
  if (!(object->access & kGenericWrite)) return kErrorAccessDenied;
  return ::fsync(object->fd) == 0 ? kErrorSuccess : FromErrno(errno);
}

Status CloseHandle(Handle object) {
  Machine& machine = TheMachine();
  const std::u16string path = PathOf(object);
  auto* open = Find(machine.open.handles, object);
  if (!open) {
    machine.Enter("CloseHandle", path);
    ++machine.badReleases;
    return kErrorInvalidHandle;
  }
  // A search is closed with FindClose alone.
  if (open->kind == Kind::Find) {
    machine.Enter("CloseHandle", path);
    ++machine.badReleases;
    return kErrorInvalidHandle;
  }
  // The handle is gone whatever the close reports.
  const int fd = open->fd;
  const bool deleteOnClose = open->deleteOnClose;
  machine.open.handles.erase(reinterpret_cast<std::uintptr_t>(object));
  const Status injected = machine.Enter("CloseHandle", path);
  if (deleteOnClose) {
    machine.fileAttributes.erase(RealPath(LinuxPath(path)));
    ::unlink(LinuxPath(path).c_str());
  }
  if (fd >= 0 && ::close(fd) != 0 && !injected) return FromErrno(errno);
  return injected;
}

Status GetFileInformationByHandle(Handle file, FileInformation* information) {
  if (Status status = TheMachine().Enter("GetFileInformationByHandle", PathOf(file))) {
    return status;
  }
  auto* object = Find(TheMachine().open.handles, file);
  if (!object) return kErrorInvalidHandle;
  if (object->kind != Kind::File) return kErrorInvalidFunction;
  struct stat info {};
  if (::fstat(object->fd, &info) != 0) return FromErrno(errno);
  *information = FileInformation{};
  // FILE_ATTRIBUTE_ARCHIVE, as a file that was written has.
  information->dwFileAttributes = 0x20 | ExtraAttributes(LinuxPath(object->path));
  information->nFileSizeHigh = static_cast<std::uint32_t>(info.st_size >> 32);
  information->nFileSizeLow = static_cast<std::uint32_t>(info.st_size);
  information->nNumberOfLinks = static_cast<std::uint32_t>(info.st_nlink);
  information->nFileIndexHigh = static_cast<std::uint32_t>(info.st_ino >> 32);
  information->nFileIndexLow = static_cast<std::uint32_t>(info.st_ino);
  return kErrorSuccess;
}

// The machine has no drive letters: a final path is the file's real Linux path.
Status GetFinalPathNameByHandleW(Handle file, char16_t* filePath, std::uint32_t size,
                                 std::uint32_t* length) {
  *length = 0;
  if (Status status = TheMachine().Enter("GetFinalPathNameByHandleW", PathOf(file))) {
    return status;
  }
  auto* object = Find(TheMachine().open.handles, file);
  if (!object) return kErrorInvalidHandle;
  if (object->kind != Kind::File) return kErrorInvalidFunction;
  const std::u16string path = sim::ToUtf16(RealPath("/proc/self/fd/" + std::to_string(object->fd)));
  if (path.empty()) return kErrorGenFailure;
  if (path.size() >= size) {
    *length = static_cast<std::uint32_t>(path.size() + 1);
    return kErrorSuccess;
  }
  std::copy(path.begin(), path.end(), filePath);
  filePath[path.size()] = u'\0';
  *length = static_cast<std::uint32_t>(path.size());
  return kErrorSuccess;
}

namespace {

// Hands the search's next name out, as FindFirstFileW and FindNextFileW do.
Status NextFound(Machine::OpenObject& search, FindData* findData) {
  if (search.found.empty()) return kErrorNoMoreFiles;
  const std::u16string name = search.found.front();
  search.found.erase(search.found.begin());
  if (name.size() >= std::size(findData->cFileName)) return kErrorFilenameExcedRange;
  *findData = FindData{};
  const std::size_t slash = search.path.find_last_of(u"\\/");
  struct stat info {};
  const std::string linux = LinuxPath(search.path.substr(0, slash + 1) + name);
  findData->dwFileAttributes = ::stat(linux.c_str(), &info) == 0 && S_ISDIR(info.st_mode)
                                   ? 0x10  // FILE_ATTRIBUTE_DIRECTORY
                                   : 0x20 | ExtraAttributes(linux);
  std::copy(name.begin(), name.end(), findData->cFileName);
  return kErrorSuccess;
}

}  // namespace

Status FindFirstFileW(const char16_t* fileName, FindData* findData, Handle* find) {
  const std::u16string pattern(fileName);
  if (Status status = TheMachine().Enter("FindFirstFileW", pattern)) return status;
  const std::size_t slash = pattern.find_last_of(u"\\/");
  const std::string folder =
      LinuxPath(slash == std::u16string::npos ? u"." : pattern.substr(0, slash + 1));
  const std::string wildcard = sim::ToUtf8(pattern.substr(slash + 1));
  DIR* directory = ::opendir(folder.c_str());
  if (!directory) return errno == ENOENT ? kErrorPathNotFound : FromErrno(errno);
  Machine::OpenObject search{Kind::Find, pattern};
  while (const dirent* entry = ::readdir(directory)) {
    if (::fnmatch(wildcard.c_str(), entry->d_name, FNM_CASEFOLD) == 0) {
      search.found.push_back(sim::ToUtf16(entry->d_name));
    }
  }
  ::closedir(directory);
  if (search.found.empty()) return kErrorFileNotFound;
  std::sort(search.found.begin(), search.found.end());
  if (Status status = NextFound(search, findData)) return status;
  *find = NewHandle(std::move(search));
  return kErrorSuccess;
}

Status FindNextFileW(Handle find, FindData* findData) {
  if (Status status = TheMachine().Enter("FindNextFileW", PathOf(find))) return status;
  auto* search = Find(TheMachine().open.handles, find);
  if (!search || search->kind != Kind::Find) return kErrorInvalidHandle;
  return NextFound(*search, findData);
}

Status FindClose(Handle find) {
  Machine& machine = TheMachine();
  machine.Enter("FindClose", PathOf(find));
  auto* search = Find(machine.open.handles, find);
  if (!search || search->kind != Kind::Find) {
    ++machine.badReleases;
    return kErrorInvalidHandle;
  }
  machine.open.handles.erase(reinterpret_cast<std::uintptr_t>(find));
  return kErrorSuccess;
}

namespace {

// A file that a whole-file call works on: it exists, is no directory, and may be renamed or
// deleted now.
Status CheckWholeFile(const std::string& linux) {
  struct stat info {};
  if (::stat(linux.c_str(), &info) != 0) return FromErrno(errno);
  if (S_ISDIR(info.st_mode)) return kErrorAccessDenied;
  return CheckDeletable(linux);
}

bool Exists(const std::string& linux) {
  struct stat info {};
  return ::stat(linux.c_str(), &info) == 0;
}

}  // namespace

Status MoveFileExW(const char16_t* existingFileName, const char16_t* newFileName,
                   std::uint32_t flags) {
  const std::u16string name(newFileName);
  if (Status status = TheMachine().Enter("MoveFileExW", name, {flags})) return status;
  // Copying to another volume and moving at the next start are not for ZOLTMgr.
  if (flags & ~(kMovefileReplaceExisting | kMovefileWriteThrough)) return kErrorInvalidParameter;
  const std::string from = LinuxPath(existingFileName);
  const std::string to = LinuxPath(name);
  if (Status status = CheckWholeFile(from)) return status;
  if (Exists(to)) {
    if (!(flags & kMovefileReplaceExisting)) return kErrorAlreadyExists;
    // Neither a folder nor an open file is replaced, whatever its handles would share.
    struct stat info {};
    if (::stat(to.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || !HoldersOf(to).empty()) {
      return kErrorAccessDenied;
    }
  }
  const std::string real = RealPath(from);
  if (::rename(from.c_str(), to.c_str()) != 0) return FromErrno(errno);
  // The attributes go with the file, and those of the file it replaced with that file.
  auto& attributes = TheMachine().fileAttributes;
  const auto moved = attributes.extract(real);
  attributes.erase(RealPath(to));
  if (moved) attributes[RealPath(to)] = moved.mapped();
  return kErrorSuccess;
}

Status DeleteFileW(const char16_t* fileName) {
  const std::u16string name(fileName);
  if (Status status = TheMachine().Enter("DeleteFileW", name)) return status;
  const std::string linux = LinuxPath(name);
  if (Status status = CheckWholeFile(linux)) return status;
  TheMachine().fileAttributes.erase(RealPath(linux));
  return ::unlink(linux.c_str()) == 0 ? kErrorSuccess : FromErrno(errno);
}

namespace {

// Time passes for real only in the Linux program; tests only see the clock advance.
void Pass(std::uint32_t milliseconds) {
  Machine& machine = TheMachine();
  machine.clock += milliseconds;
  if (machine.realTime) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Whether the program has a handle to the private namespace `alias`.
bool NamespaceIsOpen(std::u16string_view alias) {
  const auto& open = TheMachine().open.namespaces;
  return std::any_of(open.begin(), open.end(), [&](const auto& n) { return n.second == alias; });
}

// The descriptor that a security-descriptor pointer stands for, as SDDL; empty for none.
std::u16string SecurityOf(const void* securityDescriptor) {
  if (!securityDescriptor) return u"";
  auto* text = Find(TheMachine().open.localBlocks, const_cast<void*>(securityDescriptor));
  return text ? *text : u"?";
}

}  // namespace

// The program is alone with the machine: the Linux program holds the machine file's lock for its
// whole run, so a mutex is only ever held elsewhere when a test says so.
Status CreateMutexExW(const void* securityDescriptor, const char16_t* name,
                      std::uint32_t desiredAccess, Handle* mutex) {
  Machine& machine = TheMachine();
  const std::u16string mutexName(name ? name : u"");
  if (Status status = machine.Enter("CreateMutexExW", mutexName, {desiredAccess})) return status;
  // An unnamed mutex would be the process's own: no other run could see it.
  if (mutexName.empty()) return kErrorInvalidParameter;
  // A prefix names a namespace: a session's, or a private one that this process has open.
  const std::size_t slash = mutexName.find(u'\\');
  if (slash != std::u16string::npos) {
    const std::u16string prefix = mutexName.substr(0, slash);
    if (prefix != u"Global" && prefix != u"Local" && !NamespaceIsOpen(prefix)) {
      return kErrorPathNotFound;
    }
  }
  const auto [it, created] = machine.mutexes.try_emplace(mutexName);
  if (created) {
    it->second.security = SecurityOf(securityDescriptor);
  } else if (it->second.otherKind) {
    return kErrorInvalidHandle;
  } else if (desiredAccess & ~it->second.grantedAccess) {
    return kErrorAccessDenied;
  }
  Machine::OpenObject object{Kind::Mutex, mutexName};
  object.access = desiredAccess;
  *mutex = NewHandle(std::move(object));
  return kErrorSuccess;
}

Status WaitForSingleObject(Handle object, std::uint32_t milliseconds, std::uint32_t* event) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("WaitForSingleObject", PathOf(object), {milliseconds})) {
    return status;
  }
  auto* open = Find(machine.open.handles, object);
  if (!open || open->kind != Kind::Mutex) return kErrorInvalidHandle;
  if (!(open->access & kSynchronize)) return kErrorAccessDenied;
  sim::NamedMutex& mutex = machine.mutexes[open->path];
  if (mutex.heldElsewhere) {
    Pass(milliseconds);
    *event = kWaitTimeout;
    return kErrorSuccess;
  }
  *event = std::exchange(mutex.abandoned, false) ? kWaitAbandoned : kWaitObject0;
  ++mutex.owned;
  return kErrorSuccess;
}

Status ReleaseMutex(Handle mutex) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("ReleaseMutex", PathOf(mutex))) return status;
  auto* open = Find(machine.open.handles, mutex);
  if (!open || open->kind != Kind::Mutex) return kErrorInvalidHandle;
  if (!(open->access & kMutexModifyState)) return kErrorAccessDenied;
  sim::NamedMutex& named = machine.mutexes[open->path];
  if (named.owned == 0) {
    ++machine.badReleases;
    return kErrorNotOwner;
  }
  --named.owned;
  return kErrorSuccess;
}

void Sleep(std::uint32_t milliseconds) {
  TheMachine().Enter("Sleep", u"", {milliseconds});
  Pass(milliseconds);
}

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
    // Linux names have one form only.
    struct stat info {};
    if (::stat(LinuxPath(path).c_str(), &info) != 0) return FromErrno(errno);
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

// Whether `procedure` is what GetProcAddress found for `name`: any other address would be a call
// into the unknown.
bool IsEntry(Procedure procedure, std::string_view name) {
  return std::any_of(std::begin(kEntries), std::end(kEntries), [&](const auto& entry) {
    return entry.first == name && entry.second == procedure;
  });
}

}  // namespace

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

namespace {

// S-1-5-32-544, BUILTIN\\Administrators: revision 1, two subauthorities, authority 5 (NT).
const std::vector<std::uint8_t> kAdministratorsSid = {1,  2, 0, 0, 0,    0, 0, 5,
                                                      32, 0, 0, 0, 0x20, 2, 0, 0};
// What ZOLTMgr may ask for in the string form; anything else would be refused here, not guessed.
constexpr std::u16string_view kKnownSddl[] = {u"D:P(A;;GA;;;SY)(A;;GA;;;BA)"};

}  // namespace

Status ConvertStringSecurityDescriptorToSecurityDescriptorW(
    const char16_t* stringSecurityDescriptor, void** securityDescriptor) {
  Machine& machine = TheMachine();
  const std::u16string sddl(stringSecurityDescriptor ? stringSecurityDescriptor : u"");
  if (Status status = machine.Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW", sddl)) {
    return status;
  }
  if (std::find(std::begin(kKnownSddl), std::end(kKnownSddl), sddl) == std::end(kKnownSddl)) {
    return 1336;  // ERROR_INVALID_ACL
  }
  const std::uintptr_t id = machine.NextId();
  machine.open.localBlocks.emplace(id, sddl);
  *securityDescriptor = reinterpret_cast<void*>(id);
  return kErrorSuccess;
}

Status LocalFree(void* memory) {
  Machine& machine = TheMachine();
  machine.Enter("LocalFree", u"");
  return ReleaseFrom(machine.open.localBlocks, memory);
}

Status CreateWellKnownSid(std::uint32_t wellKnownSidType, void* sid, std::uint32_t* size) {
  if (Status status = TheMachine().Enter("CreateWellKnownSid", u"", {wellKnownSidType})) {
    return status;
  }
  if (wellKnownSidType != kWinBuiltinAdministratorsSid) return kErrorInvalidParameter;
  const std::uint32_t needed = static_cast<std::uint32_t>(kAdministratorsSid.size());
  if (*size < needed) {
    *size = needed;
    return kErrorInsufficientBuffer;
  }
  std::memcpy(sid, kAdministratorsSid.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

Status CreateBoundaryDescriptorW(Procedure createBoundaryDescriptorW, const char16_t* name,
                                 Handle* boundaryDescriptor) {
  Machine& machine = TheMachine();
  const std::u16string boundary(name ? name : u"");
  if (Status status = machine.Enter("CreateBoundaryDescriptorW", boundary)) return status;
  if (!IsEntry(createBoundaryDescriptorW, "CreateBoundaryDescriptorW"))
    return kErrorInvalidParameter;
  const std::uintptr_t id = machine.NextId();
  machine.open.boundaries.emplace(id, Machine::OpenBoundary{boundary, {}});
  *boundaryDescriptor = reinterpret_cast<Handle>(id);
  return kErrorSuccess;
}

Status AddSIDToBoundaryDescriptor(Procedure addSIDToBoundaryDescriptor, Handle* boundaryDescriptor,
                                  const void* requiredSid) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("AddSIDToBoundaryDescriptor", u"")) return status;
  if (!IsEntry(addSIDToBoundaryDescriptor, "AddSIDToBoundaryDescriptor")) {
    return kErrorInvalidParameter;
  }
  auto* boundary = Find(machine.open.boundaries, *boundaryDescriptor);
  if (!boundary || !requiredSid) return kErrorInvalidParameter;
  // Revision, count of subauthorities, six bytes of authority, four bytes a subauthority.
  const auto* bytes = static_cast<const std::uint8_t*>(requiredSid);
  boundary->sids.emplace_back(bytes, bytes + 8 + 4 * bytes[1]);
  return kErrorSuccess;
}

void DeleteBoundaryDescriptor(Procedure deleteBoundaryDescriptor, Handle boundaryDescriptor) {
  Machine& machine = TheMachine();
  machine.Enter("DeleteBoundaryDescriptor", u"");
  if (!IsEntry(deleteBoundaryDescriptor, "DeleteBoundaryDescriptor")) {
    ++machine.badReleases;
    return;
  }
  static_cast<void>(ReleaseFrom(machine.open.boundaries, boundaryDescriptor));
}

Status CreatePrivateNamespaceW(Procedure createPrivateNamespaceW, const void* securityDescriptor,
                               Handle boundaryDescriptor, const char16_t* aliasPrefix,
                               Handle* privateNamespace) {
  Machine& machine = TheMachine();
  const std::u16string alias(aliasPrefix ? aliasPrefix : u"");
  if (Status status = machine.Enter("CreatePrivateNamespaceW", alias)) return status;
  if (!IsEntry(createPrivateNamespaceW, "CreatePrivateNamespaceW")) return kErrorInvalidParameter;
  auto* boundary = Find(machine.open.boundaries, boundaryDescriptor);
  if (!boundary || alias.empty()) return kErrorInvalidParameter;
  // Only a caller whose token holds every SID of the boundary may create the namespace; the
  // program's holds Administrators where it runs as an administrator.
  for (const std::vector<std::uint8_t>& sid : boundary->sids) {
    if (sid != kAdministratorsSid || !machine.administrator) return kErrorAccessDenied;
  }
  const auto [it, created] = machine.namespaces.try_emplace(alias);
  if (!created) return kErrorAlreadyExists;
  it->second.security = SecurityOf(securityDescriptor);
  const std::uintptr_t id = machine.NextId();
  machine.open.namespaces.emplace(id, alias);
  *privateNamespace = reinterpret_cast<Handle>(id);
  return kErrorSuccess;
}

Status OpenPrivateNamespaceW(Procedure openPrivateNamespaceW, Handle boundaryDescriptor,
                             const char16_t* aliasPrefix, Handle* privateNamespace) {
  Machine& machine = TheMachine();
  const std::u16string alias(aliasPrefix ? aliasPrefix : u"");
  if (Status status = machine.Enter("OpenPrivateNamespaceW", alias)) return status;
  if (!IsEntry(openPrivateNamespaceW, "OpenPrivateNamespaceW")) return kErrorInvalidParameter;
  if (!Find(machine.open.boundaries, boundaryDescriptor)) return kErrorInvalidParameter;
  if (!machine.namespaces.contains(alias)) return kErrorPathNotFound;
  if (!machine.administrator) return kErrorAccessDenied;
  const std::uintptr_t id = machine.NextId();
  machine.open.namespaces.emplace(id, alias);
  *privateNamespace = reinterpret_cast<Handle>(id);
  return kErrorSuccess;
}

Status ClosePrivateNamespace(Procedure closePrivateNamespace, Handle privateNamespace,
                             std::uint32_t flags) {
  Machine& machine = TheMachine();
  machine.Enter("ClosePrivateNamespace", u"", {flags});
  const auto it = machine.open.namespaces.find(reinterpret_cast<std::uintptr_t>(privateNamespace));
  if (!IsEntry(closePrivateNamespace, "ClosePrivateNamespace") ||
      it == machine.open.namespaces.end()) {
    ++machine.badReleases;
    return kErrorInvalidHandle;
  }
  const std::u16string alias = it->second;
  machine.open.namespaces.erase(it);
  // The namespace ends with its last handle.
  const auto ns = machine.namespaces.find(alias);
  if (ns != machine.namespaces.end() && !ns->second.elsewhere && !NamespaceIsOpen(alias)) {
    machine.namespaces.erase(ns);
  }
  return kErrorSuccess;
}

namespace {

// The process's standard output, which no CloseHandle may close.
const Handle kStandardOutput = reinterpret_cast<Handle>(std::uintptr_t{0x5d0});

void Show(std::u16string_view text) {
  Machine& machine = TheMachine();
  machine.console += text;
  if (machine.echoConsole) {
    const std::string utf8 = sim::ToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  }
}

}  // namespace

Status GetStdHandle(std::uint32_t stdHandle, Handle* handle) {
  if (Status status = TheMachine().Enter("GetStdHandle", u"", {stdHandle})) return status;
  if (stdHandle != kStdOutputHandle) return kErrorInvalidHandle;
  *handle = kStandardOutput;
  return kErrorSuccess;
}

Status GetConsoleMode(Handle console, std::uint32_t* mode) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("GetConsoleMode", u"")) return status;
  if (console != kStandardOutput || !machine.consoleOutput) return kErrorInvalidHandle;
  *mode = 0x3;  // ENABLE_PROCESSED_OUTPUT, ENABLE_WRAP_AT_EOL_OUTPUT
  return kErrorSuccess;
}

Status WriteConsoleW(Handle console, const char16_t* text, std::uint32_t length,
                     std::uint32_t* written) {
  Machine& machine = TheMachine();
  *written = 0;
  std::uint32_t limit = length;
  if (Status status = machine.Enter("WriteConsoleW", u"", {length}, &limit)) return status;
  if (console != kStandardOutput || !machine.consoleOutput) return kErrorInvalidHandle;
  *written = std::min(length, limit);
  Show(std::u16string_view(text, *written));
  return kErrorSuccess;
}

void WPrintF(const char16_t* format, const char16_t* argument) {
  TheMachine().Enter("wprintf", u"");
  std::u16string text(format);
  const std::u16string_view replacement = argument ? argument : u"(null)";
  for (std::size_t at = text.find(u"%s"); at != std::u16string::npos;
       at = text.find(u"%s", at + replacement.size())) {
    text.replace(at, 2, replacement);
  }
  Show(text);
}

}  // namespace platform
