#pragma once

// Runs of ZOLTMgr take turns at the registry. Each holds one mutex, shared by every process of
// the machine (every session included), while it reads or writes a volume's six values, so
// that two runs at once never mix two settings files in one volume, and an export never writes
// a file that mixes the values of before and after an import.

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
  bool Acquire();

 private:
  UniqueHandle mutex_;
  UniqueMutexHold hold_;  // declared after mutex_: let go before the handle is closed
};
