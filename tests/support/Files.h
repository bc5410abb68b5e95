#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// `size` bytes of `value`, little-endian, as the file and the registry hold numbers.
inline std::vector<std::uint8_t> LittleEndian(std::uint64_t value, std::size_t size) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < size; ++i)
    bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return bytes;
}

// A settings file: its 56-byte head (the list size taken from `listSize`), then `list`.
inline std::vector<std::uint8_t> SettingsFile(std::uint32_t protect, std::uint64_t maxCache,
                                              std::uint64_t yellow, std::uint64_t red,
                                              std::uint64_t green, std::uint32_t listSize,
                                              const std::vector<std::uint8_t>& list) {
  std::vector<std::uint8_t> file(56 + list.size(), 0);
  const auto put = [&](std::size_t offset, std::uint64_t value, std::size_t size) {
    const std::vector<std::uint8_t> bytes = LittleEndian(value, size);
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
  };
  put(0, protect, 4);
  put(8, maxCache, 8);
  put(16, yellow, 8);
  put(24, red, 8);
  put(32, green, 8);
  put(40, listSize, 4);
  std::copy(list.begin(), list.end(), file.begin() + 56);
  return file;
}
