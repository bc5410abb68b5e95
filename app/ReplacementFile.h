#pragma once

// The new content of a file, written beside it under a name that no file has, and put in its
// place in one step only once it is complete and on the disk. Until then the file is what it
// was (or still absent), whatever fails; a replacement that does not take the file's place is
// deleted again.

#include <cstdint>
#include <string>

#include "app/KFile.h"
#include "platform/Platform.h"

class ReplacementFile {
 public:
  explicit ReplacementFile(std::u16string target);
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  // Closes and deletes the replacement unless it has taken the target's place.
  ~ReplacementFile();

  // Fails as a direct create of the target would (CREATE_ALWAYS, with the access and sharing
  // below, and normal attributes), so that the replacement does not get further than the file
  // itself could: an existing target is opened so, but OPEN_EXISTING, leaving it as it is, and
  // closed again; a hidden or system one is refused. Where the target is a link, the file that
  // it leads to becomes the target, as a direct create writes through the link. Then removes
  // the replacements that killed exports left in the target's directory (its path up to the
  // last separator), and creates its own, empty, for reading and writing and shared for reading
  // only: "ZOLTMgr.~N.tmp" for the first N from 1 on that names no file yet. The name does not
  // grow with the target's, so every name that a direct create takes is exported. An existing
  // file is never emptied or replaced. Called while the caller keeps other exports out.
  platform::Status Create();

  // One request; true only when it succeeded and wrote exactly `size` bytes.
  bool WriteExactly(const void* buffer, std::uint32_t size);

  // Flushes and closes the replacement, then renames it over the target in one step
  // (MoveFileExW, replacing an existing target). ReplaceFileW would carry the old file's own
  // attributes and security over, but it works in several steps, and when one of them fails the
  // target may be left renamed away or gone, or a file of its own left behind. The new file has
  // the security that its directory gives new files. A rename refused because someone has the
  // target or the replacement open (a virus scanner or an indexer, for a moment) is tried again
  // for about two seconds. Answers the first status that is not 0.
  platform::Status Commit();

 private:
  // The checks on an existing target, open as `existing`, and its final path.
  platform::Status FollowExisting(const KFile& existing);

  std::u16string target_;
  std::u16string temporary_;  // the replacement's path while it exists under its own name
  KFile file_;
};
