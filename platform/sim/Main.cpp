// The Linux entry: ZOLTMgr on a simulated machine that lives in zoltmgr-machine.json beside the
// executable, or on the default machine while there is no such file.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

// Holds the machine for one run, from reading it to writing it back, so that runs at the same
// time take turns instead of each writing back a machine without the other's change. Where the
// lock file cannot be made, nothing could be written back either, and the run goes on alone.
class MachineLock {
 public:
  explicit MachineLock(const fs::path& machineFile)
      : fd_(::open((machineFile.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;
  // Closing the file ends the lock.
  ~MachineLock() {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_;
};

bool ReadText(const fs::path& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  text = content.str();
  return in.good() || in.eof();
}

// The whole machine at once: a new file of this run's own, renamed over the old one.
bool WriteMachine(const fs::path& path, const std::string& text) {
  std::string temporary = path.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool written = ::fchmod(fd, 0644) == 0;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    written = put > 0;
    if (written) done += static_cast<std::size_t>(put);
  }
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(sim::ToUtf16(argv[i]));

  const fs::path machineFile = MachineFilePath();
  const MachineLock lock(machineFile);
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
  // A refused rename is waited out in real time, as ZOLTMgr.exe waits it out.
  machine.realTime = true;
  machine.consoleOutput = ::isatty(STDOUT_FILENO) == 1;
  // The faults as the file gives them: what this run used of them does not carry over.
  const std::vector<sim::Fault> faults = machine.faults;

  const int exitCode = RunZOLTMgr(arguments);
  std::fflush(stdout);
  machine.faults = faults;
  if (machine.registryChanged && !WriteMachine(machineFile, sim::SaveMachine(machine))) {
    std::fprintf(stderr, "ZOLTMgr: %s: cannot be written\n", machineFile.c_str());
    return kMachineFileNotSaved;
  }
  return exitCode;
}
