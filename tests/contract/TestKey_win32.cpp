#include <windows.h>

#include <string>

#include "contract/TestKey.h"

std::u16string NewTestKeyPath() {
  const std::string id = std::to_string(GetCurrentProcessId());
  return u"Software\\ZOLTMgrContract\\Run" + std::u16string(id.begin(), id.end());
}

void DeleteTestKey(const std::u16string& path) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(path.c_str()));
}
