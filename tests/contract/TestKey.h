#pragma once

#include <string>

// A key of the contract suite's own under HKEY_LOCAL_MACHINE, and its removal with everything
// below it once the suite is done. On the simulated machine the suite starts from an empty one.
std::u16string NewTestKeyPath();
void DeleteTestKey(const std::u16string& path);
