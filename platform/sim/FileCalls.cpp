// The simulated seam: files, by handle and by name. Each call checks what Windows checks in the
// cases that ZOLTMgr meets (sharing, handle kinds, access rights), so that a wrong argument fails
// here as it would there.

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"

namespace platform {

using namespace seam;

namespace {

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

}  // namespace platform
