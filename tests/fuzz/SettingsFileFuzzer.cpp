// The fuzzer's bytes are a settings file that an import reads onto a volume with settings.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <vector>

#include "app/SettingsTransfer.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Platform.h"
#include "support/Files.h"

namespace {

const std::u16string kKey =
    u"System\\CurrentControlSet\\Services\\KvVolRedir\\Parameters\\{disk}#0000000000100000";

std::uint64_t Read(const std::uint8_t* data, std::size_t offset, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{data[offset + i]} << (8 * i);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform;
  sim::Machine& machine = FreshMachine();
  machine.drives = {sim::Drive{u"C:", 1, 0, 0}};
  machine.volumeInterfaces = {sim::VolumeInterface{
      u"\\\\?\\STORAGE#Volume#{disk}#0000000000100000#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}",
      u"STORAGE\\VOLUME\\{disk}#0000000000100000", 1, u"VOLMGR", 0, 0}};
  machine.registry.SetValue(kKey, u"Protected", kRegDword, LittleEndian(7, 4));
  machine.registry.SetValue(kKey, u"MaxCacheSize", kRegQword, LittleEndian(8, 8));
  machine.registry.SetValue(kKey, u"YellowLevel", kRegQword, LittleEndian(9, 8));
  machine.registry.SetValue(kKey, u"RedLevel", kRegQword, LittleEndian(10, 8));
  machine.registry.SetValue(kKey, u"GreenLevel", kRegQword, LittleEndian(11, 8));
  machine.registry.SetValue(kKey, u"ExclusionList", kRegMultiSz, {0x41, 0, 0, 0, 0, 0});
  const sim::Registry before = machine.registry;
  {
    std::ofstream file(ProgramDirectory() / "in.dat", std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  const int exitCode = ImportVolumeSettings(u"C:", u"in.dat");

  FUZZ_ASSERT(exitCode >= 0 && exitCode <= 4, "the exit code is one of the import's");
  AssertNothingOpen();
  if (exitCode >= 1 && exitCode <= 3) {
    FUZZ_ASSERT(machine.registry == before, "a file that was not read leaves the registry alone");
    FUZZ_ASSERT(machine.CallCount("RegCreateKeyExW") == 0, "nor opens any key");
  }
  if (exitCode == 2) FUZZ_ASSERT(size < 56, "only a short file fails the head");
  if (exitCode == 3) {
    FUZZ_ASSERT(size >= 56 && size - 56 < Read(data, 40, 4), "only a short list fails the list");
  }
  FUZZ_ASSERT(exitCode != 4, "the volume takes every complete file");
  if (exitCode == 0) {
    FUZZ_ASSERT(size >= 56, "a complete file has its head");
    const std::uint64_t listSize = Read(data, 40, 4);
    FUZZ_ASSERT(size - 56 >= listSize, "a complete file has its list");
    const auto value = [&](const char16_t* name) { return machine.registry.FindValue(kKey, name); };
    FUZZ_ASSERT(value(u"Protected")->data == LittleEndian(Read(data, 0, 4), 4),
                "Protected from the head");
    FUZZ_ASSERT(value(u"MaxCacheSize")->data == LittleEndian(Read(data, 8, 8), 8), "MaxCacheSize");
    FUZZ_ASSERT(value(u"YellowLevel")->data == LittleEndian(Read(data, 16, 8), 8), "YellowLevel");
    FUZZ_ASSERT(value(u"RedLevel")->data == LittleEndian(Read(data, 24, 8), 8), "RedLevel");
    FUZZ_ASSERT(value(u"GreenLevel")->data == LittleEndian(Read(data, 32, 8), 8), "GreenLevel");
    const sim::RegistryValue* list = value(u"ExclusionList");
    if (listSize == 0) {
      FUZZ_ASSERT(list == nullptr, "a list size of 0 removes the list");
    } else {
      FUZZ_ASSERT(list && list->type == kRegMultiSz &&
                      list->data == std::vector<std::uint8_t>(data + 56, data + 56 + listSize),
                  "the list is exactly the file's list bytes");
    }
    FUZZ_ASSERT(machine.registry.FindKey(kKey)->values.size() == (listSize == 0 ? 5u : 6u),
                "nothing else is written");
  }
  return 0;
}
