// The simulated seam: named mutexes, waits and time, security descriptors and SIDs, and private
// namespaces.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"

namespace platform {

using namespace seam;

namespace {

// Time passes for real only in the Linux program; tests only see the clock advance.
void Pass(std::uint32_t milliseconds) {
  Machine& machine = TheMachine();
  machine.clock += milliseconds;
  if (machine.realTime) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Whether the program has a handle to the private namespace `alias`.
bool NamespaceIsOpen(std::u16string_view alias) {
  const auto& open = TheMachine().open.namespaces;
  return std::any_of(open.begin(), open.end(), [&](const auto& n) { return n.second == alias; });
}

// The descriptor that a security-descriptor pointer stands for, as SDDL; empty for none.
std::u16string SecurityOf(const void* securityDescriptor) {
  if (!securityDescriptor) return u"";
  auto* text = Find(TheMachine().open.localBlocks, const_cast<void*>(securityDescriptor));
  return text ? *text : u"?";
}

// Whether the namespace's security lets an administrator open it: its own descriptor, or where it
// was given none, the defaults of its creator's token.
bool GrantsAdministrators(const sim::PrivateNamespace& privateNamespace) {
  if (privateNamespace.security.empty()) return !privateNamespace.bySystemAccount;
  return privateNamespace.security.find(u"(A;;GA;;;BA)") != std::u16string::npos;
}

// S-1-5-32-544, BUILTIN\\Administrators: revision 1, two subauthorities, authority 5 (NT).
const std::vector<std::uint8_t> kAdministratorsSid = {1,  2, 0, 0, 0,    0, 0, 5,
                                                      32, 0, 0, 0, 0x20, 2, 0, 0};
// What ZOLTMgr may ask for in the string form; anything else would be refused here, not guessed.
constexpr std::u16string_view kKnownSddl[] = {u"D:P(A;;GA;;;SY)(A;;GA;;;BA)"};

}  // namespace

// The program is alone with the machine: the Linux program holds the machine file's lock for its
// whole run, so a mutex is only ever held elsewhere when a test says so.
Status CreateMutexExW(const void* securityDescriptor, const char16_t* name,
                      std::uint32_t desiredAccess, Handle* mutex) {
  Machine& machine = TheMachine();
  const std::u16string mutexName(name ? name : u"");
  if (Status status = machine.Enter("CreateMutexExW", mutexName, {desiredAccess})) return status;
  // An unnamed mutex would be the process's own: no other run could see it.
  if (mutexName.empty()) return kErrorInvalidParameter;
  // A prefix names a namespace: a session's, or a private one that this process has open.
  const std::size_t slash = mutexName.find(u'\\');
  if (slash != std::u16string::npos) {
    const std::u16string prefix = mutexName.substr(0, slash);
    if (prefix != u"Global" && prefix != u"Local" && !NamespaceIsOpen(prefix)) {
      return kErrorPathNotFound;
    }
  }
  const auto [it, created] = machine.mutexes.try_emplace(mutexName);
  if (created) {
    it->second.security = SecurityOf(securityDescriptor);
  } else if (it->second.otherKind) {
    return kErrorInvalidHandle;
  } else if (desiredAccess & ~it->second.grantedAccess) {
    return kErrorAccessDenied;
  }
  Machine::OpenObject object{Kind::Mutex, mutexName};
  object.access = desiredAccess;
  *mutex = NewHandle(std::move(object));
  return kErrorSuccess;
}

Status WaitForSingleObject(Handle object, std::uint32_t milliseconds, std::uint32_t* event) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("WaitForSingleObject", PathOf(object), {milliseconds})) {
    return status;
  }
  auto* open = Find(machine.open.handles, object);
  if (!open || open->kind != Kind::Mutex) return kErrorInvalidHandle;
  if (!(open->access & kSynchronize)) return kErrorAccessDenied;
  sim::NamedMutex& mutex = machine.mutexes[open->path];
  if (mutex.heldElsewhere) {
    Pass(milliseconds);
    *event = kWaitTimeout;
    return kErrorSuccess;
  }
  *event = std::exchange(mutex.abandoned, false) ? kWaitAbandoned : kWaitObject0;
  ++mutex.owned;
  return kErrorSuccess;
}

Status ReleaseMutex(Handle mutex) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("ReleaseMutex", PathOf(mutex))) return status;
  auto* open = Find(machine.open.handles, mutex);
  if (!open || open->kind != Kind::Mutex) return kErrorInvalidHandle;
  if (!(open->access & kMutexModifyState)) return kErrorAccessDenied;
  sim::NamedMutex& named = machine.mutexes[open->path];
  if (named.owned == 0) {
    ++machine.badReleases;
    return kErrorNotOwner;
  }
  --named.owned;
  return kErrorSuccess;
}

void Sleep(std::uint32_t milliseconds) {
  TheMachine().Enter("Sleep", u"", {milliseconds});
  Pass(milliseconds);
}

Status ConvertStringSecurityDescriptorToSecurityDescriptorW(
    const char16_t* stringSecurityDescriptor, void** securityDescriptor) {
  Machine& machine = TheMachine();
  const std::u16string sddl(stringSecurityDescriptor ? stringSecurityDescriptor : u"");
  if (Status status = machine.Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW", sddl)) {
    return status;
  }
  if (std::find(std::begin(kKnownSddl), std::end(kKnownSddl), sddl) == std::end(kKnownSddl)) {
    return 1336;  // ERROR_INVALID_ACL
  }
  const std::uintptr_t id = machine.NextId();
  machine.open.localBlocks.emplace(id, sddl);
  *securityDescriptor = reinterpret_cast<void*>(id);
  return kErrorSuccess;
}

Status LocalFree(void* memory) {
  Machine& machine = TheMachine();
  machine.Enter("LocalFree", u"");
  return ReleaseFrom(machine.open.localBlocks, memory);
}

Status CreateWellKnownSid(std::uint32_t wellKnownSidType, void* sid, std::uint32_t* size) {
  if (Status status = TheMachine().Enter("CreateWellKnownSid", u"", {wellKnownSidType})) {
    return status;
  }
  if (wellKnownSidType != kWinBuiltinAdministratorsSid) return kErrorInvalidParameter;
  const std::uint32_t needed = static_cast<std::uint32_t>(kAdministratorsSid.size());
  if (*size < needed) {
    *size = needed;
    return kErrorInsufficientBuffer;
  }
  std::memcpy(sid, kAdministratorsSid.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

Status CreateBoundaryDescriptorW(Procedure createBoundaryDescriptorW, const char16_t* name,
                                 Handle* boundaryDescriptor) {
  Machine& machine = TheMachine();
  const std::u16string boundary(name ? name : u"");
  if (Status status = machine.Enter("CreateBoundaryDescriptorW", boundary)) return status;
  if (!IsEntry(createBoundaryDescriptorW, "CreateBoundaryDescriptorW"))
    return kErrorInvalidParameter;
  const std::uintptr_t id = machine.NextId();
  machine.open.boundaries.emplace(id, Machine::OpenBoundary{boundary, {}});
  *boundaryDescriptor = reinterpret_cast<Handle>(id);
  return kErrorSuccess;
}

Status AddSIDToBoundaryDescriptor(Procedure addSIDToBoundaryDescriptor, Handle* boundaryDescriptor,
                                  const void* requiredSid) {
  Machine& machine = TheMachine();
  if (Status status = machine.Enter("AddSIDToBoundaryDescriptor", u"")) return status;
  if (!IsEntry(addSIDToBoundaryDescriptor, "AddSIDToBoundaryDescriptor")) {
    return kErrorInvalidParameter;
  }
  auto* boundary = Find(machine.open.boundaries, *boundaryDescriptor);
  if (!boundary || !requiredSid) return kErrorInvalidParameter;
  // Revision, count of subauthorities, six bytes of authority, four bytes a subauthority.
  const auto* bytes = static_cast<const std::uint8_t*>(requiredSid);
  boundary->sids.emplace_back(bytes, bytes + 8 + 4 * bytes[1]);
  return kErrorSuccess;
}

void DeleteBoundaryDescriptor(Procedure deleteBoundaryDescriptor, Handle boundaryDescriptor) {
  Machine& machine = TheMachine();
  machine.Enter("DeleteBoundaryDescriptor", u"");
  if (!IsEntry(deleteBoundaryDescriptor, "DeleteBoundaryDescriptor")) {
    ++machine.badReleases;
    return;
  }
  static_cast<void>(ReleaseFrom(machine.open.boundaries, boundaryDescriptor));
}

Status CreatePrivateNamespaceW(Procedure createPrivateNamespaceW, const void* securityDescriptor,
                               Handle boundaryDescriptor, const char16_t* aliasPrefix,
                               Handle* privateNamespace) {
  Machine& machine = TheMachine();
  const std::u16string alias(aliasPrefix ? aliasPrefix : u"");
  if (Status status = machine.Enter("CreatePrivateNamespaceW", alias)) return status;
  if (!IsEntry(createPrivateNamespaceW, "CreatePrivateNamespaceW")) return kErrorInvalidParameter;
  auto* boundary = Find(machine.open.boundaries, boundaryDescriptor);
  if (!boundary || alias.empty()) return kErrorInvalidParameter;
  // Only a caller whose token holds every SID of the boundary may create the namespace; the
  // program's holds Administrators where it runs as an administrator.
  for (const std::vector<std::uint8_t>& sid : boundary->sids) {
    if (sid != kAdministratorsSid || !machine.administrator) return kErrorAccessDenied;
  }
  const auto found = machine.namespaces.find(alias);
  if (found != machine.namespaces.end() && !found->second.ended) return kErrorAlreadyExists;
  machine.namespaces[alias] = sim::PrivateNamespace{SecurityOf(securityDescriptor)};
  const std::uintptr_t id = machine.NextId();
  machine.open.namespaces.emplace(id, alias);
  *privateNamespace = reinterpret_cast<Handle>(id);
  return kErrorSuccess;
}

Status OpenPrivateNamespaceW(Procedure openPrivateNamespaceW, Handle boundaryDescriptor,
                             const char16_t* aliasPrefix, Handle* privateNamespace) {
  Machine& machine = TheMachine();
  const std::u16string alias(aliasPrefix ? aliasPrefix : u"");
  if (Status status = machine.Enter("OpenPrivateNamespaceW", alias)) return status;
  if (!IsEntry(openPrivateNamespaceW, "OpenPrivateNamespaceW")) return kErrorInvalidParameter;
  if (!Find(machine.open.boundaries, boundaryDescriptor)) return kErrorInvalidParameter;
  const auto found = machine.namespaces.find(alias);
  if (found == machine.namespaces.end() || found->second.ended) return kErrorPathNotFound;
  if (!machine.administrator || !GrantsAdministrators(found->second)) return kErrorAccessDenied;
  const std::uintptr_t id = machine.NextId();
  machine.open.namespaces.emplace(id, alias);
  *privateNamespace = reinterpret_cast<Handle>(id);
  return kErrorSuccess;
}

Status ClosePrivateNamespace(Procedure closePrivateNamespace, Handle privateNamespace,
                             std::uint32_t flags) {
  Machine& machine = TheMachine();
  machine.Enter("ClosePrivateNamespace", u"", {flags});
  const auto it = machine.open.namespaces.find(reinterpret_cast<std::uintptr_t>(privateNamespace));
  if (!IsEntry(closePrivateNamespace, "ClosePrivateNamespace") ||
      it == machine.open.namespaces.end()) {
    ++machine.badReleases;
    return kErrorInvalidHandle;
  }
  const std::u16string alias = it->second;
  machine.open.namespaces.erase(it);
  sim::PrivateNamespace& closed = machine.namespaces.at(alias);
  if (flags & kPrivateNamespaceFlagDestroy) {
    // Out of reach for everyone, while the objects in it live on: a name in a namespace made
    // anew is a new object.
    closed.ended = true;
    for (auto mutex = machine.mutexes.lower_bound(alias + u'\\');
         mutex != machine.mutexes.end() && mutex->first.starts_with(alias + u'\\');) {
      auto node = machine.mutexes.extract(mutex++);
      node.key() = u"(destroyed)" + node.key();
      machine.mutexes.insert(std::move(node));
    }
  } else if (!closed.elsewhere && !NamespaceIsOpen(alias)) {
    // It ends with its last handle.
    closed.ended = true;
  }
  return kErrorSuccess;
}

}  // namespace platform
