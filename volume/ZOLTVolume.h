#pragma once

// The write filter's registry store for one volume: six values in a settings key of its own,
// named after the volume's device instance ID. Every value access looks the volume up afresh and
// opens the key for that one access; nothing is kept between accesses.

#include <string>

#include "platform/Platform.h"
#include "settings/VolumeSettings.h"

// Finds the volume's instance ID and opens (creating when missing, with every key above it)
// HKLM\System\CurrentControlSet\Services\KvVolRedir\Parameters\<ID from its 16th character>.
// On 0 the caller owns *key; on failure *key is not written.
platform::Status OpenVolumeSettingsKey(const char16_t* volume, platform::RegKey* key);

class ZOLTVolume {
 public:
  // Keeps a copy of the drive argument; no I/O happens until a value is accessed.
  explicit ZOLTVolume(std::u16string volumeName);
  virtual ~ZOLTVolume();

  // Reads the six values into `settings`, which must hold no list buffer yet. The 8192-byte list
  // buffer is attached before the list is read and stays with the record whatever the answer.
  // True only when every value was read and had its type and size; an absent list reads as an
  // empty one.
  bool GetSettings(VolumeSettings& settings) const;

  // Writes the five numbers, then the list, or deletes the list value when ExclusionListSize is
  // 0 (a list that is already absent is fine). Stops at the first refusal; nothing is undone.
  bool SetSettings(const VolumeSettings& settings) const;

 private:
  // One value into `destination`; `absent` (when given) tells whether the value does not exist.
  platform::Status ReadValue(const char16_t* name, std::uint32_t type, void* destination,
                             std::uint32_t room, std::uint32_t* size, bool* absent) const;
  platform::Status WriteValue(const char16_t* name, std::uint32_t type, const void* source,
                              std::uint32_t size) const;
  platform::Status DeleteValueIfPresent(const char16_t* name) const;

  const std::u16string volumeName_;
};
