#pragma once

// A rename through an open handle, as the tests of the seam and of the simulated machine ask
// for it.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"

// FileRenameInfo with the new name's full path, replacing where `replace` says so.
inline platform::Status RenameTo(platform::Handle file, const std::u16string& name, bool replace) {
  std::vector<std::uint64_t> storage(8 + name.size() / 4);
  auto* rename = reinterpret_cast<platform::FileRenameInfo*>(storage.data());
  rename->Flags = replace ? 1 : 0;
  rename->FileNameLength = static_cast<std::uint32_t>(2 * name.size());
  std::memcpy(rename->FileName, name.data(), 2 * name.size());
  return platform::SetFileInformationByHandle(
      file, platform::kFileRenameInfo, rename,
      static_cast<std::uint32_t>(sizeof(platform::FileRenameInfo) + 2 * name.size()));
}
