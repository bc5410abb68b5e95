// The seam over Win32: each function is the one call that it is named after.

// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <sddl.h>
#include <winioctl.h>
// clang-format on

#include <cstddef>

#include "platform/Platform.h"

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, Reserved) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(sizeof(DevInfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(offsetof(DevInfoData, DevInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(sizeof(DeviceInterfaceDetailData) == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
static_assert(offsetof(DeviceInterfaceDetailData, DevicePath) ==
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));
static_assert(kIoctlVolumeQueryVolumeNumber == IOCTL_VOLUME_QUERY_VOLUME_NUMBER);
static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE &&
              kFileShareDelete == FILE_SHARE_DELETE);
static_assert(kCreateNew == CREATE_NEW && kCreateAlways == CREATE_ALWAYS &&
              kOpenExisting == OPEN_EXISTING);
static_assert(kStdOutputHandle == STD_OUTPUT_HANDLE);
static_assert(kLoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32);
static_assert(kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL &&
              kFileFlagBackupSemantics == FILE_FLAG_BACKUP_SEMANTICS);
static_assert(kDelete == DELETE && kFileFlagDeleteOnClose == FILE_FLAG_DELETE_ON_CLOSE &&
              kFileFlagOpenReparsePoint == FILE_FLAG_OPEN_REPARSE_POINT &&
              kFileAttributeReadonly == FILE_ATTRIBUTE_READONLY &&
              kFileAttributeHidden == FILE_ATTRIBUTE_HIDDEN &&
              kFileAttributeSystem == FILE_ATTRIBUTE_SYSTEM &&
              kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY &&
              kFileAttributeArchive == FILE_ATTRIBUTE_ARCHIVE &&
              kFileAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT &&
              kIoReparseTagSymlink == IO_REPARSE_TAG_SYMLINK);
static_assert(sizeof(FindData) == sizeof(WIN32_FIND_DATAW) &&
              offsetof(FindData, cFileName) == offsetof(WIN32_FIND_DATAW, cFileName));
static_assert(kFileRenameInfo == ::FileRenameInfo &&
              kFileDispositionInfo == ::FileDispositionInfo &&
              kFileAttributeTagInfo == ::FileAttributeTagInfo);
static_assert(sizeof(FileAttributeTagInfo) == sizeof(FILE_ATTRIBUTE_TAG_INFO) &&
              offsetof(FileAttributeTagInfo, ReparseTag) ==
                  offsetof(FILE_ATTRIBUTE_TAG_INFO, ReparseTag));
static_assert(sizeof(FileRenameInfo) == sizeof(FILE_RENAME_INFO) &&
              offsetof(FileRenameInfo, RootDirectory) ==
                  offsetof(FILE_RENAME_INFO, RootDirectory) &&
              offsetof(FileRenameInfo, FileNameLength) ==
                  offsetof(FILE_RENAME_INFO, FileNameLength) &&
              offsetof(FileRenameInfo, FileName) == offsetof(FILE_RENAME_INFO, FileName));
static_assert(sizeof(FileDispositionInfo) == sizeof(FILE_DISPOSITION_INFO));
static_assert(kFileBasicInfo == ::FileBasicInfo && kFileIdInfo == ::FileIdInfo &&
              kFileReadAttributes == FILE_READ_ATTRIBUTES);
static_assert(sizeof(FileBasicInfo) == sizeof(FILE_BASIC_INFO) &&
              offsetof(FileBasicInfo, FileAttributes) == offsetof(FILE_BASIC_INFO, FileAttributes));
static_assert(sizeof(FileIdInfo) == sizeof(FILE_ID_INFO) &&
              offsetof(FileIdInfo, FileId) == offsetof(FILE_ID_INFO, FileId));
static_assert(sizeof(ByHandleFileInformation) == sizeof(BY_HANDLE_FILE_INFORMATION) &&
              offsetof(ByHandleFileInformation, dwVolumeSerialNumber) ==
                  offsetof(BY_HANDLE_FILE_INFORMATION, dwVolumeSerialNumber) &&
              offsetof(ByHandleFileInformation, nFileIndexLow) ==
                  offsetof(BY_HANDLE_FILE_INFORMATION, nFileIndexLow));
static_assert(kVolumeNameDos == VOLUME_NAME_DOS && kVolumeNameGuid == VOLUME_NAME_GUID &&
              kVolumeNameNt == VOLUME_NAME_NT);
static_assert(kErrorNotSupported == ERROR_NOT_SUPPORTED &&
              kErrorInvalidParameter == ERROR_INVALID_PARAMETER &&
              kErrorInvalidFunction == ERROR_INVALID_FUNCTION &&
              kErrorInvalidName == ERROR_INVALID_NAME);
static_assert(kSynchronize == SYNCHRONIZE && kMutexModifyState == MUTEX_MODIFY_STATE);
static_assert(kWinBuiltinAdministratorsSid == WinBuiltinAdministratorsSid &&
              kSecurityMaxSidSize == SECURITY_MAX_SID_SIZE);
static_assert(kErrorNoMoreFiles == ERROR_NO_MORE_FILES);
static_assert(kDigcfPresent == DIGCF_PRESENT && kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(kKeyQueryValue == KEY_QUERY_VALUE && kKeySetValue == KEY_SET_VALUE);
static_assert(kRegDword == REG_DWORD && kRegQword == REG_QWORD && kRegMultiSz == REG_MULTI_SZ);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION &&
              kErrorFileExists == ERROR_FILE_EXISTS && kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kWaitObject0 == WAIT_OBJECT_0 && kWaitAbandoned == WAIT_ABANDONED &&
              kWaitTimeout == WAIT_TIMEOUT);
static_assert(kErrorGenFailure == ERROR_GEN_FAILURE && kErrorNotOwner == ERROR_NOT_OWNER &&
              kErrorProcNotFound == ERROR_PROC_NOT_FOUND);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER &&
              kErrorMoreData == ERROR_MORE_DATA && kErrorIncorrectSize == ERROR_INCORRECT_SIZE);

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const GUID* Win(const Guid* guid) { return reinterpret_cast<const GUID*>(guid); }
HKEY Win(RegKey key) { return static_cast<HKEY>(key); }
// A call that reports failure without a code still failed: no caller may go on as if it had
// filled what it was given.
Status LastError() {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}
Status Result(BOOL succeeded) { return succeeded ? ERROR_SUCCESS : LastError(); }
Status RegResult(LSTATUS status) { return static_cast<Status>(status); }

}  // namespace

Status CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                   Handle* file) {
  const HANDLE opened = ::CreateFileW(Wide(fileName), desiredAccess, shareMode, nullptr,
                                      creationDisposition, flagsAndAttributes, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return LastError();
  *file = opened;
  return ERROR_SUCCESS;
}

Status DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* outBuffer,
                       std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
  DWORD returned = 0;
  const BOOL succeeded = ::DeviceIoControl(device, ioControlCode, nullptr, 0, outBuffer,
                                           outBufferSize, &returned, nullptr);
  *bytesReturned = returned;
  return Result(succeeded);
}

Status ReadFile(Handle file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
  DWORD done = 0;
  const BOOL succeeded = ::ReadFile(file, buffer, bytesToRead, &done, nullptr);
  *bytesRead = done;
  return Result(succeeded);
}

Status WriteFile(Handle file, const void* buffer, std::uint32_t bytesToWrite,
                 std::uint32_t* bytesWritten) {
  DWORD done = 0;
  const BOOL succeeded = ::WriteFile(file, buffer, bytesToWrite, &done, nullptr);
  *bytesWritten = done;
  return Result(succeeded);
}

Status GetFileSizeEx(Handle file, std::uint64_t* size) {
  LARGE_INTEGER answer{};
  const BOOL succeeded = ::GetFileSizeEx(file, &answer);
  *size = static_cast<std::uint64_t>(answer.QuadPart);
  return Result(succeeded);
}

Status FlushFileBuffers(Handle file) { return Result(::FlushFileBuffers(file)); }

Status GetFileInformationByHandleEx(Handle file, std::uint32_t fileInformationClass,
                                    void* fileInformation, std::uint32_t size) {
  return Result(::GetFileInformationByHandleEx(
      file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(fileInformationClass), fileInformation, size));
}

Status GetFileInformationByHandle(Handle file, ByHandleFileInformation* fileInformation) {
  return Result(::GetFileInformationByHandle(
      file, reinterpret_cast<BY_HANDLE_FILE_INFORMATION*>(fileInformation)));
}

Status SetFileInformationByHandle(Handle file, std::uint32_t fileInformationClass,
                                  const void* fileInformation, std::uint32_t size) {
  return Result(::SetFileInformationByHandle(
      file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(fileInformationClass),
      const_cast<void*>(fileInformation), size));
}

Status GetFinalPathNameByHandleW(Handle file, char16_t* filePath, std::uint32_t size,
                                 std::uint32_t flags, std::uint32_t* length) {
  *length = ::GetFinalPathNameByHandleW(file, Wide(filePath), size, flags);
  return *length == 0 ? LastError() : ERROR_SUCCESS;
}

Status GetFullPathNameW(const char16_t* fileName, std::uint32_t size, char16_t* buffer,
                        std::uint32_t* length) {
  *length = ::GetFullPathNameW(Wide(fileName), size, Wide(buffer), nullptr);
  return *length == 0 ? LastError() : ERROR_SUCCESS;
}

Status FindFirstFileW(const char16_t* fileName, FindData* findData, Handle* find) {
  const HANDLE found =
      ::FindFirstFileW(Wide(fileName), reinterpret_cast<WIN32_FIND_DATAW*>(findData));
  if (found == INVALID_HANDLE_VALUE) return LastError();
  *find = found;
  return ERROR_SUCCESS;
}

Status FindNextFileW(Handle find, FindData* findData) {
  return Result(::FindNextFileW(find, reinterpret_cast<WIN32_FIND_DATAW*>(findData)));
}

Status FindClose(Handle find) { return Result(::FindClose(find)); }

Status CloseHandle(Handle object) { return Result(::CloseHandle(object)); }

Status GetStdHandle(std::uint32_t stdHandle, Handle* handle) {
  const HANDLE standard = ::GetStdHandle(stdHandle);
  if (standard == INVALID_HANDLE_VALUE) return LastError();
  *handle = standard;
  return ERROR_SUCCESS;
}

Status GetConsoleMode(Handle console, std::uint32_t* mode) {
  DWORD answer = 0;
  const BOOL succeeded = ::GetConsoleMode(console, &answer);
  *mode = answer;
  return Result(succeeded);
}

Status WriteConsoleW(Handle console, const char16_t* text, std::uint32_t length,
                     std::uint32_t* written) {
  DWORD done = 0;
  const BOOL succeeded = ::WriteConsoleW(console, text, length, &done, nullptr);
  *written = done;
  return Result(succeeded);
}

Status CreateMutexExW(const void* securityDescriptor, const char16_t* name,
                      std::uint32_t desiredAccess, Handle* mutex) {
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), const_cast<void*>(securityDescriptor), FALSE};
  const HANDLE created = ::CreateMutexExW(&attributes, Wide(name), 0, desiredAccess);
  if (!created) return LastError();
  *mutex = created;
  return ERROR_SUCCESS;
}

Status WaitForSingleObject(Handle object, std::uint32_t milliseconds, std::uint32_t* event) {
  const DWORD ended = ::WaitForSingleObject(object, milliseconds);
  if (ended == WAIT_FAILED) return LastError();
  *event = ended;
  return ERROR_SUCCESS;
}

Status ReleaseMutex(Handle mutex) { return Result(::ReleaseMutex(mutex)); }

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

Status ConvertStringSecurityDescriptorToSecurityDescriptorW(
    const char16_t* stringSecurityDescriptor, void** securityDescriptor) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          Wide(stringSecurityDescriptor), SDDL_REVISION_1, &converted, nullptr)) {
    return LastError();
  }
  *securityDescriptor = converted;
  return ERROR_SUCCESS;
}

Status LocalFree(void* memory) { return ::LocalFree(memory) ? LastError() : ERROR_SUCCESS; }

Status CreateWellKnownSid(std::uint32_t wellKnownSidType, void* sid, std::uint32_t* size) {
  DWORD room = *size;
  const BOOL succeeded =
      ::CreateWellKnownSid(static_cast<WELL_KNOWN_SID_TYPE>(wellKnownSidType), nullptr, sid, &room);
  *size = room;
  return Result(succeeded);
}

// Each at the address that GetProcAddress found, as its own type.
Status CreateBoundaryDescriptorW(Procedure createBoundaryDescriptorW, const char16_t* name,
                                 Handle* boundaryDescriptor) {
  using Function = HANDLE(WINAPI*)(LPCWSTR, ULONG);
  const HANDLE created = reinterpret_cast<Function>(createBoundaryDescriptorW)(Wide(name), 0);
  if (!created) return LastError();
  *boundaryDescriptor = created;
  return ERROR_SUCCESS;
}

Status AddSIDToBoundaryDescriptor(Procedure addSIDToBoundaryDescriptor, Handle* boundaryDescriptor,
                                  const void* requiredSid) {
  using Function = BOOL(WINAPI*)(HANDLE*, PSID);
  return Result(reinterpret_cast<Function>(addSIDToBoundaryDescriptor)(
      boundaryDescriptor, const_cast<void*>(requiredSid)));
}

void DeleteBoundaryDescriptor(Procedure deleteBoundaryDescriptor, Handle boundaryDescriptor) {
  using Function = VOID(WINAPI*)(HANDLE);
  reinterpret_cast<Function>(deleteBoundaryDescriptor)(boundaryDescriptor);
}

Status CreatePrivateNamespaceW(Procedure createPrivateNamespaceW, const void* securityDescriptor,
                               Handle boundaryDescriptor, const char16_t* aliasPrefix,
                               Handle* privateNamespace) {
  using Function = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), const_cast<void*>(securityDescriptor), FALSE};
  const HANDLE created = reinterpret_cast<Function>(createPrivateNamespaceW)(
      &attributes, boundaryDescriptor, Wide(aliasPrefix));
  if (!created) return LastError();
  *privateNamespace = created;
  return ERROR_SUCCESS;
}

Status OpenPrivateNamespaceW(Procedure openPrivateNamespaceW, Handle boundaryDescriptor,
                             const char16_t* aliasPrefix, Handle* privateNamespace) {
  using Function = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
  const HANDLE opened =
      reinterpret_cast<Function>(openPrivateNamespaceW)(boundaryDescriptor, Wide(aliasPrefix));
  if (!opened) return LastError();
  *privateNamespace = opened;
  return ERROR_SUCCESS;
}

Status ClosePrivateNamespace(Procedure closePrivateNamespace, Handle privateNamespace,
                             std::uint32_t flags) {
  using Function = BOOLEAN(WINAPI*)(HANDLE, ULONG);
  return Result(reinterpret_cast<Function>(closePrivateNamespace)(privateNamespace, flags));
}

Heap GetProcessHeap() { return ::GetProcessHeap(); }

void* HeapAlloc(Heap heap, std::uint32_t flags, std::size_t bytes) {
  return ::HeapAlloc(heap, flags, bytes);
}

Status HeapFree(Heap heap, std::uint32_t flags, void* block) {
  return Result(::HeapFree(heap, flags, block));
}

Status SetupDiGetClassDevsW(const Guid* classGuid, std::uint32_t flags, DevInfoSet* set) {
  const HDEVINFO created = ::SetupDiGetClassDevsW(Win(classGuid), nullptr, nullptr, flags);
  if (created == INVALID_HANDLE_VALUE) return LastError();
  *set = created;
  return ERROR_SUCCESS;
}

Status SetupDiEnumDeviceInterfaces(DevInfoSet set, const Guid* interfaceClassGuid,
                                   std::uint32_t memberIndex, DeviceInterfaceData* interfaceData) {
  return Result(
      ::SetupDiEnumDeviceInterfaces(set, nullptr, Win(interfaceClassGuid), memberIndex,
                                    reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(interfaceData)));
}

Status SetupDiGetDeviceInterfaceDetailW(DevInfoSet set, DeviceInterfaceData* interfaceData,
                                        DeviceInterfaceDetailData* detail, std::uint32_t detailSize,
                                        std::uint32_t* requiredSize, DevInfoData* devInfoData) {
  DWORD required = 0;
  const BOOL succeeded = ::SetupDiGetDeviceInterfaceDetailW(
      set, reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(interfaceData),
      reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail), detailSize,
      requiredSize ? &required : nullptr, reinterpret_cast<SP_DEVINFO_DATA*>(devInfoData));
  const Status status = Result(succeeded);
  if (requiredSize) *requiredSize = required;
  return status;
}

Status SetupDiGetDeviceInstanceIdW(DevInfoSet set, DevInfoData* devInfoData, char16_t* instanceId,
                                   std::uint32_t instanceIdSize, std::uint32_t* requiredSize) {
  DWORD required = 0;
  const BOOL succeeded = ::SetupDiGetDeviceInstanceIdW(
      set, reinterpret_cast<SP_DEVINFO_DATA*>(devInfoData), Wide(instanceId), instanceIdSize,
      requiredSize ? &required : nullptr);
  const Status status = Result(succeeded);
  if (requiredSize) *requiredSize = required;
  return status;
}

Status SetupDiDestroyDeviceInfoList(DevInfoSet set) {
  return Result(::SetupDiDestroyDeviceInfoList(set));
}

RegKey HKeyLocalMachine() { return HKEY_LOCAL_MACHINE; }

Status RegCreateKeyExW(RegKey key, const char16_t* subKey, std::uint32_t options,
                       std::uint32_t samDesired, RegKey* result) {
  HKEY created = nullptr;
  const LSTATUS status = ::RegCreateKeyExW(Win(key), Wide(subKey), 0, nullptr, options, samDesired,
                                           nullptr, &created, nullptr);
  if (status == ERROR_SUCCESS) *result = created;
  return RegResult(status);
}

Status RegQueryValueExW(RegKey key, const char16_t* valueName, std::uint32_t* type, void* data,
                        std::uint32_t* dataSize) {
  DWORD storedType = 0;
  DWORD size = dataSize ? *dataSize : 0;
  const LSTATUS status =
      ::RegQueryValueExW(Win(key), Wide(valueName), nullptr, type ? &storedType : nullptr,
                         static_cast<BYTE*>(data), dataSize ? &size : nullptr);
  if (type) *type = storedType;
  if (dataSize) *dataSize = size;
  return RegResult(status);
}

Status RegSetValueExW(RegKey key, const char16_t* valueName, std::uint32_t type, const void* data,
                      std::uint32_t dataSize) {
  return RegResult(::RegSetValueExW(Win(key), Wide(valueName), 0, type,
                                    static_cast<const BYTE*>(data), dataSize));
}

Status RegDeleteValueW(RegKey key, const char16_t* valueName) {
  return RegResult(::RegDeleteValueW(Win(key), Wide(valueName)));
}

Status RegCloseKey(RegKey key) { return RegResult(::RegCloseKey(Win(key))); }

Status GetModuleFileNameW(char16_t* fileName, std::uint32_t size, std::uint32_t* length) {
  *length = ::GetModuleFileNameW(nullptr, Wide(fileName), size);
  return *length == 0 ? LastError() : ERROR_SUCCESS;
}

Status GetLongPathNameW(const char16_t* shortPath, char16_t* longPath, std::uint32_t size,
                        std::uint32_t* length) {
  *length = ::GetLongPathNameW(Wide(shortPath), Wide(longPath), size);
  return *length == 0 ? LastError() : ERROR_SUCCESS;
}

Status GetModuleHandleW(const char16_t* moduleName, Module* module) {
  const HMODULE loaded = ::GetModuleHandleW(Wide(moduleName));
  if (!loaded) return LastError();
  *module = loaded;
  return ERROR_SUCCESS;
}

// void (*)() stands for a function of any type: the casts to and from it are the documented way
// to call an address that GetProcAddress found.
Status GetProcAddress(Module module, const char* procName, Procedure* procedure) {
  const FARPROC found = ::GetProcAddress(static_cast<HMODULE>(module), procName);
  if (!found) return LastError();
  *procedure = reinterpret_cast<Procedure>(found);
  return ERROR_SUCCESS;
}

Status SetDefaultDllDirectories(Procedure setDefaultDllDirectories, std::uint32_t directoryFlags) {
  using Function = BOOL(WINAPI*)(DWORD);
  return Result(reinterpret_cast<Function>(setDefaultDllDirectories)(directoryFlags));
}

}  // namespace platform
