#pragma once

#include <string>

// The directory that holds the running executable, in its long form, or the empty string when
// it cannot be had.
std::u16string GetProgramDirectory();

// Removes the last element of `path` and the separator before it, as the shell's path functions
// do: a root keeps its separator ("C:\", "\", "\\?\C:\"), and a UNC path's two leading
// separators stay. Answers whether anything was removed. Both "\" and "/" separate, so that the
// Linux build's paths are met as well.
bool RemoveFileSpec(std::u16string& path);
