#include "settings/VolumeSettings.h"

#include <algorithm>
#include <new>

namespace {

constexpr std::size_t kProtectedOffset = 0;
constexpr std::size_t kMaxCacheSizeOffset = 8;
constexpr std::size_t kYellowLevelOffset = 16;
constexpr std::size_t kRedLevelOffset = 24;
constexpr std::size_t kGreenLevelOffset = 32;
constexpr std::size_t kExclusionListSizeOffset = 40;

template <typename T>
void Store(SettingsHead& head, std::size_t offset, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    head[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

template <typename T>
T Load(const SettingsHead& head, std::size_t offset) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value |= static_cast<T>(head[offset + i]) << (8 * i);
  }
  return value;
}

}  // namespace

ListBuffer NewListBuffer(std::size_t size) {
  constexpr std::size_t kGuard = 2;
  ListBuffer buffer(new (std::nothrow) std::uint8_t[size + kGuard]);
  if (buffer) std::fill_n(buffer.get() + size, kGuard, std::uint8_t{0xFF});
  return buffer;
}

SettingsHead EncodeSettingsHead(const VolumeSettings& settings) {
  SettingsHead head{};
  Store(head, kProtectedOffset, settings.Protected);
  Store(head, kMaxCacheSizeOffset, settings.MaxCacheSize);
  Store(head, kYellowLevelOffset, settings.YellowLevel);
  Store(head, kRedLevelOffset, settings.RedLevel);
  Store(head, kGreenLevelOffset, settings.GreenLevel);
  Store(head, kExclusionListSizeOffset, settings.ExclusionListSize);
  return head;
}

void DecodeSettingsHead(const SettingsHead& head, VolumeSettings& settings) {
  settings.Protected = Load<std::uint32_t>(head, kProtectedOffset);
  settings.MaxCacheSize = Load<std::uint64_t>(head, kMaxCacheSizeOffset);
  settings.YellowLevel = Load<std::uint64_t>(head, kYellowLevelOffset);
  settings.RedLevel = Load<std::uint64_t>(head, kRedLevelOffset);
  settings.GreenLevel = Load<std::uint64_t>(head, kGreenLevelOffset);
  settings.ExclusionListSize = Load<std::uint32_t>(head, kExclusionListSizeOffset);
}
