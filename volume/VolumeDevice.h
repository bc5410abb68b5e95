#pragma once

// Finds the device instance of the volume behind a drive argument such as "C:". Drive and volume
// are matched by volume number and volume manager: the drive is asked for both, then the present
// volume interfaces are asked in enumeration order until one answers with the same two.

#include "platform/Platform.h"

// Opens a drive argument ("C:" becomes "\\.\C:") or a device path (one that begins with a
// backslash, opened as it is) for device-control requests. One trailing backslash is dropped.
// A formed path longer than 259 characters fails with ERROR_INSUFFICIENT_BUFFER. On 0 the caller
// owns *device; on failure *device is not written.
platform::Status OpenVolumeDevice(const char16_t* path, platform::Handle* device);

// On 0, *instanceId is the NUL-terminated device instance ID in a block of the process heap that
// the caller frees with HeapFree. On failure *instanceId is not written and no block remains.
// Statuses of its own: ERROR_FILE_NOT_FOUND (no interface matches), ERROR_OUTOFMEMORY; any
// other status is the platform's, passed on.
platform::Status FindVolumeInstanceId(const char16_t* volume, char16_t** instanceId);
