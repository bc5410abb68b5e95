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

  // Creates the replacement, empty, in the target's directory: the target's path followed by
  // ".~N.tmp" for the first N from 1 on that names no file yet. An existing file is never opened.
  platform::Status Create();

  // One request; true only when it succeeded and wrote exactly `size` bytes.
  bool WriteExactly(const void* buffer, std::uint32_t size);

  // Flushes and closes the replacement, then renames it over the target in one step
  // (MoveFileExW, replacing an existing target). ReplaceFileW would carry the old file's own
  // attributes and security over, but it works in several steps, and when one of them fails the
  // target may be left renamed away or gone, or a file of its own left behind. The new file has
  // the security that its directory gives new files. Answers the first status that is not 0.
  platform::Status Commit();

 private:
  const std::u16string target_;
  std::u16string temporary_;  // the replacement's path while it exists under its own name
  KFile file_;
};
