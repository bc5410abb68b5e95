// The lock across three runs, which only Windows can show: the namespace must outlive the run
// that created it while another holds it, so that a third run opens it, not a new one.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>

#include "app/PrivateNamespace.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

bool AppearsWithin(const std::filesystem::path& path, int milliseconds) {
  for (int waited = 0; waited < milliseconds && !std::filesystem::exists(path); waited += 20) {
    Sleep(20);
  }
  return std::filesystem::exists(path);
}

TEST(Win32LockTest, ARunArrivingAfterTheCreatorEndedWaitsForTheRunThatWaited) {
  PrivateNamespace probe;
  if (probe.Open(u"ZOLTMgr.LockTest", nullptr) == platform::kErrorProcNotFound) {
    GTEST_SKIP() << "this Windows has no private namespaces";
  }
  const char* holder = std::getenv("ZOLT_LOCK_HOLDER");
  ASSERT_NE(holder, nullptr);
  const std::filesystem::path program = HostPath(holder);
  const TempDir marks;
  const auto run = [&](const char16_t* name, const char16_t* milliseconds) {
    return std::async(std::launch::async, [&program, &marks, name, milliseconds] {
      return RunProcess(program, {marks.path().u16string(), name, milliseconds}).exitCode;
    });
  };
  auto creator = run(u"creator", u"1500");
  ASSERT_TRUE(AppearsWithin(marks.path() / "creator.acquired", 10000));
  auto waiter = run(u"waiter", u"3000");
  EXPECT_EQ(creator.get(), 0);
  ASSERT_TRUE(AppearsWithin(marks.path() / "waiter.acquired", 10000));
  // The waiter holds the lock for three seconds: the arrival must not have it meanwhile.
  auto arrival = run(u"arrival", u"0");
  EXPECT_FALSE(AppearsWithin(marks.path() / "arrival.acquired", 1500));
  EXPECT_EQ(waiter.get(), 0);
  EXPECT_EQ(arrival.get(), 0);
}

}  // namespace
