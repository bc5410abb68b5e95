#pragma once

// Owner of one open settings file. The handle is closed when the KFile ends, on every path, or
// earlier by Close when the caller needs to know whether the close worked.

#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "platform/Unique.h"

class KFile {
 public:
  KFile() = default;
  KFile(const KFile&) = delete;
  KFile& operator=(const KFile&) = delete;
  virtual ~KFile() = default;

  // CreateFileW of `path` with the given access, share mode and disposition, normal attributes,
  // and the flags given.
  platform::Status Open(const std::u16string& path, std::uint32_t desiredAccess,
                        std::uint32_t shareMode, std::uint32_t creationDisposition,
                        std::uint32_t flags = 0);

  // One request each; true only when it succeeded and moved exactly `size` bytes.
  bool ReadExactly(void* buffer, std::uint32_t size);
  bool WriteExactly(const void* buffer, std::uint32_t size);

  // Bytes between the start of the file and its end.
  platform::Status GetSize(std::uint64_t* size);

  // FlushFileBuffers: what was written is on the disk when this answers 0.
  platform::Status Flush();

  // The handle, for the calls that only ask about the file; null when none is held.
  platform::Handle get() const { return handle_.get(); }

  // Closes the file now and reports how that went; the handle is gone either way. Closing a
  // KFile that holds no handle does nothing.
  platform::Status Close();

 private:
  UniqueHandle handle_;
};
