#pragma once

// A private namespace whose boundary is the Administrators group: only a process with
// administrator rights can create it, and the names in it, so no other user can take one of
// them first. Open for as long as the PrivateNamespace lives; the objects named in it must be let
// go before it ends.

#include "platform/Platform.h"

class PrivateNamespace {
 public:
  PrivateNamespace() = default;
  PrivateNamespace(const PrivateNamespace&) = delete;
  PrivateNamespace& operator=(const PrivateNamespace&) = delete;
  ~PrivateNamespace();

  // Creates the namespace `alias` with the security descriptor, or opens it where another
  // process has it already. ERROR_PROC_NOT_FOUND where this Windows has no private namespaces;
  // otherwise 0 or the status of the step that failed.
  platform::Status Open(const char16_t* alias, const void* securityDescriptor);
  // Whether Open made the namespace, rather than opened one that another process holds.
  bool created() const { return created_; }

 private:
  // What the destructor calls; Open finds the others for itself.
  platform::Procedure deleteBoundary_ = nullptr;
  platform::Procedure close_ = nullptr;
  platform::Handle boundary_ = nullptr;
  platform::Handle namespace_ = nullptr;
  bool created_ = false;
};
