#pragma once

#include <string>

// The directory that holds the running executable, in its long form, or the empty string when
// it cannot be had.
std::u16string GetProgramDirectory();
