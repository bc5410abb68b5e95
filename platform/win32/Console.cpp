// The C runtime's wide print. Its own stdio.h comes first, before any C++ header can switch
// mingw-w64 over to its C99 printf family, in which %s would take a narrow string.
// clang-format off
#include <stdio.h>
// clang-format on

#include "platform/Platform.h"

namespace platform {

void WPrintF(const char16_t* format, const char16_t* argument) {
  ::wprintf(reinterpret_cast<const wchar_t*>(format), reinterpret_cast<const wchar_t*>(argument));
}

}  // namespace platform
