// lock_holder FOLDER NAME MILLISECONDS: takes the settings lock, leaves NAME.acquired in FOLDER,
// and ends after that many milliseconds, letting go of the lock and its namespace.

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/SettingsLock.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::filesystem::path mark = std::filesystem::path(argv[1]) / argv[2];
  SettingsLock lock;
  if (!lock.Acquire()) return 1;
  std::ofstream(std::filesystem::path(mark).concat(L".acquired")).put('1');
  Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  return 0;
}
