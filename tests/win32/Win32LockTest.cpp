// The lock across three runs, which only Windows can show: the namespace must outlive the run
// that created it while another holds it, so that a third run opens it, not a new one. Each run
// says whether it made the namespace or opened it.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

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
  const auto run = [&](std::u16string name, std::u16string milliseconds,
                       std::u16string awaited = u"") {
    std::vector<std::u16string> arguments{marks.path().u16string(), name, milliseconds};
    if (!awaited.empty()) arguments.push_back(awaited);
    return std::async(std::launch::async,
                      [&program, arguments] { return RunProcess(program, arguments).exitCode; });
  };
  const auto reach = [&](const char* name) {
    std::ifstream file(marks.path() / (std::string(name) + ".reach"));
    std::string word;
    file >> word;
    return word;
  };
  // The creator holds the lock until the waiter has opened the namespace, and then ends.
  auto creator = run(u"creator", u"0", u"waiter.reach");
  ASSERT_TRUE(AppearsWithin(marks.path() / "creator.acquired", 10000));
  auto waiter = run(u"waiter", u"3000");
  EXPECT_EQ(creator.get(), 0);
  ASSERT_TRUE(AppearsWithin(marks.path() / "waiter.acquired", 10000));
  // The waiter holds the lock for three seconds: the arrival must not have it meanwhile, and
  // must have opened the namespace that the waiter holds, not made one of its own.
  auto arrival = run(u"arrival", u"0");
  EXPECT_FALSE(AppearsWithin(marks.path() / "arrival.acquired", 1500));
  EXPECT_EQ(waiter.get(), 0);
  EXPECT_EQ(arrival.get(), 0);
  EXPECT_EQ(reach("creator"), "created");
  EXPECT_EQ(reach("waiter"), "opened");
  EXPECT_EQ(reach("arrival"), "opened");
}

}  // namespace
