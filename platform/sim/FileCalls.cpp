// The simulated seam: files, by handle and by name. Each call checks what Windows checks in the
// cases that ZOLTMgr meets (sharing, handle kinds, access rights), so that a wrong argument fails
// here as it would there.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"
#include "platform/sim/Win32Paths.h"

namespace platform {

using namespace seam;

namespace {

// Whether a file that some handle holds may be opened with `access` and `share` besides: each
// open must allow what the other does with the file.
bool SharingAllows(std::uint32_t heldAccess, std::uint32_t heldShare, std::uint32_t access,
                   std::uint32_t share) {
  const auto allows = [](std::uint32_t shareMode, std::uint32_t accessMode) {
    return (!(accessMode & kGenericRead) || (shareMode & kFileShareRead)) &&
           (!(accessMode & kGenericWrite) || (shareMode & kFileShareWrite)) &&
           (!(accessMode & kDelete) || (shareMode & kFileShareDelete));
  };
  return allows(heldShare, access) && allows(share, heldAccess);
}

// A handle to a file: one of the program's (`id`), or one that another process holds (id 0).
struct Holder {
  std::uintptr_t id;
  std::uint32_t access;
  std::uint32_t share;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Every handle to the file that `info` describes.
std::vector<Holder> HoldersOf(const struct stat& info) {
  std::vector<Holder> holders;
  for (const auto& [id, object] : TheMachine().open.handles) {
    if (object.kind == Kind::File && object.device == info.st_dev && object.inode == info.st_ino) {
      holders.push_back({id, object.access, object.share});
    }
  }
  for (const sim::HeldFile& held : TheMachine().heldElsewhere) {
    struct stat heldInfo {};
    if (::stat(held.path.c_str(), &heldInfo) == 0 && SameFile(heldInfo, info)) {
      holders.push_back({0, held.access, held.share});
    }
  }
  return holders;
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

// The file system's own path of what a handle holds, wherever it has been renamed to since.
std::string RealPath(const Machine::OpenObject& file) {
  return file.link ? file.linux : RealPath("/proc/self/fd/" + std::to_string(file.fd));
}

// A name as one string whatever path reached it: its folder's real path and the name in it.
std::string CanonicalName(const std::string& linux) {
  const std::size_t slash = linux.find_last_of('/');
  if (slash == std::string::npos) return linux;
  const std::string folder = RealPath(slash == 0 ? "/" : linux.substr(0, slash));
  return (folder == "/" ? "" : folder) + linux.substr(slash);
}

// The attributes beyond the file system's; a file that not even its owner may write is
// read-only, as root may write it all the same.
std::uint32_t ExtraAttributes(const std::string& real) {
  const auto& attributes = TheMachine().fileAttributes;
  const auto it = attributes.find(real);
  std::uint32_t extra = it == attributes.end() ? 0 : it->second;
  struct stat info {};
  if (!real.empty() && ::stat(real.c_str(), &info) == 0 && !(info.st_mode & S_IWUSR)) {
    extra |= kFileAttributeReadonly;
  }
  return extra;
}

// A symbolic link, on a file system that has them; elsewhere the simulated volume's Linux links
// are the files that they lead to.
bool IsLink(const std::string& linux) {
  struct stat info {};
  return TheMachine().System().links && ::lstat(linux.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Where a create through a link to nothing puts the new file: the path that the link, and any
// link that it leads to, finally names.
std::string LinkedPath(std::string linux) {
  for (int hops = 0; hops < 40 && IsLink(linux); ++hops) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(linux.c_str(), target, sizeof(target) - 1);
    if (length <= 0) break;
    const std::string next(target, static_cast<std::size_t>(length));
    linux = next.starts_with('/') ? next : linux.substr(0, linux.find_last_of('/') + 1) + next;
  }
  return linux;
}

// FAT's directory entries, where the file system takes a file's index from them: an 8.3 name
// needs one entry, a longer name one more for each 13 characters of it, and the index is the
// place of the last one in the folder.
using Entries = std::vector<std::string>;

std::size_t EntriesNeeded(const std::string& name) {
  const std::u16string wide = sim::ToUtf16(name);
  return IsShortName(wide) ? 1 : 1 + (wide.size() + 12) / 13;
}

// The folder that holds `linux`, by its real path, and the name in it.
std::pair<std::string, std::string> FolderAndName(const std::string& linux) {
  const std::string name = CanonicalName(linux);
  const std::size_t slash = name.find_last_of('/');
  return {name.substr(0, slash), name.substr(slash + 1)};
}

// The entries of the folder that holds `linux`, and the name in it.
std::pair<Entries*, std::string> EntriesOf(const std::string& linux) {
  auto [folder, name] = FolderAndName(linux);
  return {&TheMachine().directoryEntries[folder], name};
}

void FreeEntries(Entries& entries, const std::string& name) {
  std::replace(entries.begin(), entries.end(), name, std::string());
}

// The place of the last entry of `name`, which takes the first run of free entries long enough
// (or new ones at the end) where it has none yet.
std::size_t LastEntry(Entries& entries, const std::string& name) {
  for (std::size_t i = entries.size(); i-- > 0;) {
    if (entries[i] == name) return i;
  }
  const std::size_t needed = EntriesNeeded(name);
  std::size_t run = 0;
  std::size_t end = 0;
  for (; end < entries.size() && run < needed; ++end) run = entries[end].empty() ? run + 1 : 0;
  if (run < needed) {
    entries.resize(entries.size() + needed - run);
    end = entries.size();
  }
  std::fill(entries.begin() + static_cast<std::ptrdiff_t>(end - needed),
            entries.begin() + static_cast<std::ptrdiff_t>(end), name);
  return end - 1;
}

// FAT's index of the file at `linux`: the folder's number where FAT has the folder's first
// cluster, and the offset of the file's last entry in it.
std::uint64_t EntryIndex(const std::string& linux) {
  auto [folder, name] = FolderAndName(linux);
  return (std::hash<std::string>{}(folder)&0x0FFFFFFF) << 32 |
         LastEntry(TheMachine().directoryEntries[folder], name) * 32;
}

// After a rename from `from` to `to`: the replaced file's entries are free, and the renamed file
// keeps its own where the new name fits in them; elsewhere it takes new ones.
void MoveEntries(const std::string& from, const std::string& to) {
  auto [toEntries, toName] = EntriesOf(to);
  FreeEntries(*toEntries, toName);
  auto [fromEntries, fromName] = EntriesOf(from);
  const auto last = std::find(fromEntries->rbegin(), fromEntries->rend(), fromName);
  const auto held = std::count(fromEntries->begin(), fromEntries->end(), fromName);
  const std::size_t needed = EntriesNeeded(toName);
  const auto end = fromEntries->rend() - last;
  FreeEntries(*fromEntries, fromName);
  if (fromEntries != toEntries || held < static_cast<std::ptrdiff_t>(needed)) return;
  std::fill(fromEntries->begin() + (end - static_cast<std::ptrdiff_t>(needed)),
            fromEntries->begin() + end, toName);
}

// Deletes a file that is no longer open: a link as itself, and its target's attributes stay.
void Delete(const std::string& linux, bool link) {
  if (!link) TheMachine().fileAttributes.erase(RealPath(linux));
  if (TheMachine().System().entryIndex) {
    auto [entries, name] = EntriesOf(linux);
    FreeEntries(*entries, name);
  }
  ::unlink(linux.c_str());
}

Status OpenFile(std::u16string_view path, std::uint32_t access, std::uint32_t share,
                std::uint32_t disposition, std::uint32_t flagsAndAttributes, Handle* file) {
  if (path.empty()) return kErrorPathNotFound;
  const bool deleteOnClose = (flagsAndAttributes & kFileFlagDeleteOnClose) != 0;
  if (deleteOnClose && !(access & kDelete)) return kErrorInvalidParameter;
  std::string linux;
  if (Status status = FilePath(path, &linux)) return status;
  // A deletion that another process holds up keeps the name from every open.
  if (TheMachine().pendingDeletion.count(CanonicalName(linux))) return kErrorAccessDenied;
  // A symbolic link is looked at as itself only where asked, and opened so only as it is.
  const bool asItself = (flagsAndAttributes & kFileFlagOpenReparsePoint) && IsLink(linux);
  // Followed only where this Windows evaluates links of that kind (none on a share, by default).
  if (!asItself && IsLink(linux) && TheMachine().System().linkFollowed) {
    return TheMachine().System().linkFollowed;
  }
  const bool link = asItself && (disposition == kOpenExisting || disposition == kOpenAlways);
  const bool write = (access & kGenericWrite) != 0;
  int flags = link    ? O_PATH | O_NOFOLLOW
              : write ? ((access & kGenericRead) ? O_RDWR : O_WRONLY)
                      : O_RDONLY;
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
      if (!link) flags |= O_CREAT;
      break;
    case kTruncateExisting:
      // Emptying a file needs the right to write it.
      if (!write) return kErrorInvalidParameter;
      flags |= O_TRUNC;
      break;
    default:
      return kErrorInvalidParameter;
  }
  // Where the file is, or is to be: through a link to nothing, a create makes the file that the
  // link names, wherever that is.
  std::string where = linux;
  struct stat info {};
  if ((asItself ? ::lstat(linux.c_str(), &info) : ::stat(linux.c_str(), &info)) == 0) {
    // A new file may not have the name of anything that exists, a directory or a link included.
    if (disposition == kCreateNew) return kErrorFileExists;
    // Windows opens no directory as a file.
    if (S_ISDIR(info.st_mode)) return kErrorAccessDenied;
    const std::uint32_t extra = link ? 0 : ExtraAttributes(RealPath(linux));
    // Nor does it replace a hidden or system file by one with other attributes, nor write,
    // empty or delete a read-only one.
    const std::uint32_t kept = kFileAttributeHidden | kFileAttributeSystem;
    if (disposition == kCreateAlways && (extra & kept & ~flagsAndAttributes)) {
      return kErrorAccessDenied;
    }
    if ((extra & kFileAttributeReadonly) &&
        (write || deleteOnClose || disposition == kCreateAlways ||
         disposition == kTruncateExisting)) {
      return kErrorAccessDenied;
    }
    if ((access & kDelete) && !link && TheMachine().deleteDenied.count(RealPath(linux))) {
      return kErrorAccessDenied;
    }
    for (const Holder& holder : HoldersOf(info)) {
      if (!SharingAllows(holder.access, holder.share, access, share)) {
        return kErrorSharingViolation;
      }
    }
    if (!link && IsLink(linux)) where = RealPath(linux);
  } else if (IsLink(linux)) {
    where = LinkedPath(linux);
  }
  const int fd = ::open(where.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return kErrorFileExists;
    return errno == ENOENT ? Missing(where) : FromErrno(errno);
  }
  ::fstat(fd, &info);
  Machine::OpenObject object{Kind::File, std::u16string(path), 0, u"", 0, fd, access, share};
  object.device = info.st_dev;
  object.inode = info.st_ino;
  object.link = link;
  object.deleteOnClose = deleteOnClose;
  object.linux = where;
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
  if (NamesDevice(path)) {
    // The device that takes whatever is written and reads as empty, shared with anyone. The
    // machine has no console, port or printer behind the other names of devices.
    if (sim::EqualsIgnoringCase(path.substr(4), u"NUL")) {
      *file = NewHandle({Kind::Null, std::u16string(path)});
      return kErrorSuccess;
    }
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
  if (object->kind == Kind::Null) return kErrorSuccess;
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
  if (object->kind == Kind::Null) {
    *bytesWritten = std::min(bytesToWrite, limit);
    return kErrorSuccess;
  }
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
  if (object->kind == Kind::Null) return kErrorSuccess;
  if (object->kind != Kind::File) return kErrorInvalidFunction;
  // Only a handle that may write has anything to flush.
  if (!(object->access & kGenericWrite)) return kErrorAccessDenied;
  // Every check that Windows makes, and the faults, but Linux is not made to write the file
  // through to its disk: that would cost a disk's round trip on every export of the Linux
  // program, and no test could see it.
  return kErrorSuccess;
}

namespace {

// The file that `info` describes, at `linux`, once a handle to it has closed: a deletion that
// was asked for happens when no handle is left, or at once for the name alone where it was asked
// with POSIX semantics; until then the name stays taken.
void Settle(const std::string& linux, bool link, bool deleteAsked, bool posix) {
  Machine& machine = TheMachine();
  const std::string name = CanonicalName(linux);
  if (!deleteAsked && !machine.pendingDeletion.count(name)) return;
  struct stat info {};
  if (::lstat(linux.c_str(), &info) != 0) return;
  if (!HoldersOf(info).empty() && !posix) {
    machine.pendingDeletion.insert(name);
    return;
  }
  machine.pendingDeletion.erase(name);
  // The other process keeps a file that no longer has this name.
  std::erase_if(machine.heldElsewhere, [&](const sim::HeldFile& other) {
    struct stat heldInfo {};
    return ::stat(other.path.c_str(), &heldInfo) == 0 && SameFile(heldInfo, info);
  });
  Delete(linux, link);
}

}  // namespace

Status CloseHandle(Handle object) {
  Machine& machine = TheMachine();
  const std::u16string path = PathOf(object);
  auto* open = Find(machine.open.handles, object);
  // A search is closed with FindClose alone.
  if (!open || open->kind == Kind::Find) {
    machine.Enter("CloseHandle", path);
    ++machine.badReleases;
    return kErrorInvalidHandle;
  }
  // The handle is gone whatever the close reports.
  const Machine::OpenObject closed = std::move(*open);
  machine.open.handles.erase(reinterpret_cast<std::uintptr_t>(object));
  const Status injected = machine.Enter("CloseHandle", path);
  const int closeError = closed.fd >= 0 && ::close(closed.fd) != 0 ? errno : 0;
  if (closed.kind == Kind::File) {
    Settle(closed.link ? closed.linux : RealPath(closed.linux), closed.link, closed.deleteOnClose,
           closed.posixDelete);
  }
  if (closeError && !injected) return FromErrno(closeError);
  return injected;
}

namespace {

// The file that a handle of the program holds, or null where the handle holds none.
Machine::OpenObject* FileOf(Handle file) {
  auto* object = Find(TheMachine().open.handles, file);
  return object && object->kind == Kind::File ? object : nullptr;
}

// What the attribute-and-tag query answers for the file `info` describes, at `real`.
FileAttributeTagInfo AttributesOf(const struct stat& info, const std::string& real) {
  if (S_ISLNK(info.st_mode)) {
    return {kFileAttributeReparsePoint | kFileAttributeArchive, kIoReparseTagSymlink};
  }
  if (S_ISDIR(info.st_mode)) return {kFileAttributeDirectory, 0};
  // Archive, as a file that was written has.
  return {kFileAttributeArchive | ExtraAttributes(real), 0};
}

// The attributes need the right to read them, which reading the file includes.
bool MayReadAttributes(const Machine::OpenObject& file) {
  return (file.access & (kGenericRead | kFileReadAttributes)) != 0;
}

// The simulated volume's serial number and a file's identifier on it.
std::uint64_t VolumeSerial(const struct stat& info) {
  return static_cast<std::uint64_t>(info.st_dev) ^ 0x5a1e0001c0de0000;
}

// Renames the file that `file` holds to `name`, as FileRenameInfo (or, with POSIX semantics,
// FileRenameInfoEx) does.
Status Rename(std::uintptr_t id, Machine::OpenObject& file, std::u16string_view name, bool replace,
              bool posix) {
  if (!(file.access & kDelete)) return kErrorAccessDenied;
  std::string to;
  if (Status status = FilePath(name, &to)) return status;
  const std::string& from = file.linux;
  struct stat source {};
  if (::lstat(from.c_str(), &source) != 0) return FromErrno(errno);
  // Every other handle to the file must share its deletion.
  for (const Holder& holder : HoldersOf(source)) {
    if (holder.id != id && !(holder.share & kFileShareDelete)) return kErrorSharingViolation;
  }
  struct stat target {};
  if (::lstat(to.c_str(), &target) != 0) {
    if (Status missing = Missing(to); missing == kErrorPathNotFound) return missing;
  } else if (!SameFile(source, target)) {
    if (!replace) return kErrorAlreadyExists;
    if (S_ISDIR(target.st_mode) || (ExtraAttributes(RealPath(to)) & kFileAttributeReadonly) ||
        TheMachine().deleteDenied.count(RealPath(to))) {
      return kErrorAccessDenied;
    }
    // An open file is never replaced; with POSIX semantics, one whose every handle shares its
    // deletion is, and those handles keep the old file.
    for (const Holder& holder : HoldersOf(target)) {
      if (!posix) return kErrorAccessDenied;
      if (!(holder.share & kFileShareDelete)) return kErrorSharingViolation;
    }
  }
  // A name given as another file's 8.3 name replaces that file, and becomes the new file's own.
  const std::u16string full = FullPath(name);
  const std::u16string given = full.substr(full.find_last_of(u"\\/") + 1);
  const std::string folder = to.substr(0, to.find_last_of('/') + 1);
  const std::string named =
      given.find(u':') == std::u16string::npos && sim::ToUtf8(given) != to.substr(folder.size())
          ? folder + sim::ToUtf8(given)
          : to;
  const std::string real = RealPath(file);
  if (::rename(from.c_str(), to.c_str()) != 0) return FromErrno(errno);
  if (named != to && ::rename(to.c_str(), named.c_str()) != 0) return FromErrno(errno);
  if (TheMachine().System().entryIndex) MoveEntries(real, named);
  file.path = std::u16string(name);
  file.linux = named;
  // The attributes go with the file, and those of the file it replaced with that file.
  auto& attributes = TheMachine().fileAttributes;
  const auto moved = attributes.extract(real);
  attributes.erase(RealPath(to));
  if (moved) attributes[RealPath(to)] = moved.mapped();
  return kErrorSuccess;
}

}  // namespace

// The classes that ZOLTMgr asks for, as this Windows and file system answer them; anything else
// is refused here, not guessed.
Status GetFileInformationByHandleEx(Handle file, std::uint32_t fileInformationClass,
                                    void* fileInformation, std::uint32_t size) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("GetFileInformationByHandleEx", PathOf(file),
                                    {fileInformationClass, size})) {
    return status;
  }
  Machine::OpenObject* object = FileOf(file);
  if (!object) return kErrorInvalidHandle;
  const sim::Answers& system = machine.System();
  struct stat info {};
  switch (fileInformationClass) {
    case kFileBasicInfo:
    case kFileAttributeTagInfo: {
      const bool basic = fileInformationClass == kFileBasicInfo;
      if (!basic && system.attributeTag) return system.attributeTag;
      if (size < (basic ? sizeof(FileBasicInfo) : sizeof(FileAttributeTagInfo)))
        return kErrorBadLength;
      if (!MayReadAttributes(*object)) return kErrorAccessDenied;
      if (::fstat(object->fd, &info) != 0) return FromErrno(errno);
      const FileAttributeTagInfo attributes = AttributesOf(info, RealPath(*object));
      if (basic) {
        *static_cast<FileBasicInfo*>(fileInformation) =
            FileBasicInfo{0, 0, 0, 0, attributes.FileAttributes};
      } else {
        *static_cast<FileAttributeTagInfo*>(fileInformation) = attributes;
      }
      return kErrorSuccess;
    }
    case kFileIdInfo: {
      if (system.idInfo) return system.idInfo;
      if (size < sizeof(FileIdInfo)) return kErrorBadLength;
      if (::fstat(object->fd, &info) != 0) return FromErrno(errno);
      FileIdInfo id{VolumeSerial(info), {}};
      for (std::size_t i = 0; i < sizeof(info.st_ino); ++i) {
        id.FileId[i] = static_cast<std::uint8_t>(info.st_ino >> (8 * i));
      }
      *static_cast<FileIdInfo*>(fileInformation) = id;
      return kErrorSuccess;
    }
    default:
      return kErrorInvalidParameter;
  }
}

Status GetFileInformationByHandle(Handle file, ByHandleFileInformation* fileInformation) {
  if (Status status = TheMachine().Enter("GetFileInformationByHandle", PathOf(file))) {
    return status;
  }
  Machine::OpenObject* object = FileOf(file);
  if (!object) return kErrorInvalidHandle;
  if (!MayReadAttributes(*object)) return kErrorAccessDenied;
  struct stat info {};
  if (::fstat(object->fd, &info) != 0) return FromErrno(errno);
  const auto size = static_cast<std::uint64_t>(info.st_size);
  auto index = static_cast<std::uint64_t>(info.st_ino);
  if (TheMachine().System().entryIndex) index = EntryIndex(RealPath(*object));
  *fileInformation = ByHandleFileInformation{};
  fileInformation->dwFileAttributes = AttributesOf(info, RealPath(*object)).FileAttributes;
  fileInformation->dwVolumeSerialNumber = static_cast<std::uint32_t>(VolumeSerial(info));
  fileInformation->nFileSizeHigh = static_cast<std::uint32_t>(size >> 32);
  fileInformation->nFileSizeLow = static_cast<std::uint32_t>(size);
  fileInformation->nNumberOfLinks = static_cast<std::uint32_t>(info.st_nlink);
  fileInformation->nFileIndexHigh = static_cast<std::uint32_t>(index >> 32);
  fileInformation->nFileIndexLow = static_cast<std::uint32_t>(index);
  return kErrorSuccess;
}

namespace {

// The rename or deletion itself, once the call has been entered.
Status SetInformation(Handle file, std::uint32_t fileInformationClass, const void* fileInformation,
                      std::uint32_t size, bool rename, bool whole, const std::u16string& name) {
  Machine& machine = TheMachine();
  const auto* renameTo = static_cast<const FileRenameInfo*>(fileInformation);
  Machine::OpenObject* object = FileOf(file);
  if (!object) return kErrorInvalidHandle;
  const sim::Answers& system = machine.System();
  if (fileInformationClass == kFileDispositionInfo ||
      fileInformationClass == kFileDispositionInfoEx) {
    const bool extended = fileInformationClass == kFileDispositionInfoEx;
    if (extended && system.dispositionEx) return system.dispositionEx;
    if (size < (extended ? sizeof(FileDispositionInfoEx) : sizeof(FileDispositionInfo))) {
      return kErrorBadLength;
    }
    if (!(object->access & kDelete)) return kErrorAccessDenied;
    const std::uint32_t flags =
        extended ? static_cast<const FileDispositionInfoEx*>(fileInformation)->Flags
                 : (static_cast<const FileDispositionInfo*>(fileInformation)->DeleteFile ? 1u : 0u);
    // The flags that ZOLTMgr gives; any other would change what the deletion does.
    if (flags & ~(kFileDispositionFlagDelete | kFileDispositionFlagPosixSemantics)) {
      return kErrorInvalidParameter;
    }
    const bool deleteIt = (flags & kFileDispositionFlagDelete) != 0;
    if (deleteIt && !object->link &&
        (ExtraAttributes(RealPath(*object)) & kFileAttributeReadonly)) {
      return kErrorAccessDenied;
    }
    object->deleteOnClose = deleteIt;
    object->posixDelete = deleteIt && (flags & kFileDispositionFlagPosixSemantics) != 0;
    return kErrorSuccess;
  }
  if (!rename || !whole || name.empty() || renameTo->RootDirectory) return kErrorInvalidParameter;
  std::uint32_t flags = renameTo->Flags & 0xFF;  // ReplaceIfExists, a BOOLEAN
  if (fileInformationClass == kFileRenameInfoEx) {
    if (system.renameEx) return system.renameEx;
    flags = renameTo->Flags;
    if (flags & ~(kFileRenameFlagReplaceIfExists | kFileRenameFlagPosixSemantics)) {
      return kErrorInvalidParameter;
    }
  }
  return Rename(
      reinterpret_cast<std::uintptr_t>(file), *object, name,
      (flags & kFileRenameFlagReplaceIfExists) != 0,
      fileInformationClass == kFileRenameInfoEx && (flags & kFileRenameFlagPosixSemantics) != 0);
}

}  // namespace

Status SetFileInformationByHandle(Handle file, std::uint32_t fileInformationClass,
                                  const void* fileInformation, std::uint32_t size) {
  Machine& machine = TheMachine();
  const bool rename =
      fileInformationClass == kFileRenameInfo || fileInformationClass == kFileRenameInfoEx;
  const auto* renameTo = static_cast<const FileRenameInfo*>(fileInformation);
  const bool whole = size >= sizeof(FileRenameInfo) &&
                     size >= offsetof(FileRenameInfo, FileName) + renameTo->FileNameLength;
  const std::u16string name =
      rename && whole ? std::u16string(renameTo->FileName, renameTo->FileNameLength / 2) : u"";
  if (Status status = machine.Enter("SetFileInformationByHandle", rename ? name : PathOf(file),
                                    {fileInformationClass, size})) {
    return status;
  }
  return machine.Answer(
      SetInformation(file, fileInformationClass, fileInformation, size, rename, whole, name));
}

Status GetFullPathNameW(const char16_t* fileName, std::uint32_t size, char16_t* buffer,
                        std::uint32_t* length) {
  *length = 0;
  const std::u16string_view name(fileName);
  if (Status status = TheMachine().Enter("GetFullPathNameW", name, {size})) return status;
  if (name.empty()) return kErrorInvalidName;
  const std::u16string full = FullPath(name);
  if (full.size() >= size) {
    *length = static_cast<std::uint32_t>(full.size() + 1);
    return kErrorSuccess;
  }
  std::copy(full.begin(), full.end(), buffer);
  buffer[full.size()] = u'\0';
  *length = static_cast<std::uint32_t>(full.size());
  return kErrorSuccess;
}

// A final path is the file's real Linux path behind one of the simulated volume's names.
Status GetFinalPathNameByHandleW(Handle file, char16_t* filePath, std::uint32_t size,
                                 std::uint32_t flags, std::uint32_t* length) {
  *length = 0;
  if (Status status = TheMachine().Enter("GetFinalPathNameByHandleW", PathOf(file), {flags})) {
    return status;
  }
  Machine::OpenObject* object = FileOf(file);
  if (!object) return kErrorInvalidHandle;
  std::u16string_view volume;
  switch (flags) {
    case kVolumeNameDos:
      volume = u"\\\\?\\";
      break;
    case kVolumeNameGuid:
      volume = kVolumeGuidPath;
      break;
    case kVolumeNameNt:
      volume = kVolumeDevicePath;
      break;
    default:
      return kErrorInvalidParameter;
  }
  const std::string real = RealPath(*object);
  if (real.empty()) return kErrorGenFailure;
  const std::u16string path = std::u16string(volume) + sim::ToUtf16(real);
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

// Whether `name` matches `pattern`, whose "*" stands for any characters and "?" for any one;
// every other character is itself, in any case.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
  if (name.empty()) return false;
  std::size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' ||
                sim::EqualsIgnoringCase(pattern.substr(p, 1), name.substr(n, 1)))) {
      ++p;
      ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// Hands the search's next name out, as FindFirstFileW and FindNextFileW do.
Status NextFound(Machine::OpenObject& search, FindData* findData) {
  if (search.found.empty()) return kErrorNoMoreFiles;
  const std::u16string name = search.found.front();
  search.found.erase(search.found.begin());
  if (name.size() >= std::size(findData->cFileName)) return kErrorFilenameExcedRange;
  *findData = FindData{};
  struct stat info {};
  const std::string linux = search.linux + sim::ToUtf8(name);
  if ((IsLink(linux) ? ::lstat(linux.c_str(), &info) : ::stat(linux.c_str(), &info)) == 0) {
    const FileAttributeTagInfo attributes = AttributesOf(info, RealPath(linux));
    findData->dwFileAttributes = attributes.FileAttributes;
    findData->dwReserved0 = attributes.ReparseTag;  // with a reparse point, its tag
  }
  std::copy(name.begin(), name.end(), findData->cFileName);
  return kErrorSuccess;
}

}  // namespace

Status FindFirstFileW(const char16_t* fileName, FindData* findData, Handle* find) {
  const std::u16string pattern(fileName);
  if (Status status = TheMachine().Enter("FindFirstFileW", pattern)) return status;
  const std::size_t slash = pattern.find_last_of(u"\\/");
  std::string folder;
  if (Status status = FilePath(
          slash == std::u16string::npos ? u".\\" : pattern.substr(0, slash + 1), &folder)) {
    return status;
  }
  const std::u16string wildcard = pattern.substr(slash + 1);
  DIR* directory = ::opendir(folder.c_str());
  if (!directory) return errno == ENOENT ? kErrorPathNotFound : FromErrno(errno);
  Machine::OpenObject search{Kind::Find, pattern};
  search.linux = folder;
  while (const dirent* entry = ::readdir(directory)) {
    const std::u16string name = sim::ToUtf16(entry->d_name);
    // A name matches by itself or by its 8.3 name; "." and ".." have none.
    const bool dots = name == u"." || name == u"..";
    if (Matches(wildcard, name) || (!dots && Matches(wildcard, ShortName(folder, entry->d_name)))) {
      search.found.push_back(name);
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

}  // namespace platform
