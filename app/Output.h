#pragma once

// Every line that ZOLTMgr prints. On a console a line appears as typed, every character of it.
// Into a file or a pipe it goes through the C runtime's wide print, which writes one byte for
// each character up to U+00FF and stops at the first one above; such characters are printed as
// "?" instead, so that the line always reaches its end.

#include <string>
#include <string_view>

// Prints `text` as it is: a "%" in it is no format.
void Print(std::u16string_view text);

// Prints `format` with its "%s" replaced by `argument`, exactly as typed.
void Print(std::u16string_view format, std::u16string_view argument);
