// The simulated seam: the console and the C runtime's print to standard output.

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"

namespace platform {

using namespace seam;

namespace {

// The process's standard output, which no CloseHandle may close.
const Handle kStandardOutput = reinterpret_cast<Handle>(std::uintptr_t{0x5d0});

void Show(std::u16string_view text) {
  Machine& machine = TheMachine();
  machine.console += text;
  if (machine.echoConsole) {
    const std::string utf8 = sim::ToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  }
}

}  // namespace

Status GetStdHandle(std::uint32_t stdHandle, Handle* handle) {
  if (Status status = TheMachine().Enter("GetStdHandle", u"", {stdHandle})) return status;
  if (stdHandle != kStdOutputHandle) return kErrorInvalidHandle;
  *handle = kStandardOutput;
  return kErrorSuccess;
}

Status GetConsoleMode(Handle console, std::uint32_t* mode) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("GetConsoleMode", u"")) return status;
  if (console != kStandardOutput || !machine.consoleOutput) return kErrorInvalidHandle;
  *mode = 0x3;  // ENABLE_PROCESSED_OUTPUT, ENABLE_WRAP_AT_EOL_OUTPUT
  return kErrorSuccess;
}

Status WriteConsoleW(Handle console, const char16_t* text, std::uint32_t length,
                     std::uint32_t* written) {
  Machine& machine = TheMachine();
  *written = 0;
  std::uint32_t limit = length;
  if (Status status = machine.Enter("WriteConsoleW", u"", {length}, &limit)) return status;
  if (console != kStandardOutput || !machine.consoleOutput) return kErrorInvalidHandle;
  *written = std::min(length, limit);
  Show(std::u16string_view(text, *written));
  return kErrorSuccess;
}

// A print that fails writes nothing of its line.
void WPrintF(const char16_t* format, const char16_t* argument) {
  if (TheMachine().Enter("wprintf", u"")) return;
  std::u16string text(format);
  const std::u16string_view replacement = argument ? argument : u"(null)";
  for (std::size_t at = text.find(u"%s"); at != std::u16string::npos;
       at = text.find(u"%s", at + replacement.size())) {
    text.replace(at, 2, replacement);
  }
  Show(text);
}

}  // namespace platform
