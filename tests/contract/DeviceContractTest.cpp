// What the lookup may and may not hand the device and setup calls, pinned down through the seam.
// The same cases run against the simulated machine and, under Wine, against its setupapi and the
// test-only volume driver: wherever the two differ, the simulation is wrong.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "contract/TestVolumes.h"
#include "platform/Platform.h"
#include "platform/Unique.h"
#include "support/Narrow.h"
#include "volume/VolumeDevice.h"

namespace {

using namespace platform;

class DeviceContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareTestVolumes();
    ASSERT_EQ(SetupDiGetClassDevsW(&kGuidDevinterfaceVolume, kDigcfPresent | kDigcfDeviceInterface,
                                   set_.put()),
              kErrorSuccess);
    // T:'s interface (Wine spells device paths in its own case), and its device record.
    const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; };
    interface_.cbSize = kDeviceInterfaceDataSize;
    for (std::uint32_t index = 0;; ++index) {
      ASSERT_EQ(
          SetupDiEnumDeviceInterfaces(set_.get(), &kGuidDevinterfaceVolume, index, &interface_),
          kErrorSuccess);
      std::vector<std::uint8_t> room(2048);
      auto* detail = reinterpret_cast<DeviceInterfaceDetailData*>(room.data());
      detail->cbSize = kDeviceInterfaceDetailDataSize;
      device_.cbSize = kDevInfoDataSize;
      ASSERT_EQ(SetupDiGetDeviceInterfaceDetailW(set_.get(), &interface_, detail, 2048, nullptr,
                                                 &device_),
                kErrorSuccess);
      if (std::ranges::equal(std::u16string_view(detail->DevicePath), kTestInterface, {}, upper,
                             upper)) {
        break;
      }
    }
  }

  // The status of a detail call with `size` bytes of room and the fixed part's cbSize `cbSize`.
  Status Detail(bool buffer, std::uint32_t size, std::uint32_t cbSize = 8,
                std::uint32_t* required = nullptr) {
    std::vector<std::uint8_t> room(4096);
    auto* detail = reinterpret_cast<DeviceInterfaceDetailData*>(room.data());
    detail->cbSize = cbSize;
    return SetupDiGetDeviceInterfaceDetailW(set_.get(), &interface_, buffer ? detail : nullptr,
                                            size, required, nullptr);
  }

  Status InstanceId(bool buffer, std::uint32_t size, std::uint32_t* required = nullptr) {
    std::vector<char16_t> room(512);
    return SetupDiGetDeviceInstanceIdW(set_.get(), &device_, buffer ? room.data() : nullptr, size,
                                       required);
  }

  UniqueDevInfoSet set_;
  DeviceInterfaceData interface_{};
  DevInfoData device_{};
};

TEST_F(DeviceContractTest, DetailSizes) {
  std::uint32_t required = 0;
  EXPECT_EQ(Detail(false, 0, 8, &required), kErrorInsufficientBuffer);
  EXPECT_EQ(required, 4 + 2 * (kTestInterface.size() + 1));
  EXPECT_EQ(Detail(false, required), kErrorInvalidUserBuffer);
  EXPECT_EQ(Detail(true, required - 2), kErrorInsufficientBuffer);
  // The fixed part's size of the 64-bit platform, 8; Wine also takes the 32-bit one, 6.
  EXPECT_EQ(Detail(true, required, 0), kErrorInvalidUserBuffer);
  EXPECT_EQ(Detail(true, required, 32), kErrorInvalidUserBuffer);
  EXPECT_EQ(Detail(true, 4), kErrorInsufficientBuffer);
  EXPECT_EQ(Detail(true, required), kErrorSuccess);
}

TEST_F(DeviceContractTest, InstanceIdSizes) {
  std::uint32_t required = 0;
  EXPECT_EQ(InstanceId(false, 0, &required), kErrorInsufficientBuffer);
  EXPECT_EQ(required, kTestInstanceId.size() + 1);
  // Not asked: room without a buffer, which Wine's setupapi writes through.
  EXPECT_EQ(InstanceId(true, required - 1), kErrorInsufficientBuffer);
  EXPECT_EQ(InstanceId(true, required), kErrorSuccess);
  device_.cbSize = 28;
  EXPECT_EQ(InstanceId(true, required), kErrorInvalidParameter);
}

TEST_F(DeviceContractTest, RecordSizes) {
  DeviceInterfaceData wrong{};
  wrong.cbSize = 28;
  EXPECT_EQ(SetupDiEnumDeviceInterfaces(set_.get(), &kGuidDevinterfaceVolume, 0, &wrong),
            kErrorInvalidParameter);
  // A device record of the wrong size is not filled, and then refused.
  DevInfoData device{};
  device.cbSize = 28;
  std::vector<std::uint8_t> room(4096);
  auto* detail = reinterpret_cast<DeviceInterfaceDetailData*>(room.data());
  detail->cbSize = kDeviceInterfaceDetailDataSize;
  std::uint32_t required = 0;
  EXPECT_EQ(
      SetupDiGetDeviceInterfaceDetailW(set_.get(), &interface_, nullptr, 0, &required, &device),
      kErrorInsufficientBuffer);
  EXPECT_EQ(
      SetupDiGetDeviceInterfaceDetailW(set_.get(), &interface_, detail, 4096, nullptr, &device),
      kErrorSuccess);
  EXPECT_EQ(SetupDiGetDeviceInstanceIdW(set_.get(), &device, nullptr, 0, &required),
            kErrorInvalidParameter);
  interface_.cbSize = 28;
  EXPECT_EQ(Detail(false, 0), kErrorInvalidParameter);
}

TEST_F(DeviceContractTest, VolumeNumberQuery) {
  UniqueHandle device;
  ASSERT_EQ(OpenVolumeDevice(kTestDrive.c_str(), device.put()), kErrorSuccess);
  VolumeNumber answer{};
  std::uint32_t returned = 0;
  EXPECT_EQ(DeviceIoControl(device.get(), kIoctlVolumeQueryVolumeNumber, &answer, 19, &returned),
            kErrorInsufficientBuffer);
  EXPECT_EQ(DeviceIoControl(device.get(), kIoctlVolumeQueryVolumeNumber + 4, &answer,
                            sizeof(answer), &returned),
            kErrorInvalidFunction);
  EXPECT_EQ(DeviceIoControl(device.get(), kIoctlVolumeQueryVolumeNumber, nullptr, sizeof(answer),
                            &returned),
            kErrorInvalidUserBuffer);
  ASSERT_EQ(DeviceIoControl(device.get(), kIoctlVolumeQueryVolumeNumber, &answer, sizeof(answer),
                            &returned),
            kErrorSuccess);
  EXPECT_EQ(answer.VolumeNumber, 11u);
  EXPECT_EQ(Narrow(std::u16string_view(answer.VolumeManagerName, 8)), "VOLMGR  ");
}

}  // namespace
