#include "revisions.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::array<std::uint8_t, scsi::kInquirySize> inquiryWithRevision(const char* revision, std::size_t n)
{
    std::array<std::uint8_t, scsi::kInquirySize> data{};
    std::memcpy(data.data() + 8, "KORVANE QVX-5500        ", 24);
    std::memcpy(data.data() + 32, revision, n);
    data[36] = 'X'; // what follows the field must not leak into the revision
    return data;
}

TEST(Revisions, CurrentRevisionIsTheInquiryFieldUpToANul)
{
    EXPECT_EQ(flash::currentRevision(inquiryWithRevision("VQ8E", 4)), "VQ8E");
    EXPECT_EQ(flash::currentRevision(inquiryWithRevision("vq8e", 4)), "vq8E");
    EXPECT_EQ(flash::currentRevision(inquiryWithRevision("VQ\0E", 4)), "VQ");
    EXPECT_EQ(flash::currentRevision(inquiryWithRevision("\0\0\0\0", 4)), "");
}

TEST(Revisions, OnlyAsciiLowerCaseFourthCharactersAreRaised)
{
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"VQ8z", "VQ8Z"}, {"VQ8a", "VQ8A"}, {"VQ8{", "VQ8{"}, {"VQ8`", "VQ8`"},
             {"VQ8\xe9", "VQ8\xe9"}, {"VQ8", "VQ8"}, {"abcd", "abcD"}}) {
        std::string r = in;
        flash::upperFourth(r);
        EXPECT_EQ(r, out) << in;
    }
}

TEST(Revisions, ThirdCharacterChoosesTheImage)
{
    EXPECT_TRUE(flash::isIbmK("VQ8E"));
    EXPECT_TRUE(flash::isIbmK("VQ9"));
    EXPECT_FALSE(flash::isIbmK("VQ7Z"));
    EXPECT_FALSE(flash::isIbmK("VQA8"));
    EXPECT_FALSE(flash::isIbmK("V8"));
    EXPECT_FALSE(flash::isIbmK(""));
}

TEST(Revisions, NewRevisionComesFromTheLastTenCharactersOfThePath)
{
    EXPECT_EQ(flash::newRevision("/x/W2KVQ8E10.EXE", true), "VQ8E");
    EXPECT_EQ(flash::newRevision("/x/W2KVQ8E10.EXE", false), "VQ10");
    EXPECT_EQ(flash::newRevision("VQ8E10.EXE", true), "VQ8E");
    EXPECT_EQ(flash::newRevision("VQ8E10.EXE", false), "VQ10");
    EXPECT_EQ(flash::newRevision("Q8E10.EXE", true), "");
    EXPECT_EQ(flash::newRevision("Q8E10.EXE", false), "");
    EXPECT_EQ(flash::newRevision("", true), "");
    // A NUL inside the name ends it, as it would end a C string.
    EXPECT_EQ(flash::newRevision(std::string("/x/W2KVQ8E10.EXE\0garbage", 25), true), "VQ8E");
}

TEST(Revisions, ComparisonIsBytewiseUnsignedIgnoringCaseWithTheShorterTextSmaller)
{
    EXPECT_EQ(flash::compareRevisions("VQ8E", "VQ8E"), 0);
    EXPECT_LT(flash::compareRevisions("VQ8A", "VQ8E"), 0);
    EXPECT_GT(flash::compareRevisions("VQ8F", "VQ8E"), 0);
    EXPECT_GT(flash::compareRevisions("VQ8Z", "vq8D"), 0); // a release named in lower case
    EXPECT_EQ(flash::compareRevisions("vq8e", "VQ8E"), 0);
    EXPECT_GT(flash::compareRevisions("VQ8\xe9", "VQ8Z"), 0); // a high byte is large, not negative
    EXPECT_LT(flash::compareRevisions("VQ8", "VQ8E"), 0);
    EXPECT_GT(flash::compareRevisions("VQ8E", ""), 0);
    EXPECT_EQ(flash::compareRevisions("", ""), 0);
}

} // namespace
