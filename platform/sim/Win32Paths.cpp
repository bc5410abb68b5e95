#include "platform/sim/Win32Paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/sim/Machine.h"
#include "platform/sim/Seam.h"
#include "platform/sim/Text.h"

namespace platform::seam {
namespace {

constexpr std::u16string_view kStream = u"::$DATA";
// The simulated volume's drive, which is the current directory's.
constexpr std::u16string_view kDrive = u"C:";
// The prefix of a path that Windows passes to the file system as it is.
constexpr std::u16string_view kVerbatim = u"\\\\?\\";
// [P1] Microsoft, "Maximum Path Length Limitation": MAX_PATH, 260 characters with the NUL, unless
//      LongPathsEnabled is 1 and the manifest opts in, or the path is in the \\?\ form, which
//      takes about 32,767; iquercorb/OpenModMan issue 52: a longer path answers
//      ERROR_PATH_NOT_FOUND.
constexpr std::size_t kShortPathCharacters = 259;
constexpr std::size_t kMaxPathCharacters = 32767;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::vector<std::u16string_view> Elements(std::u16string_view path) {
  std::vector<std::u16string_view> elements;
  while (!path.empty()) {
    const auto end = std::find_if(path.begin(), path.end(), IsSeparator);
    const std::size_t length = static_cast<std::size_t>(end - path.begin());
    if (length != 0) elements.push_back(path.substr(0, length));
    path.remove_prefix(std::min(length + 1, path.size()));
  }
  return elements;
}

std::u16string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (!::getcwd(buffer, sizeof(buffer))) return u"\\";
  return sim::ToUtf16(buffer);
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// What an 8.3 name may hold besides letters and digits.
bool ShortNameCharacter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         std::u16string_view(u"$%'-_@~`!(){}^#&").find(c) != std::u16string_view::npos;
}

// The stem and extension that an 8.3 name is made from: spaces and every dot but the last
// dropped, upper case, any other character "_"; six characters of the stem, three of the rest.
std::pair<std::u16string, std::u16string> Basis(std::u16string_view name) {
  const std::size_t dot = name.find_last_of(u'.');
  const auto part = [](std::u16string_view text, std::size_t most) {
    std::u16string made;
    for (char16_t c : text) {
      if (c == u' ' || c == u'.') continue;
      made += ShortNameCharacter(Upper(c)) ? Upper(c) : u'_';
      if (made.size() == most) break;
    }
    return made;
  };
  const bool hasExtension = dot != std::u16string_view::npos && dot != 0;
  return {part(hasExtension ? name.substr(0, dot) : name, 6),
          hasExtension ? part(name.substr(dot + 1), 3) : u""};
}

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* directory = ::opendir(folder.empty() ? "/" : folder.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(directory);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

bool Exists(const std::string& linux) {
  struct stat info {};
  return ::lstat(linux.c_str(), &info) == 0;
}

// The name in `folder` that `element` stands for: itself, the file whose name it is in another
// case (a name keeps the case it was made with, and is found in any), or the file whose 8.3 name
// it is. A name that nothing has stays as given, to be made so.
std::string Resolve(const std::string& folder, const std::string& element) {
  if (Exists(Join(folder, element))) return element;
  const std::u16string wide = sim::ToUtf16(element);
  const std::vector<std::string> names = NamesIn(folder);
  for (const std::string& name : names) {
    if (sim::EqualsIgnoringCase(sim::ToUtf16(name), wide)) return name;
  }
  if (!TheMachine().System().shortNames || element.find('~') == std::string::npos) return element;
  for (const std::string& name : names) {
    if (sim::EqualsIgnoringCase(ShortName(folder, name), wide)) return name;
  }
  return element;
}

// The device that the last element `name` names on this Windows, or empty: NUL, CON, PRN, AUX,
// COM1 to COM9, LPT1 to LPT9, with spaces after it, and, before Windows 11, with an extension.
// Trailing dots and spaces go first, as from every last element: "NUL." is no name with an
// extension.
std::u16string_view DeviceNamed(std::u16string_view name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.remove_suffix(1);
  const std::size_t dot = name.find(u'.');
  if (dot != std::u16string_view::npos && !TheMachine().System().devicesWithExtension) return {};
  std::u16string_view stem = name.substr(0, dot);
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  for (std::u16string_view device : {u"NUL", u"CON", u"PRN", u"AUX"}) {
    if (sim::EqualsIgnoringCase(stem, device)) return stem;
  }
  const bool port = stem.size() == 4 &&
                    (sim::EqualsIgnoringCase(stem.substr(0, 3), u"COM") ||
                     sim::EqualsIgnoringCase(stem.substr(0, 3), u"LPT")) &&
                    stem[3] >= u'1' && stem[3] <= u'9';
  return port ? stem : std::u16string_view();
}

}  // namespace

bool IsShortName(std::u16string_view name) {
  const std::size_t dot = name.find(u'.');
  const std::u16string_view stem = name.substr(0, dot);
  const std::u16string_view extension =
      dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
  const auto valid = [](std::u16string_view part) {
    return std::all_of(part.begin(), part.end(),
                       [](char16_t c) { return ShortNameCharacter(Upper(c)); });
  };
  return !stem.empty() && stem.size() <= 8 && extension.size() <= 3 &&
         (dot == std::u16string_view::npos || !extension.empty()) && valid(stem) &&
         valid(extension);
}

std::u16string FullPath(std::u16string_view path) {
  if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) return std::u16string(path);
  std::u16string root;
  std::u16string rest;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share\ stays as it is; below it the rest is formed.
    const std::vector<std::u16string_view> parts = Elements(path);
    root = u"\\\\";
    for (std::size_t i = 0; i < std::min<std::size_t>(2, parts.size()); ++i) {
      root += std::u16string(parts[i]) + u"\\";
    }
    for (std::size_t i = 2; i < parts.size(); ++i) {
      if (i > 2) rest += u'\\';
      rest += parts[i];
    }
    if (IsSeparator(path.back()) && !rest.empty()) rest += u'\\';
  } else if (path.size() >= 2 && path[1] == u':') {
    root = std::u16string(path.substr(0, 2)) + u"\\";
    rest = std::u16string(path.substr(2));
  } else if (!path.empty() && IsSeparator(path[0])) {
    // From the root of the current directory's drive.
    root = std::u16string(kDrive) + u"\\";
    rest = std::u16string(path.substr(1));
  } else {
    root = std::u16string(kDrive) + u"\\";
    rest = CurrentDirectory() + u"\\" + std::u16string(path);
  }
  const bool folder = !rest.empty() && IsSeparator(rest.back());
  std::vector<std::u16string> formed;
  const std::vector<std::u16string_view> elements = Elements(rest);
  for (std::size_t i = 0; i < elements.size(); ++i) {
    std::u16string element(elements[i]);
    if (element == u".") continue;
    if (element == u"..") {
      if (!formed.empty()) formed.pop_back();
      continue;
    }
    if (i + 1 == elements.size() && !folder) {
      if (const std::u16string_view device = DeviceNamed(element); !device.empty()) {
        return u"\\\\.\\" + std::u16string(device);
      }
      // The last element loses every trailing dot and space.
      while (!element.empty() && (element.back() == u'.' || element.back() == u' ')) {
        element.pop_back();
      }
    } else if (element.size() >= 2 && element.back() == u'.' &&
               element[element.size() - 2] != u'.') {
      element.pop_back();
    }
    if (!element.empty()) formed.push_back(element);
  }
  std::u16string full = root;
  for (std::size_t i = 0; i < formed.size(); ++i) {
    if (i) full += u'\\';
    full += formed[i];
  }
  if (folder && !formed.empty()) full += u'\\';
  return full;
}

Status FilePath(std::u16string_view path, std::string* linux) {
  if (path.find(u'\0') != std::u16string_view::npos) return kErrorInvalidName;
  const std::u16string full = FullPath(path);
  // Outside the \\?\ form, which Windows passes on as it is, a path longer than 259 characters
  // is one that Windows does not find [P1], unless long paths are enabled.
  const bool verbatim = path.starts_with(kVerbatim);
  if (full.size() > kMaxPathCharacters) return kErrorFilenameExcedRange;
  if (!verbatim && !TheMachine().longPaths && full.size() > kShortPathCharacters) {
    return kErrorPathNotFound;
  }
  std::u16string_view behind = WithoutVolumeName(full);
  // The drive of the simulated volume, as a path formed from the root names it, or behind \\?\.
  for (const std::u16string_view prefix : {std::u16string_view(u""), kVerbatim}) {
    if (behind.size() > prefix.size() + kDrive.size() && behind.starts_with(prefix) &&
        sim::EqualsIgnoringCase(behind.substr(prefix.size(), kDrive.size()), kDrive) &&
        behind[prefix.size() + kDrive.size()] == u'\\') {
      behind.remove_prefix(prefix.size() + kDrive.size());
      break;
    }
  }
  // Behind \\?\ or \\server\share: no path of the simulated volume, which has no other.
  if (behind.size() == full.size() && full.starts_with(u"\\\\")) return kErrorPathNotFound;
  const bool folder = !behind.empty() && IsSeparator(behind.back());
  const std::vector<std::u16string_view> elements = Elements(behind);
  std::string resolved = "/";
  for (std::size_t i = 0; i < elements.size(); ++i) {
    std::u16string_view element = elements[i];
    if (const std::size_t colon = element.find(u':'); colon != std::u16string_view::npos) {
      // "name::$DATA" is the file itself where there are streams; any other colon names a
      // stream, which the simulated volume does not keep, or nothing a name may hold.
      const bool stream = i + 1 == elements.size() && colon != 0 &&
                          element.size() == colon + kStream.size() &&
                          sim::EqualsIgnoringCase(element.substr(colon), kStream);
      if (!stream || !TheMachine().System().streams) return kErrorInvalidName;
      element = element.substr(0, colon);
    }
    resolved = Join(resolved, Resolve(resolved, sim::ToUtf8(element)));
  }
  if (folder && !resolved.ends_with('/')) resolved += '/';
  *linux = resolved;
  return kErrorSuccess;
}

std::u16string ShortName(const std::string& folder, const std::string& name) {
  const std::u16string wide = sim::ToUtf16(name);
  if (!TheMachine().System().shortNames || IsShortName(wide)) return {};
  const auto basis = Basis(wide);
  // The number is the name's place among those of the same basis.
  int number = 1;
  for (const std::string& other : NamesIn(folder)) {
    if (other >= name) break;
    const std::u16string otherWide = sim::ToUtf16(other);
    if (!IsShortName(otherWide) && Basis(otherWide) == basis) ++number;
  }
  std::u16string made = basis.first + u"~" + sim::ToUtf16(std::to_string(number));
  if (!basis.second.empty()) made += u"." + basis.second;
  return made;
}

Status LongPath(std::u16string_view path, std::u16string* longPath, std::string* linux) {
  // The simulated volume's own paths: from its root, with either separator.
  std::u16string made;
  std::string folder = "/";
  std::size_t at = 0;
  while (at < path.size()) {
    if (IsSeparator(path[at])) {
      made += path[at++];
      continue;
    }
    const auto end =
        std::find_if(path.begin() + static_cast<std::ptrdiff_t>(at), path.end(), IsSeparator);
    const std::u16string_view element =
        path.substr(at, static_cast<std::size_t>(end - path.begin()) - at);
    const std::string name = Resolve(folder, sim::ToUtf8(element));
    made += sim::ToUtf16(name);
    folder = Join(folder, name);
    at += element.size();
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return FromErrno(errno);
  *longPath = made;
  *linux = folder;
  return kErrorSuccess;
}

}  // namespace platform::seam
