// What an export and an import cost: wall time and peak memory of the Linux program against the
// same program printing its usage, the memory of imports whose heads claim huge or real lists,
// the device opens and registry calls per operation on the simulated machine, and the size of
// ZOLTMgr.exe. It reports; it fails only when the program itself misbehaves.
//
// Usage: zoltmgr_bench --program PATH [--runs N] [--exe PATH-TO-ZOLTMgr.exe]

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/SettingsTransfer.h"
#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct Sample {
  double milliseconds;
  long peakKiB;
  int exitCode;
};

Sample Measure(const fs::path& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> texts{program.string()};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  return Sample{std::chrono::duration<double, std::milli>(end - start).count(), usage.ru_maxrss,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

template <typename T>
T Median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Command {
  const char* name;
  std::vector<std::string> arguments;
  int exitCode;
};

bool ProcessTable(const fs::path& program, int runs) {
  TempDir directory;
  const fs::path copy = directory.path() / "ZOLTMgr";
  fs::copy_file(program, copy);
  // The default machine's C: has six values with a 78-byte list.
  WriteBytes(directory.path() / "claims.dat", SettingsFile(1, 2, 3, 4, 5, 0xFFFFFFFF, {}));
  std::vector<std::uint8_t> list(8192, 0x41);
  list[8188] = list[8189] = list[8190] = list[8191] = 0;
  WriteBytes(directory.path() / "full.dat", SettingsFile(1, 2, 3, 4, 5, 8192, list));
  const std::vector<Command> commands = {
      {"usage", {}, 1},
      {"export C:", {"-export", "C:", "c.dat"}, 0},
      {"import C:", {"-import", "C:", "c.dat"}, 0},
      {"import, head claims 0xFFFFFFFF bytes", {"-import", "C:", "claims.dat"}, 3},
      {"import, 8192-byte list", {"-import", "D:", "full.dat"}, 0},
  };
  std::vector<std::vector<Sample>> samples(commands.size());
  // Side by side: each round runs every command once, so that the machine's load falls on all.
  Measure(copy, commands[1].arguments);
  for (int round = 0; round < runs; ++round) {
    for (std::size_t i = 0; i < commands.size(); ++i)
      samples[i].push_back(Measure(copy, commands[i].arguments));
  }
  bool sound = true;
  std::vector<double> times;
  std::vector<long> peaks;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    std::vector<double> milliseconds;
    std::vector<long> kib;
    for (const Sample& s : samples[i]) {
      milliseconds.push_back(s.milliseconds);
      kib.push_back(s.peakKiB);
      if (s.exitCode != commands[i].exitCode) sound = false;
    }
    times.push_back(Median(milliseconds));
    peaks.push_back(Median(kib));
  }
  std::printf(
      "| run (median of %d) | wall time | ratio to usage | peak memory | ratio to usage |\n", runs);
  std::printf("|---|---|---|---|---|\n");
  for (std::size_t i = 0; i < commands.size(); ++i) {
    std::printf("| %s | %.2f ms | %.2f | %ld KiB | %.2f |\n", commands[i].name, times[i],
                times[i] / times[0], peaks[i], static_cast<double>(peaks[i]) / peaks[0]);
  }
  if (!sound) std::printf("\nSome run ended with an unexpected exit code.\n");
  return sound;
}

std::u16string Text(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A machine with `n` interfaces, drive C: behind the k-th; runs one operation on it.
sim::Machine& CountingMachine(int n, int k, const fs::path& directory) {
  sim::Machine& machine = sim::TheMachine() = sim::Machine{};
  machine.moduleFileName = (directory / "ZOLTMgr").string();
  for (int i = 1; i <= n; ++i) {
    const std::u16string name = u"{disk}#" + Text(std::to_string(i));
    machine.volumeInterfaces.push_back(
        sim::VolumeInterface{u"\\\\?\\STORAGE#Volume#" + name, u"STORAGE\\VOLUME\\" + name,
                             static_cast<std::uint32_t>(100 + i), u"VOLMGR", 0, 0});
  }
  machine.drives = {sim::Drive{u"C:", static_cast<std::uint32_t>(100 + k), 0, 0}};
  const std::u16string key =
      u"System\\CurrentControlSet\\Services\\KvVolRedir\\Parameters\\{disk}#" +
      Text(std::to_string(k));
  using namespace platform;
  machine.registry.SetValue(key, u"Protected", kRegDword, {1, 0, 0, 0});
  for (const char16_t* name : {u"MaxCacheSize", u"YellowLevel", u"RedLevel", u"GreenLevel"}) {
    machine.registry.SetValue(key, name, kRegQword, std::vector<std::uint8_t>(8, 0));
  }
  machine.registry.SetValue(key, u"ExclusionList", kRegMultiSz, {0x41, 0, 0, 0, 0, 0});
  return machine;
}

int InterfaceOpens(const sim::Machine& machine) {
  int opens = 0;
  for (const sim::CallRecord& call : machine.calls) {
    if (call.call == "CreateFileW" && call.subject.starts_with(u"\\\\?\\STORAGE#")) ++opens;
  }
  return opens;
}

bool CallTable() {
  TempDir directory;
  std::ofstream(directory.path() / "ZOLTMgr").put('\x7f');
  std::printf(
      "| operation | n interfaces | k | lookups | interface opens per lookup | drive opens | "
      "registry calls |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  bool sound = true;
  const int shapes[][2] = {{1, 1}, {4, 1}, {4, 4}, {16, 1}, {16, 8}, {16, 16}, {64, 64}};
  for (const bool isExport : {true, false}) {
    for (const auto& shape : shapes) {
      const int n = shape[0];
      const int k = shape[1];
      sim::Machine& machine = CountingMachine(n, k, directory.path());
      const int exitCode = isExport ? ExportVolumeSettings(u"C:", u"bench.dat")
                                    : ImportVolumeSettings(u"C:", u"bench.dat");
      const int lookups = machine.CallCount("SetupDiGetClassDevsW");
      const int registryCalls =
          machine.CallCount("RegCreateKeyExW") + machine.CallCount("RegQueryValueExW") +
          machine.CallCount("RegSetValueExW") + machine.CallCount("RegDeleteValueW") +
          machine.CallCount("RegCloseKey");
      const double perLookup = lookups ? static_cast<double>(InterfaceOpens(machine)) / lookups : 0;
      std::printf("| %s | %d | %d | %d | %.0f | %d | %d |\n", isExport ? "export" : "import", n, k,
                  lookups, perLookup, machine.CallCount("CreateFileW", u"\\\\.\\C:"),
                  registryCalls);
      // Six complete lookups, each opening the interfaces up to the k-th: nothing is cached.
      sound = sound && exitCode == 0 && lookups == 6 && perLookup == k &&
              machine.Open() == sim::OpenCounts{};
    }
  }
  if (!sound) std::printf("\nSome operation did not make six complete lookups.\n");
  return sound;
}

// Every seam call that one export over an earlier file and one import make, in the order of
// their first use, on a machine with one interface; false where either did not succeed.
bool SeamCallTable() {
  TempDir directory;
  std::ofstream(directory.path() / "ZOLTMgr").put('\x7f');
  CountingMachine(1, 1, directory.path());
  bool sound = ExportVolumeSettings(u"C:", u"bench.dat") == 0;
  std::vector<std::string> order;
  std::vector<std::array<int, 2>> counts;
  for (const std::size_t column : {0, 1}) {
    sim::Machine& machine = CountingMachine(1, 1, directory.path());
    sound = sound && (column == 0 ? ExportVolumeSettings(u"C:", u"bench.dat")
                                  : ImportVolumeSettings(u"C:", u"bench.dat")) == 0;
    for (const sim::CallRecord& call : machine.calls) {
      auto found = std::find(order.begin(), order.end(), call.call);
      if (found == order.end()) {
        order.push_back(call.call);
        counts.push_back({0, 0});
        found = order.end() - 1;
      }
      ++counts[static_cast<std::size_t>(found - order.begin())][column];
    }
  }
  std::printf("| call | export | import |\n|---|---|---|\n");
  for (std::size_t i = 0; i < order.size(); ++i) {
    std::printf("| %s | %d | %d |\n", order[i].c_str(), counts[i][0], counts[i][1]);
  }
  if (!sound) std::printf("\nThe export or the import failed.\n");
  return sound;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path program;
  fs::path exe;
  int runs = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--program") program = argv[i + 1];
    if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    if (option == "--exe") exe = argv[i + 1];
  }
  if (program.empty()) {
    std::fprintf(stderr, "usage: zoltmgr_bench --program PATH [--runs N] [--exe PATH]\n");
    return 2;
  }
  std::printf("### The Linux program, run as a process\n\n");
  bool sound = ProcessTable(fs::absolute(program), runs);
  std::printf("\n### Calls per operation on the simulated machine\n\n");
  sound = CallTable() && sound;
  std::printf("\n### Seam calls of one export over an earlier file, and of one import\n\n");
  sound = SeamCallTable() && sound;
  std::printf("\n### ZOLTMgr.exe\n\n");
  std::error_code error;
  if (!exe.empty() && fs::exists(exe, error)) {
    std::printf("%ju bytes (mingw-w64, C++ runtime linked statically)\n",
                static_cast<std::uintmax_t>(fs::file_size(exe)));
  } else {
    std::printf("not built\n");
  }
  return sound ? 0 : 1;
}
