#include "container.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

TEST(Container, TemplateBuildHoldsTheMarkersAndKeywords)
{
    const auto all = flash::wholeContainer();
    EXPECT_EQ(0, std::memcmp(all.data(), "BIN-START-ADDR", flash::kStartKeywordSize));
    EXPECT_EQ(0, std::memcmp(all.data() + flash::kEndKeywordOffset, "BIN-END-ADDR", flash::kEndKeywordSize));
    EXPECT_EQ(0, std::memcmp(all.data() + flash::kMarker1Offset, "QORM01", flash::kMarkerSize));
    EXPECT_EQ(0, std::memcmp(all.data() + flash::kMarker2Offset, "QORM02", flash::kMarkerSize));
    EXPECT_EQ(flash::slot1().data(), all.data() + flash::kSlot1Offset);
    EXPECT_EQ(flash::slot2().data(), all.data() + flash::kSlot2Offset);
    EXPECT_TRUE(flash::isTemplate());
}

TEST(Container, OnlyTheFirstSixBytesOfSlotOneDecideTheMode)
{
    const std::array<std::uint8_t, 7> marker{'Q', 'O', 'R', 'M', '0', '1', 0};
    std::array<std::uint8_t, 16> slot{'Q', 'O', 'R', 'M', '0', '1', 'x', 'y'};
    EXPECT_TRUE(flash::slotIsEmptyMarker(slot, marker)); // no NUL compared
    slot[5] = '2';
    EXPECT_FALSE(flash::slotIsEmptyMarker(slot, marker)); // "QORM02" is a finished program
    slot[5] = '1';
    slot[0] = 'q';
    EXPECT_FALSE(flash::slotIsEmptyMarker(slot, marker));
    EXPECT_FALSE(flash::slotIsEmptyMarker(std::span(slot).first(5), marker));
}

} // namespace
