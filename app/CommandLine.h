#pragma once

// The program entry behind the platform's own main: checks the arguments in their fixed order,
// prints the usage text or a syntax message, and runs the operation of a valid command.

#include <optional>
#include <span>
#include <string>

enum class Operation { Export, Import };

struct Command {
  Operation operation;
  std::u16string volume;  // the drive argument, exactly as typed
  std::u16string file;    // the file-name argument, exactly as typed
};

// Either a valid command, or the exit code of a command line that ends before any operation
// (after the usage text, and a syntax message where one applies, have been printed).
struct ParsedCommandLine {
  std::optional<Command> command;
  int exitCode = 0;
};

// `arguments` includes the program's own name, as the C runtime splits it.
ParsedCommandLine ParseCommandLine(std::span<const std::u16string> arguments);

// Parses the arguments and runs the command; the result is the process exit code.
int RunZOLTMgr(std::span<const std::u16string> arguments);
