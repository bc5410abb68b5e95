// The fuzzer's bytes are an argument vector: UTF-16 code units, the arguments separated by
// U+0000 (which no real argument holds). The program runs on a machine with no volumes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "fuzz/FuzzSupport.h"
#include "support/Usage.h"

namespace {

const std::u16string& kUsage = kUsageText;

// The rules, as plainly as they can be written.
bool Is(const std::u16string& argument, const std::u16string& option) {
  if (argument.size() != option.size()) return false;
  for (std::size_t i = 0; i < option.size(); ++i) {
    char16_t c = argument[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != option[i]) return false;
  }
  return true;
}

// Printed into a file: every character above U+00FF, a surrogate pair counting as one, is a "?".
std::u16string Line(std::u16string format, const std::u16string& file) {
  std::u16string narrow;
  for (std::size_t i = 0; i < file.size(); ++i) {
    const bool pair = file[i] >= 0xD800 && file[i] <= 0xDBFF && i + 1 < file.size() &&
                      file[i + 1] >= 0xDC00 && file[i + 1] <= 0xDFFF;
    narrow += file[i] > 0xFF ? u'?' : file[i];
    if (pair) ++i;
  }
  const std::size_t at = format.find(u"%s");
  if (at != std::u16string::npos) format.replace(at, 2, narrow);
  return format;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::u16string> arguments{u"ZOLTMgr.exe"};
  if (size >= 2) arguments.emplace_back();
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += unit;
    }
  }
  sim::Machine& machine = FreshMachine();

  const int exitCode = RunZOLTMgr(arguments);
  const std::u16string& printed = machine.console;
  AssertNothingOpen();

  if (arguments.size() == 1) {
    FUZZ_ASSERT(printed == kUsage && exitCode == 1, "no argument: the usage text, 1");
    return 0;
  }
  const bool isExport = Is(arguments[1], u"-export");
  const bool isImport = Is(arguments[1], u"-import");
  if (!isExport && !isImport) {
    // Alone it asks for the usage; with more after it, a command was mistyped.
    FUZZ_ASSERT(printed == kUsage && exitCode == (arguments.size() == 2 ? 0 : 1),
                "no option: the usage text, 0 alone and 1 with more");
  } else if (arguments.size() != 4) {
    FUZZ_ASSERT(printed == u"Syntax failure - Invalid arguments\n" + kUsage && exitCode == 1,
                "wrong count: its message, the usage text, 1");
  } else if (arguments[2].empty() || arguments[2].back() != u':') {
    FUZZ_ASSERT(printed == u"Syntax failure - Invalid volume argument. Must be <X>:\n" + kUsage &&
                    exitCode == 1,
                "bad drive: its message, the usage text, 1");
  } else if (isExport) {
    // No volume answers, so the export never gets past the registry.
    FUZZ_ASSERT(printed == u"Get volume settings fail!\n" && exitCode == 1, "export: one line");
  } else {
    const std::u16string& file = arguments[3];
    const bool known =
        (exitCode == 1 &&
         printed == Line(u"Open imported volume settings %s file fail!\n", file)) ||
        ((exitCode == 2 || exitCode == 3) &&
         printed == Line(u"Read imported volume settings %s fail!\n", file)) ||
        (exitCode == 4 && printed == Line(u"Import volume settings %s fail!\n", file));
    FUZZ_ASSERT(known, "import: one line of its own, with its exit code");
  }
  return 0;
}
