// lock_holder FOLDER NAME MILLISECONDS [AWAITED]: takes the settings lock, leaving NAME.reach in
// FOLDER (how it reached the namespace: "created", "opened" or "none") before it waits and
// NAME.acquired once it holds the lock; holds it that many milliseconds and, where AWAITED is
// given, until that file appears in FOLDER; then ends, letting go of the lock and its namespace.

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/SettingsLock.h"

namespace {

// By SettingsLock::Reach.
constexpr const char* kReach[] = {"none", "created", "opened"};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 && argc != 5) return 2;
  const std::filesystem::path folder(argv[1]);
  const std::wstring name(argv[2]);
  SettingsLock lock;
  if (!lock.Open()) return 1;
  std::ofstream(folder / (name + L".reach")) << kReach[static_cast<int>(lock.reach())];
  if (!lock.Wait()) return 1;
  std::ofstream(folder / (name + L".acquired")).put('1');
  Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  // Twenty seconds at most: a run that never comes fails the test, not the machine.
  for (int waited = 0; argc == 5 && waited < 20000 && !std::filesystem::exists(folder / argv[4]);
       waited += 20) {
    Sleep(20);
  }
  return 0;
}
