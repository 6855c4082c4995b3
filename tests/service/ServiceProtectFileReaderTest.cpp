// Reading protected files into memory for previews.
#include <cerrno>

#include "TransferTestSupport.h"
#include "XXProtectFileReader.h"

namespace {

class ServiceProtectFileReader : public TransferFixture {
protected:
    // The errno of a read that gives nothing; 0 when it gives content.
    int refusal(const XXProtectFileWrapper &file, std::uint64_t limit)
    {
        errno = 0;
        return readProtectFileContent(*manager, file, limit) ? 0 : errno;
    }
};

TEST_F(ServiceProtectFileReader, ReadsUpToTheLimitAndRefusesWhatIsLargerOrNoFile)
{
    const std::string picture = randomContent(3 * 1024 * 1024 + 5, 2);
    storeAll({{"/Pictures/", ""}, {"/Pictures/big.png", picture}, {"/small.png", "tiny"}});
    EXPECT_EQ(readProtectFileContent(*manager, *entry("/small.png"), 4), "tiny");  // exactly the limit
    EXPECT_EQ(readProtectFileContent(*manager, *entry("/Pictures/big.png"), picture.size()), picture);
    EXPECT_EQ(refusal(*entry("/small.png"), 3), EFBIG);
    // The tree's size is only a hint: a store that holds more is still refused.
    entry("/Pictures/big.png")->setFileSize(10);
    EXPECT_EQ(refusal(*entry("/Pictures/big.png"), 1024 * 1024), EFBIG);

    EXPECT_EQ(refusal(*entry("/Pictures"), 100), EISDIR);
    EXPECT_EQ(refusal(*showGhost("/Pictures", "gone.png", 3), 100), ENOENT);
}

}  // namespace
