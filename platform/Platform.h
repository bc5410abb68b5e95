#pragma once

// The one seam between ZOLTMgr and the operating system.
//
// Each function stands for exactly one Win32 (or C runtime) call and carries its name.
// platform/win32/ makes that call; platform/sim/ answers it from a simulated machine.
// Functions return the call's Win32 status: 0 for success, otherwise the error code that
// GetLastError (or the registry call itself) reports. Handle out-parameters are written only
// on success, so a caller never holds an invalid handle; the registry query writes its type and
// size also when it answers ERROR_MORE_DATA, exactly as the registry does.
//
// The records below have the layout of their 64-bit Windows counterparts; the Win32 build
// checks that at compile time and hands them to the system as they are.

#include <cstddef>
#include <cstdint>

namespace platform {

using Status = std::uint32_t;
using Handle = void*;          // HANDLE of a file or device
using DevInfoSet = void*;      // HDEVINFO
using RegKey = void*;          // HKEY
using Heap = void*;            // HANDLE of a heap
using Module = void*;          // HMODULE
using Procedure = void (*)();  // FARPROC: the address of an exported function of any type

inline constexpr Status kErrorSuccess = 0;
inline constexpr Status kErrorInvalidFunction = 1;
inline constexpr Status kErrorFileNotFound = 2;
inline constexpr Status kErrorPathNotFound = 3;
inline constexpr Status kErrorAccessDenied = 5;
inline constexpr Status kErrorNoMoreFiles = 18;
inline constexpr Status kErrorBadLength = 24;
inline constexpr Status kErrorInvalidHandle = 6;
inline constexpr Status kErrorOutOfMemory = 14;
inline constexpr Status kErrorGenFailure = 31;
inline constexpr Status kErrorSharingViolation = 32;
inline constexpr Status kErrorFileExists = 80;
inline constexpr Status kErrorNotSupported = 50;
inline constexpr Status kErrorInvalidParameter = 87;
inline constexpr Status kErrorModNotFound = 126;
inline constexpr Status kErrorProcNotFound = 127;
inline constexpr Status kErrorFilenameExcedRange = 206;
inline constexpr Status kErrorNotOwner = 288;
inline constexpr Status kErrorInsufficientBuffer = 122;
inline constexpr Status kErrorInvalidName = 123;
inline constexpr Status kErrorMoreData = 234;
inline constexpr Status kErrorNoAccess = 998;
inline constexpr Status kErrorChildMustBeVolatile = 1021;
inline constexpr Status kErrorAlreadyExists = 183;
inline constexpr Status kErrorNoMoreItems = 259;
inline constexpr Status kErrorIncorrectSize = 1462;
inline constexpr Status kErrorSymlinkClassDisabled = 1463;
inline constexpr Status kErrorInvalidUserBuffer = 1784;

// CreateFileW
inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kFileShareRead = 0x1;
inline constexpr std::uint32_t kFileShareWrite = 0x2;
inline constexpr std::uint32_t kFileShareDelete = 0x4;
inline constexpr std::uint32_t kCreateNew = 1;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kOpenAlways = 4;
inline constexpr std::uint32_t kTruncateExisting = 5;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kFileReadAttributes = 0x0080;
inline constexpr std::uint32_t kFileAttributeReadonly = 0x1;
inline constexpr std::uint32_t kFileAttributeHidden = 0x2;
inline constexpr std::uint32_t kFileAttributeSystem = 0x4;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeArchive = 0x20;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t kFileFlagOpenReparsePoint = 0x00200000;
inline constexpr std::uint32_t kFileFlagBackupSemantics = 0x02000000;
inline constexpr std::uint32_t kFileFlagDeleteOnClose = 0x04000000;
inline constexpr std::uint32_t kIoReparseTagSymlink = 0xA000000C;

// GetFileInformationByHandleEx and SetFileInformationByHandle: the classes of information.
inline constexpr std::uint32_t kFileBasicInfo = 0;
inline constexpr std::uint32_t kFileRenameInfo = 3;
inline constexpr std::uint32_t kFileDispositionInfo = 4;
inline constexpr std::uint32_t kFileAttributeTagInfo = 9;
inline constexpr std::uint32_t kFileIdInfo = 18;
inline constexpr std::uint32_t kFileDispositionInfoEx = 21;
inline constexpr std::uint32_t kFileRenameInfoEx = 22;
// FILE_RENAME_INFO's flags, with FileRenameInfoEx.
inline constexpr std::uint32_t kFileRenameFlagReplaceIfExists = 0x1;
inline constexpr std::uint32_t kFileRenameFlagPosixSemantics = 0x2;
// FILE_DISPOSITION_INFO_EX's flags.
inline constexpr std::uint32_t kFileDispositionFlagDelete = 0x1;
inline constexpr std::uint32_t kFileDispositionFlagPosixSemantics = 0x2;

// GetFinalPathNameByHandleW: how the path names its volume.
inline constexpr std::uint32_t kVolumeNameDos = 0x0;
inline constexpr std::uint32_t kVolumeNameGuid = 0x1;
inline constexpr std::uint32_t kVolumeNameNt = 0x2;

// ClosePrivateNamespace: takes the namespace out of reach at once, whoever still holds it.
inline constexpr std::uint32_t kPrivateNamespaceFlagDestroy = 0x1;

// CreateMutexExW: what waiting for a mutex and releasing it need, and no more.
inline constexpr std::uint32_t kSynchronize = 0x00100000;
inline constexpr std::uint32_t kMutexModifyState = 0x0001;

// CreateWellKnownSid: BUILTIN\Administrators, and the room that any SID fits in.
inline constexpr std::uint32_t kWinBuiltinAdministratorsSid = 26;
inline constexpr std::uint32_t kSecurityMaxSidSize = 68;

// WaitForSingleObject: what ended the wait, when it did not fail.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitAbandoned = 0x80;
inline constexpr std::uint32_t kWaitTimeout = 0x102;

// SetDefaultDllDirectories: the System32 folder alone.
inline constexpr std::uint32_t kLoadLibrarySearchSystem32 = 0x800;

// GetStdHandle: STD_OUTPUT_HANDLE, (DWORD)-11.
inline constexpr std::uint32_t kStdOutputHandle = 0xFFFFFFF5;

// DeviceIoControl: device type 0x56 (volume), function 7, buffered, any access.
inline constexpr std::uint32_t kIoctlVolumeQueryVolumeNumber = 0x0056001C;

// Registry
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;
inline constexpr std::uint32_t kRegOptionNonVolatile = 0;
inline constexpr std::uint32_t kRegOptionVolatile = 1;
inline constexpr std::uint32_t kKeyQueryValue = 0x1;
inline constexpr std::uint32_t kKeySetValue = 0x2;

// Device installation
inline constexpr std::uint32_t kDigcfPresent = 0x2;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10;

struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};

inline constexpr Guid kGuidDevinterfaceVolume = {
    0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

constexpr bool operator==(const Guid& a, const Guid& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

struct DeviceInterfaceData {  // SP_DEVICE_INTERFACE_DATA
  std::uint32_t cbSize;
  Guid InterfaceClassGuid;
  std::uint32_t Flags;
  std::uintptr_t Reserved;
};

struct DevInfoData {  // SP_DEVINFO_DATA
  std::uint32_t cbSize;
  Guid ClassGuid;
  std::uint32_t DevInst;
  std::uintptr_t Reserved;
};

struct DeviceInterfaceDetailData {  // SP_DEVICE_INTERFACE_DETAIL_DATA_W
  std::uint32_t cbSize;
  char16_t DevicePath[1];  // NUL-terminated, runs on past the record
};

struct VolumeNumber {  // VOLUME_NUMBER
  std::uint32_t VolumeNumber;
  char16_t VolumeManagerName[8];
};

inline constexpr std::uint32_t kDeviceInterfaceDataSize = 32;
inline constexpr std::uint32_t kDevInfoDataSize = 32;
inline constexpr std::uint32_t kDeviceInterfaceDetailDataSize = 8;
static_assert(sizeof(DeviceInterfaceData) == kDeviceInterfaceDataSize);
static_assert(sizeof(DevInfoData) == kDevInfoDataSize);
static_assert(sizeof(DeviceInterfaceDetailData) == kDeviceInterfaceDetailDataSize);
static_assert(offsetof(DeviceInterfaceDetailData, DevicePath) == 4);
static_assert(sizeof(VolumeNumber) == 20);

struct FindData {  // WIN32_FIND_DATAW
  std::uint32_t dwFileAttributes;
  std::uint32_t times[6];
  std::uint32_t nFileSizeHigh;
  std::uint32_t nFileSizeLow;
  std::uint32_t dwReserved0;
  std::uint32_t dwReserved1;
  char16_t cFileName[260];
  char16_t cAlternateFileName[14];
};

struct FileBasicInfo {  // FILE_BASIC_INFO
  std::int64_t CreationTime;
  std::int64_t LastAccessTime;
  std::int64_t LastWriteTime;
  std::int64_t ChangeTime;
  std::uint32_t FileAttributes;
};

struct FileIdInfo {  // FILE_ID_INFO
  std::uint64_t VolumeSerialNumber;
  std::uint8_t FileId[16];
};

struct ByHandleFileInformation {  // BY_HANDLE_FILE_INFORMATION
  std::uint32_t dwFileAttributes;
  std::uint32_t times[6];
  std::uint32_t dwVolumeSerialNumber;
  std::uint32_t nFileSizeHigh;
  std::uint32_t nFileSizeLow;
  std::uint32_t nNumberOfLinks;
  std::uint32_t nFileIndexHigh;
  std::uint32_t nFileIndexLow;
};

struct FileAttributeTagInfo {  // FILE_ATTRIBUTE_TAG_INFO
  std::uint32_t FileAttributes;
  std::uint32_t ReparseTag;
};

struct FileRenameInfo {  // FILE_RENAME_INFO
  std::uint32_t Flags;   // with FileRenameInfo, its first byte is ReplaceIfExists
  Handle RootDirectory;
  std::uint32_t FileNameLength;  // in bytes, without a NUL
  char16_t FileName[1];          // runs on past the record
};

struct FileDispositionInfo {  // FILE_DISPOSITION_INFO
  std::uint8_t DeleteFile;
};

struct FileDispositionInfoEx {  // FILE_DISPOSITION_INFO_EX
  std::uint32_t Flags;
};

static_assert(sizeof(FindData) == 592);
static_assert(sizeof(FileAttributeTagInfo) == 8);
static_assert(sizeof(FileBasicInfo) == 40 && offsetof(FileBasicInfo, FileAttributes) == 32);
static_assert(sizeof(FileIdInfo) == 24 && offsetof(FileIdInfo, FileId) == 8);
static_assert(sizeof(ByHandleFileInformation) == 52);
static_assert(sizeof(FileDispositionInfoEx) == 4);
static_assert(sizeof(FileRenameInfo) == 24 && offsetof(FileRenameInfo, FileName) == 20);

// kernel32: files and devices. Security attributes and template are always none.
Status CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                   Handle* file);
// No input buffer and no overlapped structure: the request completes before it returns.
Status DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* outBuffer,
                       std::uint32_t outBufferSize, std::uint32_t* bytesReturned);
Status ReadFile(Handle file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead);
Status WriteFile(Handle file, const void* buffer, std::uint32_t bytesToWrite,
                 std::uint32_t* bytesWritten);
Status GetFileSizeEx(Handle file, std::uint64_t* size);
Status FlushFileBuffers(Handle file);
// `size` bytes of information of the class asked for.
Status GetFileInformationByHandleEx(Handle file, std::uint32_t fileInformationClass,
                                    void* fileInformation, std::uint32_t size);
// What every Windows tells of an open file, its volume's serial number and its index among them.
Status GetFileInformationByHandle(Handle file, ByHandleFileInformation* fileInformation);
// Sets information of the class given: with a rename class, renames the open file; with the
// disposition class, marks it to be deleted when its last handle closes.
Status SetFileInformationByHandle(Handle file, std::uint32_t fileInformationClass,
                                  const void* fileInformation, std::uint32_t size);
// The path of the file itself, whatever links led to it, in its normalised form, its volume named
// as `flags` asks. Reports the call's count in `length`: without the NUL when the path fit, the
// room needed with it when it did not.
Status GetFinalPathNameByHandleW(Handle file, char16_t* filePath, std::uint32_t size,
                                 std::uint32_t flags, std::uint32_t* length);
Status CloseHandle(Handle object);

// kernel32: the full path that Windows forms of a name, as every file call forms it: relative to
// the current directory, "." and ".." resolved, trailing dots and spaces dropped. Reports the
// call's count in `length`: without the NUL when the path fit, the room needed with it when it did
// not.
Status GetFullPathNameW(const char16_t* fileName, std::uint32_t size, char16_t* buffer,
                        std::uint32_t* length);

// kernel32: the files of a folder whose names match a pattern (* and ?). The search handle is
// closed with FindClose alone.
Status FindFirstFileW(const char16_t* fileName, FindData* findData, Handle* find);
Status FindNextFileW(Handle find, FindData* findData);
Status FindClose(Handle find);

// kernel32: the console. The standard handle belongs to the process and is never closed; it
// may be null when the process has none.
Status GetStdHandle(std::uint32_t stdHandle, Handle* handle);
Status GetConsoleMode(Handle console, std::uint32_t* mode);
Status WriteConsoleW(Handle console, const char16_t* text, std::uint32_t length,
                     std::uint32_t* written);

// kernel32: a named mutex, one for every process that opens the name. A new one gets the security
// descriptor; the creator does not own it at first (no flags). An existing mutex of that name is
// opened for `desiredAccess`, which its own security must grant.
Status CreateMutexExW(const void* securityDescriptor, const char16_t* name,
                      std::uint32_t desiredAccess, Handle* mutex);
// Waits up to `milliseconds` for the object. When the wait does not fail, `*event` tells how it
// ended: WAIT_OBJECT_0, WAIT_ABANDONED (a mutex whose owner ended without releasing it, now
// owned by the caller) or WAIT_TIMEOUT.
Status WaitForSingleObject(Handle object, std::uint32_t milliseconds, std::uint32_t* event);
Status ReleaseMutex(Handle mutex);
void Sleep(std::uint32_t milliseconds);

// advapi32: security. A descriptor from its string form (SDDL_REVISION_1), released with
// LocalFree; a well-known SID written into `*size` bytes at `sid`.
Status ConvertStringSecurityDescriptorToSecurityDescriptorW(
    const char16_t* stringSecurityDescriptor, void** securityDescriptor);
Status LocalFree(void* memory);
Status CreateWellKnownSid(std::uint32_t wellKnownSidType, void* sid, std::uint32_t* size);

// kernel32: private namespaces, in which only those within a boundary may create a name. Not
// every Windows (nor Wine) has them: each is called at the address that GetProcAddress found
// for it. Security attributes, where taken, hold the descriptor alone.
Status CreateBoundaryDescriptorW(Procedure createBoundaryDescriptorW, const char16_t* name,
                                 Handle* boundaryDescriptor);
Status AddSIDToBoundaryDescriptor(Procedure addSIDToBoundaryDescriptor, Handle* boundaryDescriptor,
                                  const void* requiredSid);
void DeleteBoundaryDescriptor(Procedure deleteBoundaryDescriptor, Handle boundaryDescriptor);
Status CreatePrivateNamespaceW(Procedure createPrivateNamespaceW, const void* securityDescriptor,
                               Handle boundaryDescriptor, const char16_t* aliasPrefix,
                               Handle* privateNamespace);
Status OpenPrivateNamespaceW(Procedure openPrivateNamespaceW, Handle boundaryDescriptor,
                             const char16_t* aliasPrefix, Handle* privateNamespace);
Status ClosePrivateNamespace(Procedure closePrivateNamespace, Handle privateNamespace,
                             std::uint32_t flags);

// kernel32: the process heap. HeapAlloc answers null when no memory is left.
Heap GetProcessHeap();
void* HeapAlloc(Heap heap, std::uint32_t flags, std::size_t bytes);
Status HeapFree(Heap heap, std::uint32_t flags, void* block);

// setupapi. No enumerator and no window.
Status SetupDiGetClassDevsW(const Guid* classGuid, std::uint32_t flags, DevInfoSet* set);
Status SetupDiEnumDeviceInterfaces(DevInfoSet set, const Guid* interfaceClassGuid,
                                   std::uint32_t memberIndex, DeviceInterfaceData* interfaceData);
Status SetupDiGetDeviceInterfaceDetailW(DevInfoSet set, DeviceInterfaceData* interfaceData,
                                        DeviceInterfaceDetailData* detail, std::uint32_t detailSize,
                                        std::uint32_t* requiredSize, DevInfoData* devInfoData);
Status SetupDiGetDeviceInstanceIdW(DevInfoSet set, DevInfoData* devInfoData, char16_t* instanceId,
                                   std::uint32_t instanceIdSize, std::uint32_t* requiredSize);
Status SetupDiDestroyDeviceInfoList(DevInfoSet set);

// advapi32. No class, default security, no disposition.
RegKey HKeyLocalMachine();
Status RegCreateKeyExW(RegKey key, const char16_t* subKey, std::uint32_t options,
                       std::uint32_t samDesired, RegKey* result);
Status RegQueryValueExW(RegKey key, const char16_t* valueName, std::uint32_t* type, void* data,
                        std::uint32_t* dataSize);
Status RegSetValueExW(RegKey key, const char16_t* valueName, std::uint32_t type, const void* data,
                      std::uint32_t dataSize);
Status RegDeleteValueW(RegKey key, const char16_t* valueName);
Status RegCloseKey(RegKey key);

// kernel32: the running executable's path. Both report the character count that the call
// returned in `length`, also when that count is a size needed.
Status GetModuleFileNameW(char16_t* fileName, std::uint32_t size, std::uint32_t* length);
Status GetLongPathNameW(const char16_t* shortPath, char16_t* longPath, std::uint32_t size,
                        std::uint32_t* length);

// kernel32: a function that not every Windows has, found at run time. The module is one that
// the process has loaded already; its handle is not released.
Status GetModuleHandleW(const char16_t* moduleName, Module* module);
Status GetProcAddress(Module module, const char* procName, Procedure* procedure);
// Where later DLL loads may look: SetDefaultDllDirectories, called at the address that
// GetProcAddress found for it.
Status SetDefaultDllDirectories(Procedure setDefaultDllDirectories, std::uint32_t directoryFlags);

// C runtime: one wide formatted print to standard output, in which %s takes a wide string.
void WPrintF(const char16_t* format, const char16_t* argument);

}  // namespace platform
