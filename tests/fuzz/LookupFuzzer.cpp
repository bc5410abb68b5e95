// Random machines through FindVolumeInstanceId, compared with a plain model of its rules: the
// first interface whose number and volume manager match the drive's wins; otherwise 2, or the
// status of the last candidate that could not be opened or asked.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Platform.h"
#include "volume/VolumeDevice.h"

namespace {

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

constexpr platform::Status kStatuses[] = {0, 0, 0, 0, 0, 1, 5, 21, 50, 1167};
const std::u16string kManagers[] = {u"VOLMGR", u"VOLMGR", u"DMIO", u""};

// A drive answers its own manager's name, or that of the first interface with its number.
std::u16string ManagerOf(const sim::Machine& machine, const sim::Drive& drive) {
  if (drive.volumeManagerName) return *drive.volumeManagerName;
  for (const sim::VolumeInterface& v : machine.volumeInterfaces) {
    if (v.volumeNumber == drive.volumeNumber) return v.volumeManagerName;
  }
  return u"";
}

struct Expected {
  platform::Status status;
  std::u16string instanceId;
};

Expected Model(const sim::Machine& machine, const std::u16string& drive) {
  const sim::Drive* found = nullptr;
  for (const sim::Drive& d : machine.drives) {
    if (d.name == drive) found = &d;
  }
  if (!found) return {platform::kErrorFileNotFound, u""};
  if (found->openError) return {found->openError, u""};
  if (found->queryError) return {found->queryError, u""};
  platform::Status status = platform::kErrorFileNotFound;
  for (const sim::VolumeInterface& v : machine.volumeInterfaces) {
    if (v.devicePath.size() > 259) {
      status = platform::kErrorInsufficientBuffer;
    } else if (v.openError) {
      status = v.openError;
    } else if (v.queryError) {
      status = v.queryError;
    } else if (v.volumeNumber != found->volumeNumber ||
               v.volumeManagerName != ManagerOf(machine, *found)) {
      status = platform::kErrorFileNotFound;
    } else {
      return {0, v.instanceId};
    }
  }
  return {status, u""};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  sim::Machine& machine = FreshMachine();
  const int drives = bytes.Next() % 4;
  for (int i = 0; i < drives; ++i) {
    machine.drives.push_back(sim::Drive{std::u16string{static_cast<char16_t>(u'C' + i), u':'},
                                        static_cast<std::uint32_t>(bytes.Next() % 6),
                                        kStatuses[bytes.Next() % 10],
                                        kStatuses[bytes.Next() % 10]});
    if (const std::uint8_t manager = bytes.Next() % 8; manager < 4) {
      machine.drives.back().volumeManagerName = kManagers[manager];
    }
  }
  const int interfaces = bytes.Next() % 9;
  for (int i = 0; i < interfaces; ++i) {
    const std::uint8_t shape = bytes.Next();
    // Now and then a device path too long to be opened.
    std::u16string path = u"\\\\?\\STORAGE#Volume#" +
                          std::u16string(shape % 16 == 0 ? 250 : 4, u'v') + u"#" +
                          std::u16string(1, static_cast<char16_t>(u'a' + i));
    machine.volumeInterfaces.push_back(sim::VolumeInterface{
        path, u"STORAGE\\VOLUME\\" + std::u16string(1, static_cast<char16_t>(u'a' + i)),
        static_cast<std::uint32_t>(bytes.Next() % 6), kManagers[bytes.Next() % 4],
        kStatuses[bytes.Next() % 10], kStatuses[bytes.Next() % 10]});
  }
  const std::u16string drive{static_cast<char16_t>(u'C' + bytes.Next() % 5), u':'};

  const Expected expected = Model(machine, drive);
  char16_t untouched = 0;
  char16_t* id = &untouched;
  const platform::Status status = FindVolumeInstanceId(drive.c_str(), &id);

  FUZZ_ASSERT(status == expected.status, "the lookup agrees with the model");
  FUZZ_ASSERT(machine.Open().handles == 0 && machine.Open().deviceSets == 0, "nothing left open");
  FUZZ_ASSERT(machine.peakHandles <= 1, "one device handle at a time");
  if (status == 0) {
    FUZZ_ASSERT(id != &untouched && std::u16string(id) == expected.instanceId, "the first match");
    FUZZ_ASSERT(machine.Open().heapBlocks == 1, "the ID is the one block left");
    platform::HeapFree(platform::GetProcessHeap(), 0, id);
  } else {
    FUZZ_ASSERT(id == &untouched, "a failure hands out nothing");
  }
  AssertNothingOpen();
  return 0;
}
