#include "app/ProgramDirectory.h"

#include "platform/Platform.h"

using namespace platform;

std::u16string GetProgramDirectory() {
  constexpr std::uint32_t kCapacity = 4096;
  std::u16string buffer(kCapacity, u'\0');
  std::uint32_t length = 0;
  // A result of the full capacity means the path was cut short.
  if (GetModuleFileNameW(buffer.data(), kCapacity, &length) != kErrorSuccess || length == 0 ||
      length >= kCapacity) {
    return {};
  }
  // Converted in place; a result above the capacity is the room that the long form would need.
  if (GetLongPathNameW(buffer.data(), buffer.data(), kCapacity, &length) != kErrorSuccess ||
      length == 0 || length > kCapacity) {
    return {};
  }
  if (!PathRemoveFileSpecW(buffer.data())) return {};
  return std::u16string(buffer.c_str());
}
