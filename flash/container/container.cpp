#include "container.h"

#include <algorithm>

namespace flash {
namespace {

// Character arrays only, so the pieces follow each other with no padding.
struct Container {
    char startKeyword[kStartKeywordSize];
    unsigned char slot1[kImageSize];
    unsigned char slot2[kImageSize];
    char endKeyword[kEndKeywordSize];
    char marker1[kMarkerSize];
    char marker2[kMarkerSize];
};

static_assert(sizeof(Container) == kContainerSize);
static_assert(offsetof(Container, slot1) == kSlot1Offset);
static_assert(offsetof(Container, slot2) == kSlot2Offset);
static_assert(offsetof(Container, endKeyword) == kEndKeywordOffset);
static_assert(offsetof(Container, marker1) == kMarker1Offset);
static_assert(offsetof(Container, marker2) == kMarker2Offset);

} // namespace

// Not const and with external linkage, so it lands in the initialised data section
// exactly as written, and the compiler may not assume what it holds: the builder
// patches the slots in the program file. The key-word is spelt here once; the builder
// searches with these very bytes, so no earlier copy of it exists in the program.
extern "C" {
[[gnu::used]] Container korvane_flash_container = {
    "BIN-START-ADDR",
    {'Q', 'O', 'R', 'M', '0', '1'},
    {'Q', 'O', 'R', 'M', '0', '2'},
    "BIN-END-ADDR",
    "QORM01",
    "QORM02",
};
}

namespace {

// Hides where the pointer comes from, so every read goes to memory.
const unsigned char* containerBytes()
{
    const void* p = &korvane_flash_container;
    asm volatile("" : "+r"(p));
    return static_cast<const unsigned char*>(p);
}

} // namespace

std::span<const std::uint8_t, kImageSize> slot1()
{
    return std::span<const std::uint8_t, kImageSize>(containerBytes() + kSlot1Offset, kImageSize);
}

std::span<const std::uint8_t, kImageSize> slot2()
{
    return std::span<const std::uint8_t, kImageSize>(containerBytes() + kSlot2Offset, kImageSize);
}

std::span<const std::uint8_t, kStartKeywordSize> startKeyword()
{
    return std::span<const std::uint8_t, kStartKeywordSize>(containerBytes(), kStartKeywordSize);
}

std::span<const std::uint8_t, kMarkerSize> emptySlotMarker()
{
    return std::span<const std::uint8_t, kMarkerSize>(containerBytes() + kMarker1Offset, kMarkerSize);
}

std::span<const std::uint8_t, kContainerSize> wholeContainer()
{
    return std::span<const std::uint8_t, kContainerSize>(containerBytes(), kContainerSize);
}

bool slotIsEmptyMarker(std::span<const std::uint8_t> slot, std::span<const std::uint8_t> marker)
{
    return slot.size() >= kMarkerCompared && marker.size() >= kMarkerCompared
        && std::equal(marker.begin(), marker.begin() + kMarkerCompared, slot.begin());
}

bool isTemplate()
{
    return slotIsEmptyMarker(slot1(), emptySlotMarker());
}

} // namespace flash
