#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"

const char* const kNewline = "\r\n";

namespace {

// Quotes an argument so that the C runtime splits it back into exactly this argument.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

HANDLE Inheritable(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES security{sizeof(security), nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program,
                         const std::vector<std::u16string>& arguments) {
  TempDir scratch;
  std::wstring commandLine = Quote(program.wstring());
  for (const std::u16string& argument : arguments) {
    commandLine += L" " + Quote(std::wstring(argument.begin(), argument.end()));
  }
  ProcessResult result;
  HANDLE out = Inheritable(scratch.path() / "out", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = Inheritable(scratch.path() / "err", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE in = Inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  result.output = ReadText(scratch.path() / "out");
  result.errors = ReadText(scratch.path() / "err");
  return result;
}

std::string WithNewlines(const std::string& text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

std::filesystem::path HostPath(const std::string& path) {
  std::string windows = path.starts_with('/') ? "Z:" + path : path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::filesystem::path ProgramUnderTest() {
  const char* path = std::getenv("ZOLTMGR");
  return path ? HostPath(path) : std::filesystem::path();
}

std::filesystem::path CopyProgramTo(const std::filesystem::path& directory) {
  const std::filesystem::path program = ProgramUnderTest();
  const std::filesystem::path copy = directory / program.filename();
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}
