#pragma once

// The simulated machine as a JSON file, so that it lasts from one run of the Linux program to
// the next, and the machine that stands in when there is no such file.

#include <optional>
#include <string>
#include <string_view>

#include "platform/sim/Machine.h"

namespace sim {

// Fills the configuration of `machine` (drives, interfaces, registry, faults) from `text`.
// Answers the problem when the text breaks the format's rules; `machine` is then unchanged.
std::optional<std::string> LoadMachine(std::string_view text, Machine& machine);

// The configuration of `machine` in the same format.
std::string SaveMachine(const Machine& machine);

// Drives C: and D:, three volume interfaces, and settings for C: alone.
Machine DefaultMachine();

}  // namespace sim
