// Every call that changes the volume, in turn, fails or ends the process; afterwards every
// file stored before reads back whole, repair leaves the vault clean and work goes on.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "StoreFixture.h"
#include "fs.h"

namespace {

// The fixture's readers, outside a fixture.
struct Store : StoreTest {
public:
    using StoreTest::get;
    using StoreTest::list;
};

const std::string kPassword = "old password";
const std::string kNewPassword = "new password";
const std::string kHint = "old hint";

struct Operation {
    const char *name;
    std::function<void()> run;
    // Files the operation may move or remove: the stored path, where else it may be found,
    // and whether it may be gone.
    std::map<std::string, std::pair<std::string, bool>> changes;
};

const std::map<std::string, std::string> kStored = {
    {"keep/a.txt", "precious content of a"},
    {"top.txt", std::string(70000, 't') + "end"},
    {"src/m.txt", "moving"},
};

int putFile(const std::string &path, const std::string &content)
{
    int h = fs_open(path.c_str(), FS_O_WRITE, (uint64_t)content.size());
    if (h < 0)
        return -1;
    int written = content.empty() ? 0 : fs_write(h, content.data(), (uint32_t)content.size());
    int closed = fs_close(h);
    return written == (int)content.size() && closed == 0 ? 0 : -1;
}

std::vector<Operation> operations()
{
    return {
        {"import a small tree",
         [] {
             if (fs_mkdir("tree") == 0 && fs_mkdir("tree/sub") == 0 && putFile("tree/one", "1") == 0)
                 putFile("tree/sub/two", std::string(5000, '2'));
         },
         {}},
        {"import a tree in batches",
         [] {
             fs_batch_begin();
             if (fs_mkdir("tree") == 0 && fs_mkdir("tree/sub") == 0 && putFile("tree/one", "1") == 0 &&
                 fs_batch_commit() == 0 && putFile("tree/sub/two", std::string(5000, '2')) == 0)
                 fs_mkdir("tree/sub/later");
             fs_batch_end();
         },
         {}},
        {"mkdir", [] { fs_mkdir("made"); }, {}},
        {"rename", [] { fs_rename("top.txt", "renamed.txt"); }, {{"top.txt", {"renamed.txt", false}}}},
        {"move between folders",
         [] { fs_rename("src/m.txt", "keep/m.txt"); },
         {{"src/m.txt", {"keep/m.txt", false}}}},
        {"remove", [] { fs_unlink("top.txt"); }, {{"top.txt", {"", true}}}},
        {"remove a folder", [] { fs_rmdir("empty"); }, {}},
        {"copy",
         [] {
             std::string content = Store::get("keep/a.txt");
             putFile("keep/copy.txt", content);
         },
         {}},
        {"replace", [] { putFile("keep/a.txt", "replacement"); }, {{"keep/a.txt", {"", true}}}},
        {"passwd", [] { fs_chpasswd(kPassword.c_str(), kNewPassword.c_str(), "new hint"); }, {}},
        {"settings", [] { fs_set_config("backup.location", "appData"); }, {}},
    };
}

// A vault with the stored files, mounted and logged in.
void makeVault(const TempDir &volume)
{
    ASSERT_EQ(fs_mount(volume.path().c_str()), 2);
    ASSERT_EQ(fs_mkfs(kPassword.c_str(), kHint.c_str()), 0);
    ASSERT_EQ(fs_mkdir("keep"), 0);
    ASSERT_EQ(fs_mkdir("src"), 0);
    ASSERT_EQ(fs_mkdir("empty"), 0);
    for (const auto &[path, content] : kStored)
        ASSERT_EQ(putFile(path, content), 0) << path;
}

void loginAgain(const TempDir &volume)
{
    fs_umount();
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    if (fs_login(kPassword.c_str()) < 0) {
        ASSERT_GE(fs_login(kNewPassword.c_str()), 0) << "neither password opens the vault";
    }
}

void verifyAfterFault(const TempDir &volume, const Operation &op, const std::string &where)
{
    SCOPED_TRACE(where);
    loginAgain(volume);
    for (const auto &[path, content] : kStored) {
        auto change = op.changes.find(path);
        std::string got = Store::get(path);
        if (got != content && change != op.changes.end()) {
            if (!change->second.first.empty())
                got = Store::get(change->second.first);
            else if (change->second.second && got.rfind("<error", 0) == 0)
                continue;  // removed, as asked
        }
        if (op.changes.count(path) && change->second.second && got == "replacement")
            continue;
        EXPECT_TRUE(got == content) << path << " reads back as " << got.substr(0, 40);
    }
    std::vector<std::string> actions;
    ASSERT_GE(fs_repair([](const char *text,
                           void *ctx) { static_cast<std::vector<std::string> *>(ctx)->push_back(text); },
                        &actions),
              0);
    std::vector<std::string> problems;
    EXPECT_EQ(fs_check([](const fs_check_problem *p,
                          void *ctx) { static_cast<std::vector<std::string> *>(ctx)->push_back(p->text); },
                       &problems, nullptr),
              0)
        << (problems.empty() ? "" : problems[0]);
    char *hint = fs_get_prompt();
    EXPECT_TRUE(hint && (kHint == hint || std::string("new hint") == hint)) << "the hint was lost";
    free(hint);
    EXPECT_EQ(fs_mkdir("next"), 0);
    EXPECT_EQ(putFile("next/file", "after"), 0);
    EXPECT_EQ(Store::get("next/file"), "after");
    fs_set_config("backup.number", "3");
    char *number = fs_get_config("backup.number");
    EXPECT_STREQ(number, "3") << "settings blocked after the fault";
    free(number);
}

unsigned long countCalls(const Operation &op)
{
    TempDir volume;
    makeVault(volume);
    io_fault_arm(0, IO_FAULT_NONE, 0);
    op.run();
    unsigned long n = io_fault_calls();
    fs_umount();
    return n;
}

}  // namespace

TEST(FaultInjectionSeam, CountsFailsAndEndsAtTheArmedCall)
{
    TempDir volume;
    makeVault(volume);
    io_fault_arm(0, IO_FAULT_NONE, 0);
    ASSERT_EQ(fs_mkdir("counted"), 0);
    unsigned long calls = io_fault_calls();
    EXPECT_GE(calls, 3u);  // at least the new folder's open and the parent's open and rename
    io_fault_arm(1, IO_FAULT_FAIL, EIO);
    EXPECT_FAILS_WITH(fs_mkdir("refused"), EIO);
    EXPECT_TRUE(io_fault_fired());
    io_fault_arm(0, IO_FAULT_NONE, 0);
    EXPECT_EQ(Store::list("").size(), 5u);  // "refused" did not appear
    fs_umount();
}

TEST(FaultInjection, EveryCallOfEveryOperation)
{
    unsigned long points = 0;
    for (const Operation &op : operations()) {
        SCOPED_TRACE(op.name);
        unsigned long calls = countCalls(op);
        ASSERT_GT(calls, 0u);
        for (unsigned long n = 1; n <= calls; n++) {
            for (int err : {ENOSPC, EIO}) {
                TempDir volume;
                makeVault(volume);
                io_fault_arm(n, IO_FAULT_FAIL, err);
                op.run();
                io_fault_arm(0, IO_FAULT_NONE, 0);
                verifyAfterFault(volume, op, "call " + std::to_string(n) + " fails with " + strerror(err));
                fs_umount();
                points++;
            }
            TempDir volume;
            makeVault(volume);
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                io_fault_arm(n, IO_FAULT_EXIT, 0);
                op.run();
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status));
            verifyAfterFault(volume, op, "process ends at call " + std::to_string(n));
            fs_umount();
            points++;
            if (HasFailure())
                return;
        }
    }
    RecordProperty("injection_points", (int)points);
    printf("fault injection: %lu points covered\n", points);
}
