#pragma once

// The two operations of a validated command. Each prints exactly one line, its success line or
// the failure line of the step that failed, and returns the exit code of that step. The settings
// file is always `file` below the program's own directory.

#include <string>

// 0 success; 1 the registry read failed; 2 the file could not be created; 3 the head write and
// 4 the list write failed; 5 the close failed. The registry is read completely before the file
// is touched.
int ExportVolumeSettings(std::u16string volume, std::u16string file);

// 0 success; 1 the file could not be opened; 2 the head and 3 the list could not be read; 4 the
// registry write failed. The file is read completely and closed before the registry is touched.
int ImportVolumeSettings(std::u16string volume, std::u16string file);
