// The program file that CMake builds is the template: its container stands in the file
// byte for byte, and it is the first thing there that the builder's search would find.
#include "container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<char> readProgram()
{
    std::ifstream in(FLASHUTIL_PATH, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

std::size_t find(const std::vector<char>& bytes, std::string_view what, std::size_t from = 0)
{
    const auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), what.begin(), what.end());
    return it == bytes.end() ? std::string::npos : static_cast<std::size_t>(it - bytes.begin());
}

TEST(ProgramFile, IsNamedAsTheTemplate)
{
    const std::string path = FLASHUTIL_PATH;
    EXPECT_EQ("W2KVQXXXX.EXE", path.substr(path.rfind('/') + 1));
}

TEST(ProgramFile, ContainerIsTheFirstCompleteStartKeywordAndLaidOutWithoutGaps)
{
    const auto file = readProgram();
    ASSERT_GT(file.size(), flash::kContainerSize);
    const std::string_view start("BIN-START-ADDR\0", 15);
    const std::size_t at = find(file, start);
    ASSERT_NE(std::string::npos, at);
    ASSERT_LE(at + flash::kContainerSize, file.size());

    // The template container, as this test program carries it too, stands there byte for byte.
    const auto inMemory = flash::wholeContainer();
    EXPECT_TRUE(std::equal(inMemory.begin(), inMemory.end(),
                           reinterpret_cast<const std::uint8_t*>(file.data() + at)));

    EXPECT_EQ(0, std::memcmp(file.data() + at + flash::kSlot1Offset, "QORM01", 6));
    EXPECT_EQ(0, std::memcmp(file.data() + at + flash::kSlot1Offset + 2 * flash::kImageSize,
                             "BIN-END-ADDR\0QORM01\0QORM02\0", 27));
    EXPECT_EQ(flash::kSlot1Offset + 2 * flash::kImageSize + 27, flash::kContainerSize);
}

TEST(ProgramFile, PatchingSlotOneIsAllItTakesToLeaveTheTemplateState)
{
    auto file = readProgram();
    const std::size_t at = find(file, std::string_view("BIN-START-ADDR\0", 15));
    ASSERT_NE(std::string::npos, at);
    ASSERT_LE(at + flash::kContainerSize, file.size());
    const auto slotOf = [&](const std::vector<char>& f) {
        return std::span(reinterpret_cast<const std::uint8_t*>(f.data() + at + flash::kSlot1Offset), flash::kImageSize);
    };
    const auto markerOf = [&](const std::vector<char>& f) {
        return std::span(reinterpret_cast<const std::uint8_t*>(f.data() + at + flash::kMarker1Offset), flash::kMarkerSize);
    };
    EXPECT_TRUE(flash::slotIsEmptyMarker(slotOf(file), markerOf(file)));
    std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(at + flash::kSlot1Offset), flash::kImageSize, '\x5a');
    EXPECT_FALSE(flash::slotIsEmptyMarker(slotOf(file), markerOf(file)));
    // The key-word is still found at the same place, so a patched program can be rebuilt.
    EXPECT_EQ(at, find(file, std::string_view("BIN-START-ADDR\0", 15)));
    // Running such a patched copy is checked in tests/e2e (it starts in flash mode).
}

} // namespace
