#pragma once

// Which file an open handle holds, whatever name or spelling led to it: two handles hold the same
// file exactly when their identities are equal, read the same way.

#include <array>
#include <cstdint>

#include "platform/Platform.h"

struct FileIdentity {
  // FileIdInfo, with the 128-bit identifier that ReFS needs, or, where this Windows or the file
  // system lacks that class (Windows 7, FAT), GetFileInformationByHandle's volume serial number
  // and file index. Identities to compare must be read the same way: the first read decides.
  enum class Way { kUnknown, kFileId, kByHandle };

  std::uint64_t volume = 0;
  std::array<std::uint8_t, 16> file{};
  bool operator==(const FileIdentity&) const = default;
};

// Reads the identity of the file that `file` holds, the way `way` says, or, while that is still
// unknown, the first way that this Windows and file system have, which `way` then keeps.
platform::Status ReadFileIdentity(platform::Handle file, FileIdentity::Way& way,
                                  FileIdentity* identity);
