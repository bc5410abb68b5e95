// The Win32 seam and the lookup against Wine's own device and setup calls, as far as a stock
// prefix answers them: C: belongs to Wine's mount manager, which does not know the volume-number
// query, and no volume interface is registered.

#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"
#include "platform/Unique.h"
#include "volume/VolumeDevice.h"
#include "volume/ZOLTVolume.h"

namespace {

using namespace platform;

TEST(Win32DeviceTest, DriveOpensButDoesNotKnowTheVolumeNumberQuery) {
  UniqueHandle drive;
  ASSERT_EQ(OpenVolumeDevice(u"C:", drive.put()), kErrorSuccess);
  VolumeNumber answer{};
  std::uint32_t returned = 0;
  EXPECT_EQ(DeviceIoControl(drive.get(), kIoctlVolumeQueryVolumeNumber, &answer, sizeof(answer),
                            &returned),
            kErrorNotSupported);
}

TEST(Win32DeviceTest, UnknownDriveIsNotFound) {
  UniqueHandle drive;
  EXPECT_EQ(OpenVolumeDevice(u"Q:", drive.put()), kErrorFileNotFound);
  EXPECT_FALSE(drive);
}

TEST(Win32DeviceTest, TooLongPathIsRefusedBeforeTheOpen) {
  UniqueHandle device;
  const std::u16string path = u"\\\\.\\" + std::u16string(256, u'x');
  EXPECT_EQ(OpenVolumeDevice(path.c_str(), device.put()), kErrorInsufficientBuffer);
  EXPECT_FALSE(device);
}

TEST(Win32DeviceTest, VolumeInterfaceClassIsEmpty) {
  UniqueDevInfoSet set;
  ASSERT_EQ(SetupDiGetClassDevsW(&kGuidDevinterfaceVolume, kDigcfPresent | kDigcfDeviceInterface,
                                 set.put()),
            kErrorSuccess);
  DeviceInterfaceData data{};
  data.cbSize = kDeviceInterfaceDataSize;
  EXPECT_EQ(SetupDiEnumDeviceInterfaces(set.get(), &kGuidDevinterfaceVolume, 0, &data),
            kErrorNoMoreItems);
}

TEST(Win32DeviceTest, LookupPassesTheDriveStatusOn) {
  char16_t untouched = 0;
  char16_t* id = &untouched;
  EXPECT_EQ(FindVolumeInstanceId(u"C:", &id), kErrorNotSupported);
  EXPECT_EQ(FindVolumeInstanceId(u"Q:", &id), kErrorFileNotFound);
  EXPECT_EQ(id, &untouched);
  UniqueRegKey key;
  EXPECT_EQ(OpenVolumeSettingsKey(u"C:", key.put()), kErrorNotSupported);
  EXPECT_FALSE(key);
}

}  // namespace
