#pragma once

// Runs of ZOLTMgr take turns. Each holds one mutex, shared by every process of the machine
// (every session included), while it writes a volume's six values (import), or reads them and
// puts its file in place (export), so that two runs at once never mix two settings files in one
// volume, an export never writes a file that mixes the values of before and after an import,
// and of two exports to one file the later read stays.
//
// The mutex lies in a private namespace that only administrators can create, so that no other
// user can take its name first and keep every run out. Where Windows has no private namespaces
// (Wine has none either), it is "Global\ZOLTMgr.VolumeSettings". Either way only the system
// account and the Administrators group have any access to it, and each run asks only for what
// waiting and releasing need, so that a run under the system account and an administrator's
// run wait for each other whichever came first.

#include "app/PrivateNamespace.h"
#include "platform/Platform.h"
#include "platform/Unique.h"

class SettingsLock {
 public:
  SettingsLock() = default;
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

  // Waits at most 30 seconds for the other runs. True once the lock is held, also when a run
  // ended without letting it go (its values may be half written, as they would be without the
  // lock; the next run's values replace them). False when the mutex cannot be had at all, or
  // the wait fails or times out.
  bool Acquire() { return Open() && Wait(); }

  // The two halves of Acquire: the namespace and the mutex made or opened, then the wait.
  bool Open();
  bool Wait();

  // How Open reached the namespace: made it, opened the one that another run holds, or found no
  // private namespaces on this Windows. Whether runs share one namespace shows only here.
  enum class Reach { kNone, kCreated, kOpened };
  Reach reach() const { return reach_; }

 private:
  // Let go in the reverse order: the hold, the mutex, then the namespace that names it.
  PrivateNamespace namespace_;
  UniqueHandle mutex_;
  UniqueMutexHold hold_;
  Reach reach_ = Reach::kNone;
};
