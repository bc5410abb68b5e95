#include "app/Output.h"

#include <algorithm>

#include "platform/Platform.h"

using namespace platform;

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Standard output when it is a console, or null.
Handle ConsoleOutput() {
  Handle output = nullptr;
  std::uint32_t mode = 0;
  if (GetStdHandle(kStdOutputHandle, &output) != kErrorSuccess || !output) return nullptr;
  return GetConsoleMode(output, &mode) == kErrorSuccess ? output : nullptr;
}

// `text` as a byte stream gets it: each character above U+00FF (a surrogate pair is one) becomes
// "?".
std::u16string WithoutWideCharacters(std::u16string_view text) {
  std::u16string narrow;
  narrow.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c <= 0xFF) {
      narrow += c;
      continue;
    }
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
    narrow += u'?';
  }
  return narrow;
}

}  // namespace

void Print(std::u16string_view text) {
  if (const Handle console = ConsoleOutput()) {
    // A console write may take fewer characters than it was given; the rest follows.
    while (!text.empty()) {
      std::uint32_t written = 0;
      if (WriteConsoleW(console, text.data(), static_cast<std::uint32_t>(text.size()), &written) !=
              kErrorSuccess ||
          written == 0) {
        return;
      }
      text.remove_prefix(std::min<std::size_t>(written, text.size()));
    }
    return;
  }
  WPrintF(u"%s", WithoutWideCharacters(text).c_str());
}

void Print(std::u16string_view format, std::u16string_view argument) {
  std::u16string text(format);
  if (const std::size_t at = text.find(u"%s"); at != std::u16string::npos) {
    text.replace(at, 2, argument);
  }
  Print(text);
}
