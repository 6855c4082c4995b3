// The name rules the transfers share, where the transfer tests do not meet them: plain free
// names and folders inside folders show in the import, export and copy tests.
#include <gtest/gtest.h>

#include "XXTransferNames.h"

namespace {

using namespace xxtransfer;

TEST(ServiceTransferNames, FreeNamesNumberBeforeTheLastExtension)
{
    EXPECT_EQ(numberedName(".profile", false, 0), ".profile(0)");
    EXPECT_EQ(numberedName("trailing.", false, 0), "trailing.(0)");
    EXPECT_EQ(numberedName("Photos.2024", true, 3), "Photos.2024(3)");  // folders keep their dots

    const std::vector<std::string> taken = {"a(0).txt", "A(1).TXT"};
    auto isTaken = [&](const std::string &name) {
        for (const std::string &t : taken)
            if (sameStoreName(t, name))
                return true;
        return false;
    };
    EXPECT_EQ(freeName("a.txt", false, isTaken), "a(2).txt");
    EXPECT_EQ(freeName("a.txt", false, [](const std::string &) { return true; }), "");
}

TEST(ServiceTransferNames, InsideMeansWholeComponentsWhateverTheCase)
{
    EXPECT_TRUE(isSameOrInside("/a/b", "/A/"));
    EXPECT_FALSE(isSameOrInside("/A", "/A/B"));
    EXPECT_TRUE(isSameOrInside("/anything", "/"));
    EXPECT_FALSE(isSameOrInside("/", "/A"));
}

TEST(ServiceTransferNames, WhatTheStoreAndTheComputerCanHold)
{
    for (const char *name : {"", ".", "..", "a/b", "a\\b"}) {
        EXPECT_FALSE(canBeStoreName(name)) << name;
        EXPECT_FALSE(canBeComputerName(name)) << name;
    }
    EXPECT_FALSE(canBeComputerName(std::string("a\0b", 3)));
    EXPECT_FALSE(canBeStoreName("what?"));
    EXPECT_TRUE(canBeComputerName("what?"));
    EXPECT_FALSE(canBeStoreName(std::string(256, 'x')));
    EXPECT_TRUE(canBeStoreName(std::string(255, 'x')));
    EXPECT_FALSE(canBeStoreName("\xff\xfe"));
    EXPECT_TRUE(canBeStoreName("Übersicht ..txt"));
}

}  // namespace
