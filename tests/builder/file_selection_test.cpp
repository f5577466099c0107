#include "file_selection.h"

#include <gtest/gtest.h>

namespace {

TEST(FileSelection, ButtonIsEnabledByTheSecondListsClickNotTheFirst)
{
    builder::FileSelection s;
    auto first = s.pickIbmK("/w/VQ8E.BIN", false);
    EXPECT_FALSE(first.enableButton);
    EXPECT_FALSE(s.buttonEnabled());
    EXPECT_EQ("IBM-K BIN file: VQ8E.BIN", first.labelCaption);

    auto second = s.pickNonIbmK("/w/VQ10.BIN", true);
    EXPECT_TRUE(second.enableButton);
    EXPECT_TRUE(s.buttonEnabled());
    EXPECT_EQ("NonIBM-K BIN file: VQ10.BIN", second.labelCaption);
}

TEST(FileSelection, EitherOrderWorks)
{
    builder::FileSelection s;
    EXPECT_FALSE(s.pickNonIbmK("/w/VQ10.BIN", false).enableButton);
    EXPECT_FALSE(s.buttonEnabled());
    EXPECT_TRUE(s.pickIbmK("/w/VQ8E.BIN", true).enableButton);
    EXPECT_TRUE(s.buttonEnabled());
}

TEST(FileSelection, RepickReplacesNameAndLabelAndNeverDisables)
{
    builder::FileSelection s;
    s.pickIbmK("/w/VQ8E.BIN", false);
    s.pickNonIbmK("/w/VQ10.BIN", true);

    auto again = s.pickIbmK("/other/dir/VQ9A.BIN", false);
    EXPECT_EQ("IBM-K BIN file: VQ9A.BIN", again.labelCaption);
    EXPECT_EQ("VQ9A.BIN", s.ibmKName());
    EXPECT_EQ("/other/dir/VQ9A.BIN", s.ibmKPath());
    EXPECT_EQ("VQ10.BIN", s.nonIbmKName());
    EXPECT_TRUE(s.buttonEnabled());

    s.pickNonIbmK("/w/VQ7B.BIN", false);
    EXPECT_EQ("VQ7B.BIN", s.nonIbmKName());
    EXPECT_EQ("/w/VQ7B.BIN", s.nonIbmKPath());
    EXPECT_TRUE(s.buttonEnabled());
}

TEST(FileSelection, ShortNameIsTheLastPathComponent)
{
    EXPECT_EQ("VQ8E.BIN", builder::fileNamePart("/a/b/VQ8E.BIN"));
    EXPECT_EQ("VQ8E.BIN", builder::fileNamePart("VQ8E.BIN"));
    EXPECT_EQ("", builder::fileNamePart("/a/b/"));
}

} // namespace
