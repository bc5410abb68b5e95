#pragma once

// Each test runs on a fresh simulated machine, in a program directory of its own, and ends by
// checking that whatever the code under test opened or allocated was released again.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "support/Files.h"
#include "support/TempDir.h"

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::TheMachine() = sim::Machine{};
    // The program's directory holds the program, as the real one does.
    const std::filesystem::path program = programDir_.path() / "ZOLTMgr";
    std::ofstream(program).put('\x7f');
    machine().moduleFileName = program.string();
  }
  void TearDown() override { ExpectNothingOpen(); }

  static sim::Machine& machine() { return sim::TheMachine(); }

  // The index in the call log of the last call of `call`, or the log's size when none was made.
  static std::size_t LastCall(std::string_view call) {
    const auto& calls = machine().calls;
    for (std::size_t i = calls.size(); i-- > 0;) {
      if (calls[i].call == call) return i;
    }
    return calls.size();
  }
  const std::filesystem::path& programDir() const { return programDir_.path(); }

  static void ExpectNothingOpen() {
    EXPECT_EQ(machine().Open(), sim::OpenCounts{});
    EXPECT_EQ(machine().badReleases, 0);
  }

 private:
  TempDir programDir_;
};

inline void PrintTo(const sim::OpenCounts& counts, std::ostream* out) {
  *out << "{handles " << counts.handles << ", device sets " << counts.deviceSets << ", keys "
       << counts.keys << ", heap blocks " << counts.heapBlocks << ", owned mutexes "
       << counts.ownedMutexes << ", local blocks " << counts.localBlocks << ", boundaries "
       << counts.boundaryDescriptors << ", namespaces " << counts.privateNamespaces << "}";
}

// Test data helpers.
inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

// The settings key of a volume whose instance ID is STORAGE\VOLUME\<name>.
inline std::u16string SettingsKey(const std::u16string& name) {
  return u"System\\CurrentControlSet\\Services\\KvVolRedir\\Parameters\\" + name;
}

// A volume interface with the usual shape of device path and instance ID.
inline sim::VolumeInterface Volume(const std::u16string& name, std::uint32_t number) {
  return sim::VolumeInterface{
      u"\\\\?\\STORAGE#Volume#" + name + u"#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}",
      u"STORAGE\\VOLUME\\" + name,
      number,
      u"VOLMGR",
      0,
      0};
}

// Writes all six values of a volume's settings key.
inline void SetSettingsValues(sim::Machine& machine, const std::u16string& key,
                              std::uint32_t protect, std::uint64_t maxCache, std::uint64_t yellow,
                              std::uint64_t red, std::uint64_t green,
                              std::vector<std::uint8_t> list) {
  using namespace platform;
  machine.registry.SetValue(key, u"Protected", kRegDword, LittleEndian(protect, 4));
  machine.registry.SetValue(key, u"MaxCacheSize", kRegQword, LittleEndian(maxCache, 8));
  machine.registry.SetValue(key, u"YellowLevel", kRegQword, LittleEndian(yellow, 8));
  machine.registry.SetValue(key, u"RedLevel", kRegQword, LittleEndian(red, 8));
  machine.registry.SetValue(key, u"GreenLevel", kRegQword, LittleEndian(green, 8));
  machine.registry.SetValue(key, u"ExclusionList", kRegMultiSz, std::move(list));
}

struct SystemCase {
  std::string name;
  sim::Windows windows;
  sim::FileSystem fileSystem;
};

// Every Windows on every file system that it has, named "Windows10_1607OnNTFS" and so on.
inline std::vector<SystemCase> EverySystem() {
  std::vector<SystemCase> cases;
  for (const auto& [windows, fileSystem] : sim::EveryPair()) {
    std::string name =
        "Windows" + std::string(sim::NameOf(windows)) + "On" + std::string(sim::NameOf(fileSystem));
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    cases.push_back({name, windows, fileSystem});
  }
  return cases;
}
