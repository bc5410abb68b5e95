#pragma once

// Runs a program as a process of its own, the way an administrator's command prompt would, and
// collects the exact bytes it wrote to standard output (through a file, never a pipe).

#include <filesystem>
#include <string>
#include <vector>

struct ProcessResult {
  int exitCode = -1;
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error
};

// `arguments` follow the program's name; each reaches the program as one argument, as typed.
ProcessResult RunProcess(const std::filesystem::path& program,
                         const std::vector<std::u16string>& arguments);

// The program that the build made, named by the ZOLTMGR environment variable that the test
// runner sets (a Linux path, which Windows test programs under Wine reach through drive Z:).
std::filesystem::path ProgramUnderTest();

// A path of the build machine (Linux) as this test program reaches it: unchanged on Linux,
// through drive Z: under Wine.
std::filesystem::path HostPath(const std::string& path);

// A copy of the program under test in `directory`, which becomes its program directory.
std::filesystem::path CopyProgramTo(const std::filesystem::path& directory);

// How a line feed that the program prints reaches a file: "\n" on Linux, "\r\n" on Windows,
// whose C runtime writes standard output in text mode.
extern const char* const kNewline;

// Every "\n" of `text` as the program's platform writes it.
std::string WithNewlines(const std::string& text);
