#include "app/PrivateNamespace.h"

#include <cstdint>
#include <utility>

#include "app/Kernel32Function.h"

using namespace platform;

namespace {

// The last run that held the namespace may close it, which ends it, between this run's create
// (which found it) and its open (which then does not): the next create makes it anew. About a
// second in all.
constexpr int kOpenRetries = 20;
constexpr std::uint32_t kOpenPauseMilliseconds = 50;

}  // namespace

PrivateNamespace::~PrivateNamespace() {
  // Closed, never destroyed: a run that took the namespace out of reach while others still hold
  // the mutex in it would let the next run make a new namespace and mutex, and two runs would
  // then write at once.
  if (namespace_) static_cast<void>(ClosePrivateNamespace(close_, namespace_, 0));
  if (boundary_) DeleteBoundaryDescriptor(deleteBoundary_, boundary_);
}

Status PrivateNamespace::Open(const char16_t* alias, const void* securityDescriptor) {
  Procedure createBoundary = nullptr;
  Procedure addSid = nullptr;
  Procedure create = nullptr;
  Procedure open = nullptr;
  // All or none: a Windows with some of them only (Wine has a stub of the first) has none.
  const std::pair<const char*, Procedure*> functions[] = {
      {"CreateBoundaryDescriptorW", &createBoundary},
      {"AddSIDToBoundaryDescriptor", &addSid},
      {"DeleteBoundaryDescriptor", &deleteBoundary_},
      {"CreatePrivateNamespaceW", &create},
      {"OpenPrivateNamespaceW", &open},
      {"ClosePrivateNamespace", &close_}};
  for (const auto& [name, procedure] : functions) {
    if (Status status = FindKernel32Function(name, procedure)) return status;
  }

  if (Status status = CreateBoundaryDescriptorW(createBoundary, alias, &boundary_)) return status;
  std::uint8_t administrators[kSecurityMaxSidSize] = {};
  std::uint32_t size = sizeof(administrators);
  if (Status status = CreateWellKnownSid(kWinBuiltinAdministratorsSid, administrators, &size)) {
    return status;
  }
  if (Status status = AddSIDToBoundaryDescriptor(addSid, &boundary_, administrators)) {
    return status;
  }

  for (int retry = 0;; ++retry) {
    Status status =
        CreatePrivateNamespaceW(create, securityDescriptor, boundary_, alias, &namespace_);
    created_ = status == kErrorSuccess;
    if (status != kErrorAlreadyExists) return status;
    status = OpenPrivateNamespaceW(open, boundary_, alias, &namespace_);
    if (status != kErrorPathNotFound || retry == kOpenRetries) return status;
    Sleep(kOpenPauseMilliseconds);
  }
}
