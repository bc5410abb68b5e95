#include "app/SettingsLock.h"

using namespace platform;

namespace {

// In the Global\ namespace, so that runs in other sessions (a service, a remote shell, another
// user's console) see the same mutex.
constexpr char16_t kMutexName[] = u"Global\\ZOLTMgr.VolumeSettings";
// Longer than any run takes at the registry, short enough that a stuck run shows as a failure.
constexpr std::uint32_t kWaitMilliseconds = 30000;

}  // namespace

bool SettingsLock::Acquire() {
  if (CreateMutexW(kMutexName, mutex_.put()) != kErrorSuccess) return false;
  std::uint32_t event = kWaitTimeout;
  if (WaitForSingleObject(mutex_.get(), kWaitMilliseconds, &event) != kErrorSuccess) return false;
  if (event != kWaitObject0 && event != kWaitAbandoned) return false;
  hold_.reset(mutex_.get());
  return true;
}
