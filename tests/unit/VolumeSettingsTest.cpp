#include "settings/VolumeSettings.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>

#include "unit/SimTest.h"

namespace {

TEST(VolumeSettingsTest, RecordHasTheNaturalLayoutOfItsHead) {
  static_assert(std::is_standard_layout_v<VolumeSettings>);
  EXPECT_EQ(sizeof(VolumeSettings), 56u);
  EXPECT_EQ(offsetof(VolumeSettings, Protected), 0u);
  EXPECT_EQ(offsetof(VolumeSettings, MaxCacheSize), 8u);
  EXPECT_EQ(offsetof(VolumeSettings, YellowLevel), 16u);
  EXPECT_EQ(offsetof(VolumeSettings, RedLevel), 24u);
  EXPECT_EQ(offsetof(VolumeSettings, GreenLevel), 32u);
  EXPECT_EQ(offsetof(VolumeSettings, ExclusionListSize), 40u);
  EXPECT_EQ(offsetof(VolumeSettings, ExclusionList), 48u);
}

TEST(VolumeSettingsTest, FreshRecordIsZero) {
  const VolumeSettings settings;
  EXPECT_EQ(settings.Protected, 0u);
  EXPECT_EQ(settings.MaxCacheSize, 0u);
  EXPECT_EQ(settings.YellowLevel, 0u);
  EXPECT_EQ(settings.RedLevel, 0u);
  EXPECT_EQ(settings.GreenLevel, 0u);
  EXPECT_EQ(settings.ExclusionListSize, 0u);
  EXPECT_FALSE(settings.ExclusionList);
  EXPECT_EQ(EncodeSettingsHead(settings), SettingsHead{});
}

TEST(VolumeSettingsTest, ProtectedOnlyHead) {
  VolumeSettings settings;
  settings.Protected = 1;
  settings.ExclusionList.reset(new std::uint8_t[8192]);
  SettingsHead expected{};
  expected[0] = 1;
  // The list reference is written as zeros even while a buffer is attached.
  EXPECT_EQ(EncodeSettingsHead(settings), expected);
}

TEST(VolumeSettingsTest, FullHeadIsLittleEndianAtItsOffsets) {
  VolumeSettings settings;
  settings.Protected = 1;
  settings.MaxCacheSize = 0x0102030405060708;
  settings.YellowLevel = 16;
  settings.RedLevel = 32;
  settings.GreenLevel = 48;
  settings.ExclusionListSize = 12;
  const std::vector<std::uint8_t> expected = Bytes(
      {0x01, 0, 0,    0, 0, 0,    0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x10, 0, 0,
       0,    0, 0,    0, 0, 0x20, 0, 0, 0,    0,    0,    0,    0,    0x30, 0,    0,    0,    0, 0,
       0,    0, 0x0C, 0, 0, 0,    0, 0, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0});
  const SettingsHead head = EncodeSettingsHead(settings);
  EXPECT_EQ(std::vector<std::uint8_t>(head.begin(), head.end()), expected);

  VolumeSettings decoded;
  DecodeSettingsHead(head, decoded);
  EXPECT_EQ(decoded.Protected, 1u);
  EXPECT_EQ(decoded.MaxCacheSize, 0x0102030405060708u);
  EXPECT_EQ(decoded.YellowLevel, 16u);
  EXPECT_EQ(decoded.RedLevel, 32u);
  EXPECT_EQ(decoded.GreenLevel, 48u);
  EXPECT_EQ(decoded.ExclusionListSize, 12u);
}

TEST(VolumeSettingsTest, DecodingIgnoresReservedBytesAndListReference) {
  SettingsHead head{};
  for (std::size_t i = 0; i < head.size(); ++i) head[i] = static_cast<std::uint8_t>(0xA0 + i);
  SettingsHead clean = head;
  for (std::size_t i : {4, 5, 6, 7, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55}) clean[i] = 0;

  VolumeSettings noisy;
  VolumeSettings plain;
  DecodeSettingsHead(head, noisy);
  DecodeSettingsHead(clean, plain);
  EXPECT_EQ(EncodeSettingsHead(noisy), clean);
  EXPECT_EQ(EncodeSettingsHead(plain), clean);
  EXPECT_EQ(noisy.ExclusionListSize, 0xCBCAC9C8u);
  EXPECT_FALSE(noisy.ExclusionList);
}

}  // namespace
