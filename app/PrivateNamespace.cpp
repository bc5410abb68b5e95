#include "app/PrivateNamespace.h"

#include <cstdint>
#include <utility>

#include "app/Kernel32Function.h"

using namespace platform;

namespace {

// Another run may create the namespace between this one's create and open, or close the last
// handle to it (which ends it) between them.
constexpr int kAttempts = 3;

}  // namespace

PrivateNamespace::~PrivateNamespace() {
  if (namespace_) static_cast<void>(ClosePrivateNamespace(close_, namespace_, 0));
  if (boundary_) DeleteBoundaryDescriptor(deleteBoundary_, boundary_);
}

Status PrivateNamespace::Open(const char16_t* alias, const void* securityDescriptor) {
  // All or none: a Windows with some of them only (Wine has a stub of the first) has none.
  const std::pair<const char*, Procedure*> functions[] = {
      {"CreateBoundaryDescriptorW", &createBoundary_},
      {"AddSIDToBoundaryDescriptor", &addSid_},
      {"DeleteBoundaryDescriptor", &deleteBoundary_},
      {"CreatePrivateNamespaceW", &create_},
      {"OpenPrivateNamespaceW", &open_},
      {"ClosePrivateNamespace", &close_}};
  for (const auto& [name, procedure] : functions) {
    if (Status status = FindKernel32Function(name, procedure)) return status;
  }

  if (Status status = CreateBoundaryDescriptorW(createBoundary_, alias, &boundary_)) return status;
  std::uint8_t administrators[kSecurityMaxSidSize] = {};
  std::uint32_t size = sizeof(administrators);
  if (Status status = CreateWellKnownSid(kWinBuiltinAdministratorsSid, administrators, &size)) {
    return status;
  }
  if (Status status = AddSIDToBoundaryDescriptor(addSid_, &boundary_, administrators)) {
    return status;
  }

  Status status = kErrorAlreadyExists;
  for (int attempt = 0; attempt < kAttempts && status != kErrorSuccess; ++attempt) {
    status = CreatePrivateNamespaceW(create_, securityDescriptor, boundary_, alias, &namespace_);
    if (status == kErrorAlreadyExists) {
      status = OpenPrivateNamespaceW(open_, boundary_, alias, &namespace_);
    }
  }
  return status;
}
