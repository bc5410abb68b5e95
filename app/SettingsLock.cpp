#include "app/SettingsLock.h"

using namespace platform;

namespace {

// Full access for the system account and the Administrators group, none for anyone else, and
// nothing inherited.
constexpr char16_t kSecurity[] = u"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr char16_t kNamespace[] = u"ZOLTMgr";
constexpr char16_t kPrivateName[] = u"ZOLTMgr\\VolumeSettings";
// In the Global\ namespace, so that runs in other sessions (a service, a remote shell, another
// user's console) see the same mutex.
constexpr char16_t kGlobalName[] = u"Global\\ZOLTMgr.VolumeSettings";
// Longer than any run takes at the registry, short enough that a stuck run shows as a failure.
constexpr std::uint32_t kWaitMilliseconds = 30000;

using UniqueLocalBlock = UniqueAny<void*, &LocalFree>;

}  // namespace

bool SettingsLock::Open() {
  UniqueLocalBlock security;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecurity, security.put())) {
    return false;
  }
  // Where private namespaces exist but fail, the name that anyone can take is no way out.
  const Status opened = namespace_.Open(kNamespace, security.get());
  if (opened != kErrorSuccess && opened != kErrorProcNotFound) return false;
  if (opened == kErrorSuccess) reach_ = namespace_.created() ? Reach::kCreated : Reach::kOpened;
  const char16_t* name = opened == kErrorSuccess ? kPrivateName : kGlobalName;
  return CreateMutexExW(security.get(), name, kSynchronize | kMutexModifyState, mutex_.put()) ==
         kErrorSuccess;
}

bool SettingsLock::Wait() {
  std::uint32_t event = kWaitTimeout;
  if (WaitForSingleObject(mutex_.get(), kWaitMilliseconds, &event) != kErrorSuccess) return false;
  if (event != kWaitObject0 && event != kWaitAbandoned) return false;
  hold_.reset(mutex_.get());
  return true;
}
