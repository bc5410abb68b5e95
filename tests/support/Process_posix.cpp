#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/sim/Text.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"

const char* const kNewline = "\n";

ProcessResult RunProcess(const std::filesystem::path& program,
                         const std::vector<std::u16string>& arguments) {
  TempDir scratch;
  const std::string out = (scratch.path() / "out").string();
  const std::string err = (scratch.path() / "err").string();
  // ZOLTMGR_RUNNER, when set, is a command that runs the program, such as valgrind with its
  // options, separated by spaces.
  std::vector<std::string> texts;
  if (const char* runner = std::getenv("ZOLTMGR_RUNNER")) {
    std::istringstream words(runner);
    for (std::string word; words >> word;) texts.push_back(word);
  }
  texts.push_back(program.string());
  for (const std::u16string& argument : arguments) texts.push_back(sim::ToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int inFd = open("/dev/null", O_RDONLY);
    if (outFd < 0 || errFd < 0 || inFd < 0) _exit(126);
    dup2(inFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  ProcessResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  result.output = ReadText(out);
  result.errors = ReadText(err);
  return result;
}

std::string WithNewlines(const std::string& text) { return text; }

std::filesystem::path HostPath(const std::string& path) { return path; }

std::filesystem::path ProgramUnderTest() {
  const char* path = std::getenv("ZOLTMGR");
  return path ? path : "";
}

std::filesystem::path CopyProgramTo(const std::filesystem::path& directory) {
  const std::filesystem::path program = ProgramUnderTest();
  const std::filesystem::path copy = directory / program.filename();
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}
