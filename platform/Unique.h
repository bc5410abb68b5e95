#pragma once

// Owners for the handles, keys, device sets and heap blocks that the seam hands out. An owner
// is one line: the handle type and the call that releases it. Null is "holds nothing" for every
// type, because the seam never hands out an invalid handle.

#include <cstdint>
#include <utility>

#include "platform/Platform.h"

template <typename T, auto Release>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != T{}; }

  // For out-parameters: releases what is held and lends the empty slot.
  T* put() {
    reset();
    return &value_;
  }
  T release() { return std::exchange(value_, T{}); }
  void reset(T value = T{}) {
    if (T old = std::exchange(value_, value); old != T{}) static_cast<void>(Release(old));
  }

 private:
  T value_{};
};

template <typename T>
void FreeProcessHeapBlock(T* block) {
  platform::HeapFree(platform::GetProcessHeap(), 0, block);
}

template <typename T>
void DeleteArray(T* array) {
  delete[] array;
}

using UniqueHandle = UniqueAny<platform::Handle, &platform::CloseHandle>;
// A mutex that a wait took, released again; its handle is a UniqueHandle of its own, which must
// outlive it.
using UniqueMutexHold = UniqueAny<platform::Handle, &platform::ReleaseMutex>;
using UniqueFind = UniqueAny<platform::Handle, &platform::FindClose>;
using UniqueDevInfoSet = UniqueAny<platform::DevInfoSet, &platform::SetupDiDestroyDeviceInfoList>;
using UniqueRegKey = UniqueAny<platform::RegKey, &platform::RegCloseKey>;
template <typename T>
using UniqueHeapBlock = UniqueAny<T*, &FreeProcessHeapBlock<T>>;
template <typename T>
using UniqueArray = UniqueAny<T*, &DeleteArray<T>>;
