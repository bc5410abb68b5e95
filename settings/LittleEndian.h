#pragma once

// Numbers as the settings file and the registry hold them: little-endian, whatever the machine.

#include <cstddef>
#include <cstdint>

template <typename T>
void StoreLittleEndian(std::uint8_t* bytes, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

template <typename T>
T LoadLittleEndian(const std::uint8_t* bytes) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(bytes[i]) << (8 * i);
  return value;
}
