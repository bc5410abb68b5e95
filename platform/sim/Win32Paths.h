#pragma once

// How a path reaches a file on the simulated volume: first as Win32 forms every path, whatever
// the file system (Microsoft, "File path formats on Windows systems"), then as the file system
// finds the file, with the 8.3 names and streams that its Windows and file system have.

#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace platform::seam {

// The full path that GetFullPathNameW forms: relative paths taken from the current directory,
// on the simulated volume's drive C: as a path from the root is,
// backslashes between the elements, "." and ".." taken out, a single trailing dot of each element
// and every trailing dot and space of the last one dropped; a last element that names a device
// on this Windows (NUL, CON, COM1 and so on) becomes the device's path, \\.\NUL. A path behind
// \\?\ stays as it is.
std::u16string FullPath(std::u16string_view path);

// Whether `name` is an 8.3 name already, in whatever case.
bool IsShortName(std::u16string_view name);

// The Linux path of what `path` names: formed as FullPath forms it, behind any of the volume's
// names, each 8.3 name taken for the long name that it stands for, and "name::$DATA" for the file
// itself. ERROR_INVALID_NAME where the file system takes no such name (a colon elsewhere, or a
// stream where there are none); ERROR_PATH_NOT_FOUND for a path of more than 259 characters
// outside the \\?\ form, unless the machine has long paths.
Status FilePath(std::u16string_view path, std::string* linux);

// The 8.3 name that the file system gives `name` in the Linux folder `folder`; empty where it
// needs none or has none. Windows numbers names of one stem in the order they were made; the
// simulated volume numbers them in the order of their long names.
std::u16string ShortName(const std::string& folder, const std::string& name);

// `path` with each element that is the 8.3 name of a file in its folder replaced by that file's
// long name, as GetLongPathNameW gives it; `linux` is where the file lies.
Status LongPath(std::u16string_view path, std::u16string* longPath, std::string* linux);

}  // namespace platform::seam
