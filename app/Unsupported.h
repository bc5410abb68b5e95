#pragma once

// How Windows refuses a class of file information that it, or the file system, does not have:
// ERROR_INVALID_PARAMETER before Windows 10 1607 and on FAT, ERROR_INVALID_FUNCTION on 1607 and
// Server 2016, ERROR_NOT_SUPPORTED on ReFS and elsewhere. A caller falls back to the older way
// on each of them.

#include "platform/Platform.h"

inline bool RefusedAsUnsupported(platform::Status status) {
  return status == platform::kErrorInvalidParameter || status == platform::kErrorInvalidFunction ||
         status == platform::kErrorNotSupported;
}
