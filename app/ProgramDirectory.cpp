#include "app/ProgramDirectory.h"

#include "platform/Platform.h"

using namespace platform;

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

bool RemoveFileSpec(std::u16string& path) {
  // Where the last element begins; everything before it stays.
  std::size_t element = 0;
  std::size_t at = 0;
  // One leading separator is a root, two begin a UNC path: they stay whatever follows.
  for (int i = 0; i < 2 && at < path.size() && IsSeparator(path[at]); ++i) element = ++at;
  while (at < path.size()) {
    if (IsSeparator(path[at])) {
      element = at;
    } else if (path[at] == u':') {
      // A drive, relative ("C:file") or with its root ("C:\file"), whose root stays. The
      // character after the colon is part of the drive's reach either way.
      element = at + 1;
      if (element < path.size() && IsSeparator(path[element])) ++element;
      ++at;
    }
    ++at;
  }
  if (element >= path.size()) return false;
  path.resize(element);
  return true;
}

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
  std::u16string path(buffer.c_str());
  if (!RemoveFileSpec(path)) return {};
  return path;
}
