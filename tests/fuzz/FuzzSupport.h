#pragma once

// What every fuzz target shares: a fresh simulated machine for each input, whose program lives in
// a directory of the target's own, and the check that an operation left nothing open.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sim/Machine.h"
#include "support/TempDir.h"

// Stops the fuzzer with `what` when `condition` does not hold.
#define FUZZ_ASSERT(condition, what)                                         \
  do {                                                                       \
    if (!(condition)) {                                                      \
      std::fprintf(stderr, "invariant broken: %s (%s)\n", what, #condition); \
      std::abort();                                                          \
    }                                                                        \
  } while (false)

inline const std::filesystem::path& ProgramDirectory() {
  static const TempDir directory;
  static const bool made = [] {
    std::ofstream(directory.path() / "ZOLTMgr").put('\x7f');
    return true;
  }();
  static_cast<void>(made);
  return directory.path();
}

inline sim::Machine& FreshMachine() {
  sim::TheMachine() = sim::Machine{};
  sim::TheMachine().moduleFileName = (ProgramDirectory() / "ZOLTMgr").string();
  return sim::TheMachine();
}

inline void AssertNothingOpen() {
  const sim::Machine& machine = sim::TheMachine();
  FUZZ_ASSERT(machine.Open() == sim::OpenCounts{}, "everything opened is closed again");
  FUZZ_ASSERT(machine.badReleases == 0, "nothing is released that was not held");
}
