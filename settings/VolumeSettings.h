#pragma once

// The settings of one volume as they travel between its registry values and a settings file,
// and the 56-byte head that begins every settings file.

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/Unique.h"

// The list data of a record: a byte array on the free store, released as an array exactly once,
// by whoever holds the record.
using ListBuffer = UniqueArray<std::uint8_t>;

// A list buffer with room for `size` bytes of list data, or null when the memory cannot be had.
// Two bytes that are not part of the list follow the data, neither of them zero: when a string
// value's data does not end in a zero character, the registry's write looks at the character
// just past it and, if that is zero, stores it too. The guard keeps that look inside the buffer
// and keeps the list exactly as long as it is.
ListBuffer NewListBuffer(std::size_t size);

// A value-initialised record (`VolumeSettings settings;`) is the zero state: five zero numbers,
// an ExclusionListSize of 0 and no list buffer. The record owns its buffer and cannot be copied.
struct VolumeSettings {
  std::uint32_t Protected = 0;
  std::uint64_t MaxCacheSize = 0;
  std::uint64_t YellowLevel = 0;
  std::uint64_t RedLevel = 0;
  std::uint64_t GreenLevel = 0;
  std::uint32_t ExclusionListSize = 0;  // bytes of list data at the start of ExclusionList
  ListBuffer ExclusionList;
};

// The most list data that a volume's settings hold: the store reads no more, so an export never
// writes more, and an import takes no more into the registry.
inline constexpr std::uint32_t kMaxExclusionListSize = 8192;

inline constexpr std::size_t kSettingsHeadSize = 56;
using SettingsHead = std::array<std::uint8_t, kSettingsHeadSize>;

// The head of a settings file: the record's fields, little-endian, at the offsets of its natural
// 64-bit layout. The reserved bytes and the list reference (bytes 48 to 55) are written as
// zeros, so that unchanged settings always give the same file and no address leaves the process.
SettingsHead EncodeSettingsHead(const VolumeSettings& settings);

// Takes the five numbers and ExclusionListSize from a head. The reserved bytes and the list
// reference are ignored; the record's list buffer is left as it is.
void DecodeSettingsHead(const SettingsHead& head, VolumeSettings& settings);
