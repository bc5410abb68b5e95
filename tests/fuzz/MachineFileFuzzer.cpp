// The fuzzer's bytes are a machine file for the Linux program.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/sim/MachineFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  sim::Machine machine = sim::DefaultMachine();
  if (const auto problem = sim::LoadMachine(text, machine)) {
    FUZZ_ASSERT(!problem->empty(), "a refused file is refused with a message");
    FUZZ_ASSERT(machine.SameConfiguration(sim::DefaultMachine()), "a refused file changes nothing");
    return 0;
  }
  const std::string saved = sim::SaveMachine(machine);
  sim::Machine again;
  FUZZ_ASSERT(!sim::LoadMachine(saved, again), "a saved machine loads");
  FUZZ_ASSERT(again.SameConfiguration(machine), "and is the same machine");
  FUZZ_ASSERT(sim::SaveMachine(again) == saved, "and saves to the same text");
  return 0;
}
