#pragma once

// Text conversions of the simulated machine: UTF-16 inside, UTF-8 toward Linux.

#include <string>
#include <string_view>

namespace sim {

// Invalid sequences and lone surrogates become U+FFFD.
std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

// Names as Windows compares them: without regard to the case of ASCII letters.
std::u16string FoldCase(std::u16string_view text);
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace sim
