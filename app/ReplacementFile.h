#pragma once

// The new content of a file, written beside it under a name that no file has, and put in its
// place in one step only once it is complete and on the disk. Until then the file is what it
// was (or still absent), whatever fails. The replacement stays open, shared with readers alone,
// from its creation until it has taken the file's place, so that no other writer can delete it,
// rename it or write into it meanwhile; one that does not take the file's place is deleted
// through its own handle.

#include <cstdint>
#include <optional>
#include <string>

#include "app/FileIdentity.h"
#include "app/KFile.h"
#include "platform/Platform.h"

class ReplacementFile {
 public:
  explicit ReplacementFile(std::u16string target);
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  // Deletes the replacement unless it has taken the target's place.
  ~ReplacementFile();

  // Fails as a direct create of the target would (CREATE_ALWAYS, with the access and sharing
  // below, and normal attributes), so that the replacement does not get further than the file
  // itself could: the target's name is formed as Windows forms it (trailing dots and spaces
  // go), an existing target is opened so, but OPEN_EXISTING, leaving it as it is, and closed
  // again; a hidden or system one is refused. Where the target is a symbolic link, the file
  // that it leads to becomes the target, as a direct create writes through the link; a link
  // that leads to no file is refused. Then removes the replacements that killed exports left in
  // the target's directory (its path up to the last separator), but never the target itself,
  // which its identity tells under any spelling (an 8.3 name, a stream suffix). And creates its
  // own, empty: "ZOLTMgr.~N.tmp" for the first N from 1 that Windows lets it create, never
  // through a link of that name. The name does not grow with the target's, so every name that a
  // direct create takes is exported. An existing file is never emptied or replaced. Called
  // while the caller keeps other exports out.
  platform::Status Create();

  // One request; true only when it succeeded and wrote exactly `size` bytes.
  bool WriteExactly(const void* buffer, std::uint32_t size);

  // Flushes the replacement, renames it over the target through its own handle, and closes it.
  // ReplaceFileW would carry the old file's own attributes and security over, but it works in
  // several steps, and when one of them fails the target may be left renamed away or gone, or
  // a file of its own left behind. The new file has the security that its directory gives new
  // files. Where the file system offers POSIX semantics, a reader that shares deletion keeps
  // its handle to the old file and does not hold the rename up; any other handle to the target
  // refuses it (a virus scanner or an indexer, for a moment), and it is tried again for about
  // two seconds. Answers the first status that is not 0. A rename that answered a failure may
  // still have taken effect (its reply lost on a share): the target is then looked at, and a
  // replacement that holds the target's name is in place; one whose place cannot be told is
  // kept, never deleted, lest the deletion take the target's new content with it.
  platform::Status Commit();

 private:
  // The checks on an existing target, its identity, and the file behind it where it is a link.
  platform::Status FindTarget();
  // The replacements that killed exports left in `directory`.
  void RemoveLeftovers(const std::u16string& directory);
  // One rename of the open replacement over the target.
  platform::Status Rename();
  // After a rename that answered a failure: whether the target is now the replacement.
  enum class Place { kElsewhere, kInPlace, kUnknown };
  Place WhereItIs();

  std::u16string target_;
  std::optional<FileIdentity> targetIdentity_;  // while the target exists
  FileIdentity::Way identityWay_ = FileIdentity::Way::kUnknown;
  KFile file_;
  bool placed_ = false;         // the replacement has taken the target's place
  bool kept_ = false;           // where it is cannot be told: it stays
  bool posixSemantics_ = true;  // until the file system refuses them
};
