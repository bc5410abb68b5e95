// The Linux entry: ZOLTMgr on a simulated machine that lives in zoltmgr-machine.json beside the
// executable, or on the default machine while there is no such file.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/CommandLine.h"
#include "platform/sim/Machine.h"
#include "platform/sim/MachineFile.h"
#include "platform/sim/Text.h"

namespace {

// Exit codes of the simulation itself, apart from the program's 0 to 5.
constexpr int kMachineFileUnusable = 10;
constexpr int kMachineFileNotSaved = 11;

namespace fs = std::filesystem;

fs::path MachineFilePath() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  return (error ? fs::path(".") : exe.parent_path()) / "zoltmgr-machine.json";
}

bool ReadText(const fs::path& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  text = content.str();
  return in.good() || in.eof();
}

// The whole machine at once: a new file renamed over the old one.
bool WriteMachine(const fs::path& path, const std::string& text) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) return false;
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(sim::ToUtf16(argv[i]));

  const fs::path machineFile = MachineFilePath();
  sim::Machine& machine = sim::TheMachine();
  std::error_code error;
  if (fs::exists(machineFile, error)) {
    std::string text;
    if (!ReadText(machineFile, text)) {
      std::fprintf(stderr, "ZOLTMgr: %s: cannot be read\n", machineFile.c_str());
      return kMachineFileUnusable;
    }
    if (const auto problem = sim::LoadMachine(text, machine)) {
      std::fprintf(stderr, "ZOLTMgr: %s: %s\n", machineFile.c_str(), problem->c_str());
      return kMachineFileUnusable;
    }
  } else {
    machine = sim::DefaultMachine();
  }
  machine.echoConsole = true;

  const int exitCode = RunZOLTMgr(arguments);
  std::fflush(stdout);
  if (machine.registryChanged && !WriteMachine(machineFile, sim::SaveMachine(machine))) {
    std::fprintf(stderr, "ZOLTMgr: %s: cannot be written\n", machineFile.c_str());
    return kMachineFileNotSaved;
  }
  return exitCode;
}
