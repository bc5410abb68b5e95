#include "platform/sim/Machine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/sim/Text.h"

namespace sim {
namespace {

// The path's elements, without empty ones.
std::vector<std::u16string_view> SplitPath(std::u16string_view path) {
  std::vector<std::u16string_view> elements;
  while (!path.empty()) {
    const std::size_t end = std::min(path.find(u'\\'), path.size());
    if (end != 0) elements.push_back(path.substr(0, end));
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return elements;
}

std::u16string NormalPath(std::u16string_view path) {
  std::u16string normal;
  for (std::u16string_view element : SplitPath(path)) {
    if (!normal.empty()) normal += u'\\';
    normal += element;
  }
  return normal;
}

// What a call worked on, compared as Windows compares paths: without regard to case, and with
// either separator (the simulated machine's own paths use both).
bool SameSubject(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoringCase(SubjectOf(a), SubjectOf(b));
}

}  // namespace

std::u16string SubjectOf(std::u16string_view path) {
  for (std::u16string_view prefix : {u"\\\\?\\", u"C:"}) {
    if (path.size() > prefix.size() && EqualsIgnoringCase(path.substr(0, prefix.size()), prefix) &&
        (path[prefix.size()] == u'\\' || path[prefix.size()] == u'/' || prefix.size() == 4)) {
      path.remove_prefix(prefix.size());
    }
  }
  std::u16string folded(path);
  std::replace(folded.begin(), folded.end(), u'/', u'\\');
  return folded;
}

RegistryKey& Registry::CreateKey(std::u16string_view path, bool* created, bool isVolatile) {
  if (created) *created = false;
  std::u16string folded;
  RegistryKey* key = nullptr;
  for (std::u16string_view element : SplitPath(path)) {
    if (!folded.empty()) folded += u'\\';
    folded += FoldCase(element);
    auto it = keys_.find(folded);
    if (it == keys_.end()) {
      // A new key is named as given below its parent, whose own name keeps its first case.
      const std::u16string name =
          key ? key->path + u'\\' + std::u16string(element) : std::u16string(element);
      it = keys_.emplace(folded, RegistryKey{name, {}, isVolatile}).first;
      if (created) *created = true;
    }
    key = &it->second;
  }
  if (!key) {
    // The root itself.
    key = &keys_.try_emplace(u"", RegistryKey{}).first->second;
  }
  return *key;
}

bool Registry::BelowVolatile(std::u16string_view path) const {
  std::u16string folded;
  for (std::u16string_view element : SplitPath(path)) {
    if (!folded.empty()) folded += u'\\';
    folded += FoldCase(element);
    const auto it = keys_.find(folded);
    if (it == keys_.end()) return false;
    if (it->second.isVolatile) return true;
  }
  return false;
}

RegistryKey* Registry::FindKey(std::u16string_view path) {
  const auto it = keys_.find(FoldCase(NormalPath(path)));
  return it == keys_.end() ? nullptr : &it->second;
}

const RegistryKey* Registry::FindKey(std::u16string_view path) const {
  return const_cast<Registry*>(this)->FindKey(path);
}

bool Registry::HasSubKeys(std::u16string_view path) const {
  const std::u16string prefix = FoldCase(NormalPath(path)) + u'\\';
  const auto it = keys_.lower_bound(prefix);
  return it != keys_.end() && it->first.starts_with(prefix);
}

const RegistryValue* Registry::FindValue(std::u16string_view path, std::u16string_view name) const {
  const RegistryKey* key = FindKey(path);
  if (!key) return nullptr;
  for (const RegistryValue& value : key->values) {
    if (EqualsIgnoringCase(value.name, name)) return &value;
  }
  return nullptr;
}

void Registry::SetValue(std::u16string_view path, std::u16string_view name, std::uint32_t type,
                        std::vector<std::uint8_t> data) {
  RegistryKey& key = CreateKey(path);
  for (RegistryValue& value : key.values) {
    if (EqualsIgnoringCase(value.name, name)) {
      value.type = type;
      value.data = std::move(data);
      return;
    }
  }
  key.values.push_back(RegistryValue{std::u16string(name), type, std::move(data)});
}

bool Registry::DeleteValue(std::u16string_view path, std::u16string_view name) {
  RegistryKey* key = FindKey(path);
  if (!key) return false;
  return std::erase_if(key->values, [&](const RegistryValue& value) {
           return EqualsIgnoringCase(value.name, name);
         }) != 0;
}

Machine::OpenObjects::OpenObjects(OpenObjects&& other) noexcept
    : handles(std::exchange(other.handles, {})),
      deviceSets(std::exchange(other.deviceSets, {})),
      keys(std::exchange(other.keys, {})),
      heapBlocks(std::exchange(other.heapBlocks, {})),
      localBlocks(std::exchange(other.localBlocks, {})),
      boundaries(std::exchange(other.boundaries, {})),
      namespaces(std::exchange(other.namespaces, {})) {}

Machine::OpenObjects& Machine::OpenObjects::operator=(OpenObjects&& other) noexcept {
  if (this != &other) {
    Release();
    handles = std::exchange(other.handles, {});
    deviceSets = std::exchange(other.deviceSets, {});
    keys = std::exchange(other.keys, {});
    heapBlocks = std::exchange(other.heapBlocks, {});
    localBlocks = std::exchange(other.localBlocks, {});
    boundaries = std::exchange(other.boundaries, {});
    namespaces = std::exchange(other.namespaces, {});
  }
  return *this;
}

Machine::OpenObjects::~OpenObjects() { Release(); }

void Machine::OpenObjects::Release() {
  for (auto& [id, object] : handles) {
    if (object.fd >= 0) ::close(object.fd);
  }
  for (auto& [block, size] : heapBlocks) std::free(block);
  handles.clear();
  deviceSets.clear();
  keys.clear();
  heapBlocks.clear();
  localBlocks.clear();
  boundaries.clear();
  namespaces.clear();
}

OpenCounts Machine::Open() const {
  int owned = 0;
  for (const auto& [name, mutex] : mutexes) owned += mutex.owned;
  return OpenCounts{static_cast<int>(open.handles.size()),
                    static_cast<int>(open.deviceSets.size()),
                    static_cast<int>(open.keys.size()),
                    static_cast<int>(open.heapBlocks.size()),
                    owned,
                    static_cast<int>(open.localBlocks.size()),
                    static_cast<int>(open.boundaries.size()),
                    static_cast<int>(open.namespaces.size())};
}

int Machine::CallCount(std::string_view call) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const CallRecord& r) { return r.call == call; }));
}

int Machine::CallCount(std::string_view call, std::u16string_view subject) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const CallRecord& r) {
    return r.call == call && SameSubject(r.subject, subject);
  }));
}

const Answers& Machine::System() const {
  const Answers* answers = AnswersFor(windows, fileSystem);
  if (!answers) std::abort();
  return *answers;
}

bool Machine::SameConfiguration(const Machine& other) const {
  return windows == other.windows && fileSystem == other.fileSystem &&
         longPaths == other.longPaths && drives == other.drives &&
         volumeInterfaces == other.volumeInterfaces && registry == other.registry &&
         faults == other.faults;
}

Status Machine::Enter(std::string_view call, std::u16string_view subject,
                      std::vector<std::uint32_t> arguments, std::uint32_t* bytes) {
  calls.push_back(CallRecord{std::string(call), std::u16string(subject), std::move(arguments)});
  for (Fault& fault : faults) {
    if (fault.call != call || (fault.name && !SameSubject(*fault.name, subject))) continue;
    if (fault.skip > 0) {
      --fault.skip;
      continue;
    }
    if (fault.count) {
      if (*fault.count == 0) continue;
      --*fault.count;
    }
    if (bytes && fault.bytes) *bytes = *fault.bytes;
    if (fault.after) {
      afterwards_ = fault.status;
      return platform::kErrorSuccess;
    }
    return fault.status;
  }
  return platform::kErrorSuccess;
}

Status Machine::Answer(Status done) {
  const Status afterwards = std::exchange(afterwards_, platform::kErrorSuccess);
  return done == platform::kErrorSuccess ? afterwards : done;
}

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

}  // namespace sim
