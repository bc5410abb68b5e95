#include "app/KFile.h"

using namespace platform;

Status KFile::Open(const std::u16string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flags) {
  return CreateFileW(path.c_str(), desiredAccess, shareMode, creationDisposition,
                     kFileAttributeNormal | flags, handle_.put());
}

bool KFile::ReadExactly(void* buffer, std::uint32_t size) {
  std::uint32_t done = 0;
  return ReadFile(handle_.get(), buffer, size, &done) == kErrorSuccess && done == size;
}

bool KFile::WriteExactly(const void* buffer, std::uint32_t size) {
  std::uint32_t done = 0;
  return WriteFile(handle_.get(), buffer, size, &done) == kErrorSuccess && done == size;
}

Status KFile::GetSize(std::uint64_t* size) { return GetFileSizeEx(handle_.get(), size); }

Status KFile::Flush() { return FlushFileBuffers(handle_.get()); }

Status KFile::Close() { return handle_ ? CloseHandle(handle_.release()) : kErrorSuccess; }
