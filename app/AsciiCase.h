#pragma once

// Names that ZOLTMgr makes or knows are ASCII: they match without regard to the case of A to Z
// alone, and no locale decides what else matches.

#include <algorithm>
#include <string_view>

inline char16_t FoldAsciiLetter(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return std::ranges::equal(a, b, {}, FoldAsciiLetter, FoldAsciiLetter);
}
