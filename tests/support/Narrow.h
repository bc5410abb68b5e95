#pragma once

// UTF-16 text for a test's messages: ASCII as it is, any other character as "?". Each character
// is converted on its own, since a std::string built from char16_t text narrows implicitly,
// which Visual Studio's compiler takes as a warning (C4244).

#include <string>
#include <string_view>

inline std::string Narrow(std::u16string_view text) {
  std::string narrow;
  for (const char16_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}
