// The Windows entry: the C runtime splits the command line into wide arguments.

#include <string>
#include <vector>

#include "app/CommandLine.h"

// Arguments reach the program exactly as typed: the runtime expands no wildcards.
extern "C" {
int _dowildcard = 0;
}

int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  return RunZOLTMgr(arguments);
}
