// The clipboard and drag formats as the file managers read and write them.
#include <QMimeData>

#include <gtest/gtest.h>

#include "XXClipboard.h"
#include "XXMimeFormats.h"

using namespace xxplatform;

TEST(MimeFormats, FilesOfferedToFileManagersInTheirThreeFormats)
{
    QMimeData data;
    setLocalFiles(data, {"/tmp/a b.txt", std::string("/tmp/caf\xC3\xA9"), std::string("/tmp/raw\xFF")}, true);
    EXPECT_EQ(data.data(uriListMimeType),
              "file:///tmp/a%20b.txt\r\nfile:///tmp/caf%C3%A9\r\nfile:///tmp/raw%FF\r\n");
    // Nautilus rejects the whole value when it ends in a newline.
    EXPECT_EQ(data.data(gnomeCopiedFilesMimeType),
              "cut\nfile:///tmp/a%20b.txt\nfile:///tmp/caf%C3%A9\nfile:///tmp/raw%FF");
    EXPECT_EQ(data.data(kdeCutSelectionMimeType), "1");

    QMimeData copy;
    setLocalFiles(copy, {"/x"}, false);
    EXPECT_EQ(copy.data(gnomeCopiedFilesMimeType), "copy\nfile:///x");
    EXPECT_EQ(copy.data(kdeCutSelectionMimeType), "0");
    // What we offer reads back as the same bytes.
    EXPECT_EQ(localFilesFrom(&data),
              (std::vector<std::string>{"/tmp/a b.txt", "/tmp/caf\xC3\xA9", "/tmp/raw\xFF"}));
}

TEST(MimeFormats, ForeignFilesKeepOnlyLocalURLs)
{
    QMimeData data;
    data.setData(uriListMimeType,
                 "# a comment\r\nfile:///home/a/x.txt\r\nhttp://example.org/y\r\n"
                 "file://otherhost/z\r\nfile://localhost/home/a/%E4%BD%A0\r\n"
                 "file:///bad%00name\r\n\r\n");
    EXPECT_EQ(localFilesFrom(&data), (std::vector<std::string>{"/home/a/x.txt", "/home/a/\xE4\xBD\xA0"}));
    EXPECT_TRUE(offersForeignFiles(&data));

    QMimeData gnome;
    gnome.setData(gnomeCopiedFilesMimeType, "copy\nfile:///a\nfile:///b\n");
    EXPECT_EQ(localFilesFrom(&gnome), (std::vector<std::string>{"/a", "/b"}));

    QMimeData ours;
    setLocalFiles(ours, {"/cache/x"}, false);
    markAsOurs(ours);
    EXPECT_FALSE(offersForeignFiles(&ours)) << "our own staged copies are never imported as files";
    EXPECT_FALSE(offersForeignFiles(nullptr));
}

TEST(MimeFormats, RecordsAndRowsSurviveAnyNameAndRefuseJunk)
{
    const QList<XXItemRecord> records = {{"/a/b\xFF\x01", true, false}, {"/c.txt", false, true}};
    EXPECT_EQ(decodeRecords(encodeRecords(records, true)), records);
    const auto withoutFlag = decodeRecords(encodeRecords(records, false));
    ASSERT_EQ(withoutFlag.size(), 2);
    EXPECT_TRUE(withoutFlag[0].isCopy) << "records without the flag are copies";

    EXPECT_TRUE(decodeRecords("not json").isEmpty());
    EXPECT_EQ(decodeRecords(R"([{"path":1},{"isDir":true},{"path":"/ok"}])").size(), 1);
    EXPECT_EQ(decodeRows(encodeRows({3, 0, 7})), (QList<int>{3, 0, 7}));
    EXPECT_EQ(decodeRows(R"([1,-2,"x",4])"), (QList<int>{1, 4}));
}
