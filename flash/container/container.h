// The firmware container carried in the program's own initialised data:
//   "BIN-START-ADDR\0" | slot 1 (262144) | slot 2 (262144) | "BIN-END-ADDR\0" | "QORM01\0" | "QORM02\0"
// with no gaps. A template holds "QORM01" at the start of slot 1; the builder finds the
// container in a copy of the program file by its start key-word and fills the slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace flash {

inline constexpr std::size_t kImageSize = 262144;
inline constexpr std::size_t kStartKeywordSize = 15; // "BIN-START-ADDR" and its NUL
inline constexpr std::size_t kEndKeywordSize = 13;   // "BIN-END-ADDR" and its NUL
inline constexpr std::size_t kMarkerSize = 7;        // "QORM01" and its NUL
inline constexpr std::size_t kMarkerCompared = 6;    // the NUL is not compared

// Offsets inside the container, from the first byte of the start key-word.
inline constexpr std::size_t kSlot1Offset = kStartKeywordSize;
inline constexpr std::size_t kSlot2Offset = kSlot1Offset + kImageSize;
inline constexpr std::size_t kEndKeywordOffset = kSlot2Offset + kImageSize;
inline constexpr std::size_t kMarker1Offset = kEndKeywordOffset + kEndKeywordSize;
inline constexpr std::size_t kMarker2Offset = kMarker1Offset + kMarkerSize;
inline constexpr std::size_t kContainerSize = kMarker2Offset + kMarkerSize;

// Views of the running program's container, read from memory at run time (the file
// may have been patched by the builder, so nothing here is known at compile time).
std::span<const std::uint8_t, kImageSize> slot1();
std::span<const std::uint8_t, kImageSize> slot2();
std::span<const std::uint8_t, kStartKeywordSize> startKeyword();
std::span<const std::uint8_t, kMarkerSize> emptySlotMarker(); // "QORM01\0"
std::span<const std::uint8_t, kContainerSize> wholeContainer();

// True when the slot begins with the 6 bytes of the empty-slot marker.
bool slotIsEmptyMarker(std::span<const std::uint8_t> slot,
                       std::span<const std::uint8_t> marker);

// The running program is a template: its slot 1 begins with "QORM01".
bool isTemplate();

} // namespace flash
