#include "file_masks.h"
#include "file_selection.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

constexpr const char* kIbmMask = builder::kIbmKMask;
constexpr const char* kOtherMask = builder::kNonIbmKMask;

TEST(FileMasks, EachFirmwareFileIsOfferedInItsOwnListOnly)
{
    EXPECT_TRUE(builder::matchesFileMask("VQ8E.BIN", kIbmMask));
    EXPECT_TRUE(builder::matchesFileMask("VQ9Z.BIN", kIbmMask));
    EXPECT_FALSE(builder::matchesFileMask("VQ8E.BIN", kOtherMask));
    EXPECT_TRUE(builder::matchesFileMask("VQ10.BIN", kOtherMask));
    EXPECT_TRUE(builder::matchesFileMask("VQ7A.BIN", kOtherMask));
    EXPECT_FALSE(builder::matchesFileMask("VQ10.BIN", kIbmMask));
}

TEST(FileMasks, QuestionMarkIsExactlyOneCharacter)
{
    EXPECT_FALSE(builder::matchesFileMask("VQ8.BIN", kIbmMask));
    EXPECT_FALSE(builder::matchesFileMask("VQ8EE.BIN", kIbmMask));
    EXPECT_FALSE(builder::matchesFileMask("VQ8E.BIN.bak", kIbmMask));
    EXPECT_FALSE(builder::matchesFileMask("XVQ8E.BIN", kIbmMask));
    EXPECT_TRUE(builder::matchesFileMask("VQ8E.BIN", "*.BIN"));
    EXPECT_TRUE(builder::matchesFileMask("a.b.BIN", "*.BIN;"));
    EXPECT_FALSE(builder::matchesFileMask("a.BIX", "*.BIN;"));
}

TEST(FileMasks, StarMatchesAnyRunAlsoOneHoldingAStar)
{
    EXPECT_TRUE(builder::matchesFileMask("*a", "*"));
    EXPECT_TRUE(builder::matchesFileMask("*a", "*a"));
    EXPECT_TRUE(builder::matchesFileMask("x*y.BIN", "x*.BIN"));
    EXPECT_FALSE(builder::matchesFileMask("*a", "*b"));
}

TEST(FileMasks, NamesMatchWhateverTheirCase)
{
    EXPECT_TRUE(builder::matchesFileMask("vq8e.bin", kIbmMask));
    EXPECT_TRUE(builder::matchesFileMask("Vq10.Bin", kOtherMask));
}

TEST(FileMasks, EmptyMaskOrEmptyPatternsMatchNothing)
{
    EXPECT_FALSE(builder::matchesFileMask("VQ8E.BIN", ""));
    EXPECT_FALSE(builder::matchesFileMask("VQ8E.BIN", ";;"));
}

TEST(FileMasks, ListsOnlyMatchingRegularFilesSorted)
{
    const testsupport::TempFolder dir("masks");
    std::filesystem::create_directory(dir / "VQ80.BIN"); // a directory, not a file
    for (const char* name : {"VQ9A.BIN", "VQ8E.BIN", "VQ10.BIN", "notes.txt", "vq8f.bin"})
        std::ofstream(dir / name) << "x";
    EXPECT_EQ((std::vector<std::string>{"VQ8E.BIN", "VQ9A.BIN", "vq8f.bin"}),
              builder::listMatchingFiles(dir.path().string(), kIbmMask));
    EXPECT_TRUE(builder::listMatchingFiles((dir / "missing").string(), kIbmMask).empty());
}

} // namespace
