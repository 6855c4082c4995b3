// An entry an interrupted write left unfinished is no file to keep: copy and move inside the
// vault replace it at the destination without asking, while a whole file still clashes.
#include <algorithm>

#include <sys/wait.h>
#include <unistd.h>

#include "TransferTestSupport.h"

namespace {

class ServiceIncomplete : public TransferFixture {
protected:
    // Starts writing path (announced at twice content's size) in a child that ends halfway.
    static void storePutInterrupted(const std::string &path, const std::string &content)
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(20);  // a hang in the child must not hang the suite
            const int handle = fs_open(path.c_str(), FS_O_WRITE, 2 * content.size());
            if (handle >= 0)
                fs_write(handle, content.data(), static_cast<std::uint32_t>(content.size()));
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        // The writer may still hold the first block in memory, so the entry can read back
        // short or not at all; either way it is listed and not whole.
        const size_t slash = path.rfind('/');
        const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
        const Names listed = storeList(folder).value_or(Names{});
        ASSERT_NE(std::find(listed.begin(), listed.end(), path.substr(slash + 1)), listed.end())
            << path << " was not entered";
        const std::optional<std::string> got = storeGet(path);
        if (got) {
            ASSERT_LT(got->size(), 2 * content.size()) << path << " should read back short";
        }
    }
    size_t childrenNamed(const std::string &folder, const std::string &name)
    {
        size_t n = 0;
        for (const auto &child : entry(folder)->allSubFileArray())
            n += child->fileName() == name;
        return n;
    }
};

TEST_F(ServiceIncomplete, CopyAndMoveReplaceAnIncompleteEntryButAskAboutAWholeOne)
{
    storeAll({{"/Src/", ""},
              {"/Src/a.txt", "new a"},
              {"/Src/b.txt", "new b"},
              {"/Src/m.txt", "moved"},
              {"/Dest/", ""},
              {"/Dest/b.txt", "old b"}});
    storePutInterrupted("/Dest/a.txt", randomContent(300000, 4));
    storePutInterrupted("/Dest/M.TXT", randomContent(300000, 5));
    refreshTree();
    operate({"/Src/a.txt", "/Src/b.txt"}, "/Dest", true);
    expectReport(lastReport(), "12+1", 6, "b.txt");  // a.txt went through without a question
    manager->operateJob().continueWithExistType(XXExistFreeNameOne);
    expectSuccess(lastReport());
    operate({"/Src/m.txt"}, "/Dest", false);
    expectSuccess(lastReport());
    EXPECT_EQ(storeGet("/Dest/a.txt"), "new a");
    EXPECT_EQ(storeGet("/Dest/b.txt"), "old b");
    EXPECT_EQ(storeGet("/Dest/b(0).txt"), "new b");
    EXPECT_EQ(storeGet("/Dest/m.txt"), "moved");
    EXPECT_EQ(storeList("/Dest"), (Names{"a.txt", "b(0).txt", "b.txt", "m.txt"}));
    EXPECT_EQ(storeList("/Src"), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(childrenNamed("/Dest", "a.txt"), 1u);
    EXPECT_EQ(entry("/Dest/a.txt")->fileSize(), 5u);
}

}  // namespace
