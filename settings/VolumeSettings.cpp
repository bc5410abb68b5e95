#include "settings/VolumeSettings.h"

#include <algorithm>
#include <new>

#include "settings/LittleEndian.h"

namespace {

constexpr std::size_t kProtectedOffset = 0;
constexpr std::size_t kMaxCacheSizeOffset = 8;
constexpr std::size_t kYellowLevelOffset = 16;
constexpr std::size_t kRedLevelOffset = 24;
constexpr std::size_t kGreenLevelOffset = 32;
constexpr std::size_t kExclusionListSizeOffset = 40;

}  // namespace

ListBuffer NewListBuffer(std::size_t size) {
  constexpr std::size_t kGuard = 2;
  ListBuffer buffer(new (std::nothrow) std::uint8_t[size + kGuard]);
  if (buffer) std::fill_n(buffer.get() + size, kGuard, std::uint8_t{0xFF});
  return buffer;
}

SettingsHead EncodeSettingsHead(const VolumeSettings& settings) {
  SettingsHead head{};
  StoreLittleEndian(head.data() + kProtectedOffset, settings.Protected);
  StoreLittleEndian(head.data() + kMaxCacheSizeOffset, settings.MaxCacheSize);
  StoreLittleEndian(head.data() + kYellowLevelOffset, settings.YellowLevel);
  StoreLittleEndian(head.data() + kRedLevelOffset, settings.RedLevel);
  StoreLittleEndian(head.data() + kGreenLevelOffset, settings.GreenLevel);
  StoreLittleEndian(head.data() + kExclusionListSizeOffset, settings.ExclusionListSize);
  return head;
}

void DecodeSettingsHead(const SettingsHead& head, VolumeSettings& settings) {
  settings.Protected = LoadLittleEndian<std::uint32_t>(head.data() + kProtectedOffset);
  settings.MaxCacheSize = LoadLittleEndian<std::uint64_t>(head.data() + kMaxCacheSizeOffset);
  settings.YellowLevel = LoadLittleEndian<std::uint64_t>(head.data() + kYellowLevelOffset);
  settings.RedLevel = LoadLittleEndian<std::uint64_t>(head.data() + kRedLevelOffset);
  settings.GreenLevel = LoadLittleEndian<std::uint64_t>(head.data() + kGreenLevelOffset);
  settings.ExclusionListSize =
      LoadLittleEndian<std::uint32_t>(head.data() + kExclusionListSizeOffset);
}
