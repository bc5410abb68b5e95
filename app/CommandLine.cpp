#include "app/CommandLine.h"

#include <algorithm>
#include <string_view>

#include "app/AsciiCase.h"
#include "app/Kernel32Function.h"
#include "app/Output.h"
#include "app/SettingsTransfer.h"
#include "platform/Platform.h"

namespace {

constexpr const char16_t* kUsage[] = {
    u"\nZOLTMgr.exe Command Line Options:\n",
    u"\t-export export ZOLT volume settings to file\n",
    u"\t-import import ZOLT volume settings from file\n",
    u"\nExamples:\n",
    u"\tZOLTMgr.exe -export C: zolt_volume_c.dat\n",
    u"\tZOLTMgr.exe -import C: zolt_volume_c.dat\n",
};
constexpr char16_t kInvalidArguments[] = u"Syntax failure - Invalid arguments\n";
constexpr char16_t kInvalidVolume[] = u"Syntax failure - Invalid volume argument. Must be <X>:\n";

void PrintUsage() {
  for (const char16_t* line : kUsage) Print(line);
}

ParsedCommandLine SyntaxFailure(const char16_t* message) {
  Print(message);
  PrintUsage();
  return {std::nullopt, 1};
}

bool IsOption(std::u16string_view argument, std::u16string_view option) {
  return EqualsIgnoringAsciiCase(argument, option);
}

// Before anything can load a DLL: from now on none comes from the program's own folder, which
// others may be able to write to. Windows 7 without its update KB2533623 has no
// SetDefaultDllDirectories, and would refuse to start a program that imports it: there the
// program goes on without, as it does when the call fails. The DLLs that it imports are known
// DLLs, which Windows takes from System32 in any case.
void RestrictDllSearch() {
  using namespace platform;
  Procedure setDefaultDllDirectories = nullptr;
  if (FindKernel32Function("SetDefaultDllDirectories", &setDefaultDllDirectories)) return;
  static_cast<void>(SetDefaultDllDirectories(setDefaultDllDirectories, kLoadLibrarySearchSystem32));
}

}  // namespace

ParsedCommandLine ParseCommandLine(std::span<const std::u16string> arguments) {
  if (arguments.size() <= 1) {
    PrintUsage();
    return {std::nullopt, 1};
  }
  Operation operation;
  if (IsOption(arguments[1], u"-export")) {
    operation = Operation::Export;
  } else if (IsOption(arguments[1], u"-import")) {
    operation = Operation::Import;
  } else {
    // A lone unknown argument asks for the usage. With more after it, a command was meant and
    // mistyped: that must not look like success to whoever ran it.
    PrintUsage();
    return {std::nullopt, arguments.size() == 2 ? 0 : 1};
  }
  if (arguments.size() != 4) return SyntaxFailure(kInvalidArguments);
  const std::u16string& volume = arguments[2];
  if (volume.empty() || volume.back() != u':') return SyntaxFailure(kInvalidVolume);
  return {Command{operation, volume, arguments[3]}, 0};
}

int RunZOLTMgr(std::span<const std::u16string> arguments) {
  RestrictDllSearch();
  ParsedCommandLine parsed = ParseCommandLine(arguments);
  if (!parsed.command) return parsed.exitCode;
  Command& command = *parsed.command;
  return command.operation == Operation::Export
             ? ExportVolumeSettings(std::move(command.volume), std::move(command.file))
             : ImportVolumeSettings(std::move(command.volume), std::move(command.file));
}
