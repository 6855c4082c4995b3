// Reading protected files into memory for previews.
#include <cerrno>

#include "TransferTestSupport.h"
#include "XXProtectFileReader.h"

namespace {

class ServiceProtectFileReader : public TransferFixture {};

TEST_F(ServiceProtectFileReader, ReadsUpToTheLimitAndRefusesWhatIsLarger)
{
    const std::string picture = randomContent(3 * 1024 * 1024 + 5, 2);
    storeAll({{"/Pictures/", ""}, {"/Pictures/big.png", picture}, {"/small.png", "tiny"}});
    EXPECT_EQ(readProtectFileContent(*manager, *entry("/small.png"), 4), "tiny");  // exactly the limit
    EXPECT_EQ(readProtectFileContent(*manager, *entry("/Pictures/big.png"), picture.size()), picture);

    errno = 0;
    EXPECT_FALSE(readProtectFileContent(*manager, *entry("/small.png"), 3));
    EXPECT_EQ(errno, EFBIG);
    // The tree's size is only a hint: a store that holds more is still refused.
    entry("/Pictures/big.png")->setFileSize(10);
    errno = 0;
    EXPECT_FALSE(readProtectFileContent(*manager, *entry("/Pictures/big.png"), 1024 * 1024));
    EXPECT_EQ(errno, EFBIG);
}

TEST_F(ServiceProtectFileReader, FoldersAndMissingFilesGiveNothingWithTheReason)
{
    storeAll({{"/Pictures/", ""}});
    errno = 0;
    EXPECT_FALSE(readProtectFileContent(*manager, *entry("/Pictures"), 100));
    EXPECT_EQ(errno, EISDIR);
    auto ghost = showGhost("/Pictures", "gone.png", 3);
    errno = 0;
    EXPECT_FALSE(readProtectFileContent(*manager, *ghost, 100));
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
