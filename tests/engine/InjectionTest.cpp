// Every call that changes the volume, in turn, fails or ends the process; afterwards every
// file stored before reads back whole, one password opens the vault with the hint set with it,
// what the operation reported done is there, repair leaves the vault clean and work goes on.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "StoreFixture.h"
#include "fs.h"

namespace {

// The fixture's readers, outside a fixture.
struct Store : StoreTest {
public:
    using StoreTest::get;
    using StoreTest::list;
    using StoreTest::put;
};

const std::string kPassword = "old password";
const std::string kNewPassword = "new password";
const std::string kHint = "old hint";
const std::string kNewHint = "new hint";

bool listed(const std::string &folder, const std::string &name)
{
    const std::vector<std::string> names = Store::list(folder);
    return std::find(names.begin(), names.end(), name) != names.end();
}

struct Operation {
    const char *name;
    std::function<bool()> run;  // whether the operation reported success
    // Seen by a program that opens the vault again with the password that holds.
    std::function<bool(const std::string &holds)> done;
    // Files the operation may move or remove: the stored path, where else it may be found,
    // and whether it may be gone.
    std::map<std::string, std::pair<std::string, bool>> changes;
    bool password = false;  // changes the password and hint
};

const std::map<std::string, std::string> kStored = {
    {"keep/a.txt", "precious content of a"},
    {"top.txt", std::string(70000, 't') + "end"},
    {"src/m.txt", "moving"},
};

std::vector<Operation> operations()
{
    const std::string top = kStored.at("top.txt");
    const std::string twos(5000, '2');
    return {
        {"import a small tree",
         [=] {
             return fs_mkdir("tree") == 0 && fs_mkdir("tree/sub") == 0 && Store::put("tree/one", "1") == 0 &&
                 Store::put("tree/sub/two", twos) == 0;
         },
         [=](const std::string &) {
             return Store::get("tree/one") == "1" && Store::get("tree/sub/two") == twos;
         },
         {}},
        {"import a tree in batches",
         [=] {
             fs_batch_begin();
             const bool made = fs_mkdir("tree") == 0 && fs_mkdir("tree/sub") == 0 &&
                 Store::put("tree/one", "1") == 0 && fs_batch_commit() == 0 &&
                 Store::put("tree/sub/two", twos) == 0 && fs_mkdir("tree/sub/later") == 0;
             return fs_batch_end() == 0 && made;
         },
         [=](const std::string &) {
             return Store::get("tree/sub/two") == twos && listed("tree/sub", "later/");
         },
         {}},
        {"mkdir",
         [] { return fs_mkdir("made") == 0; },
         [](const std::string &) { return listed("", "made/"); },
         {}},
        {"rename",
         [] { return fs_rename("top.txt", "renamed.txt") == 0; },
         [=](const std::string &) { return Store::get("renamed.txt") == top && !listed("", "top.txt"); },
         {{"top.txt", {"renamed.txt", false}}}},
        {"move between folders",
         [] { return fs_rename("src/m.txt", "keep/m.txt") == 0; },
         [](const std::string &) { return Store::get("keep/m.txt") == "moving" && !listed("src", "m.txt"); },
         {{"src/m.txt", {"keep/m.txt", false}}}},
        {"remove",
         [] { return fs_unlink("top.txt") == 0; },
         [](const std::string &) { return !listed("", "top.txt"); },
         {{"top.txt", {"", true}}}},
        {"remove a folder",
         [] { return fs_rmdir("empty") == 0; },
         [](const std::string &) { return !listed("", "empty/"); },
         {}},
        {"copy",
         [] {
             const std::string content = Store::get("keep/a.txt");
             return content.rfind("<error", 0) != 0 && Store::put("keep/copy.txt", content) == 0;
         },
         [](const std::string &) { return Store::get("keep/copy.txt") == kStored.at("keep/a.txt"); },
         {}},
        {"replace",
         [] { return Store::put("keep/a.txt", "replacement") == 0; },
         [](const std::string &) { return Store::get("keep/a.txt") == "replacement"; },
         {{"keep/a.txt", {"", true}}}},
        {"passwd",
         [] { return fs_chpasswd(kPassword.c_str(), kNewPassword.c_str(), kNewHint.c_str()) >= 0; },
         [](const std::string &holds) { return holds == kNewPassword; },
         {},
         true},
        {"passwd before logging in",
         [] {
             const std::string volume = std::filesystem::path(fs_store_dir()).parent_path();
             fs_umount();
             return fs_mount(volume.c_str()) >= 0 &&
                 fs_chpasswd(kPassword.c_str(), kNewPassword.c_str(), kNewHint.c_str()) >= 0;
         },
         [](const std::string &holds) { return holds == kNewPassword; },
         {},
         true},
        {"settings",
         [] { return fs_set_config("backup.location", "appData") == 0; },
         [](const std::string &) {
             char *value = fs_get_config("backup.location");
             const bool set = value && std::string(value) == "appData";
             free(value);
             return set;
         },
         {}},
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
        ASSERT_EQ(Store::put(path, content), 0) << path;
}

std::string prompt()
{
    char *hint = fs_get_prompt();
    std::string text = hint ? hint : "<none>";
    free(hint);
    return text;
}

// Mounts as a new program would; returns the password that opens the vault.
std::string loginAgain(const TempDir &volume)
{
    fs_umount();
    EXPECT_EQ(fs_mount(volume.path().c_str()), 0);
    const std::string shownBefore = prompt();
    const bool oldOpens = fs_login(kPassword.c_str()) >= 0, newOpens = fs_login(kNewPassword.c_str()) >= 0;
    EXPECT_NE(oldOpens, newOpens) << "exactly one password must open the vault";
    const std::string holds = newOpens ? kNewPassword : kPassword, hint = newOpens ? kNewHint : kHint;
    EXPECT_EQ(shownBefore, hint) << "hint shown before logging in";
    EXPECT_GE(fs_login(holds.c_str()), 0);
    EXPECT_EQ(prompt(), hint) << "hint after logging in";
    return holds;
}

// Adds the password that held to held.
void verifyAfterFault(const TempDir &volume, const Operation &op, const std::string &where, bool reportedDone,
                      std::set<std::string> &held)
{
    SCOPED_TRACE(where);
    const std::string holds = loginAgain(volume);
    held.insert(holds);
    if (reportedDone) {
        EXPECT_TRUE(op.done(holds)) << "reported done, but a program opening the vault again does not see it";
    }
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
    int repaired = -1;
    repairVault(&repaired);
    ASSERT_GE(repaired, 0);
    const CheckRun run = checkVault();
    EXPECT_EQ(run.result, 0) << run.all();
    EXPECT_EQ(fs_mkdir("next"), 0);
    EXPECT_EQ(Store::put("next/file", "after"), 0);
    EXPECT_EQ(Store::get("next/file"), "after");
    fs_set_config("backup.number", "3");
    char *number = fs_get_config("backup.number");
    EXPECT_STREQ(number, "3") << "settings blocked after the fault";
    free(number);
    if (!op.password)
        return;
    // The next change works and is committed, not only shown, whichever password held.
    EXPECT_GE(fs_chpasswd(holds.c_str(), "third password", "third hint"), 0);
    fs_umount();
    ASSERT_EQ(fs_mount(volume.path().c_str()), 0);
    EXPECT_EQ(prompt(), "third hint");
    char *committed = fs_get_config("core.prompt");
    EXPECT_STREQ(committed, "third hint");
    free(committed);
    EXPECT_LT(fs_login(holds.c_str()), 0);
    EXPECT_GE(fs_login("third password"), 0);
    EXPECT_EQ(Store::get("keep/a.txt"), kStored.at("keep/a.txt"));
}

unsigned long countCalls(const Operation &op)
{
    TempDir volume;
    makeVault(volume);
    fs_fault_arm(0, FS_FAULT_NONE, 0);
    op.run();
    unsigned long n = fs_fault_calls();
    fs_umount();
    return n;
}

}  // namespace

TEST(FaultInjectionSeam, CountsFailsAndEndsAtTheArmedCall)
{
    TempDir volume;
    makeVault(volume);
    fs_fault_arm(0, FS_FAULT_NONE, 0);
    ASSERT_EQ(fs_mkdir("counted"), 0);
    unsigned long calls = fs_fault_calls();
    EXPECT_GE(calls, 3u);  // at least the new folder's open and the parent's open and rename
    fs_fault_arm(1, FS_FAULT_FAIL, EIO);
    EXPECT_FAILS_WITH(fs_mkdir("refused"), EIO);
    EXPECT_TRUE(fs_fault_fired());
    fs_fault_arm(0, FS_FAULT_NONE, 0);
    EXPECT_EQ(Store::list("").size(), 5u);  // "refused" did not appear
    fs_umount();
}

TEST(FaultInjection, EveryCallOfEveryOperation)
{
    unsigned long points = 0;
    for (const Operation &op : operations()) {
        SCOPED_TRACE(op.name);
        const unsigned long calls = countCalls(op);
        // A password change writes and renames at least the hint and the root index.
        ASSERT_GE(calls, op.password ? 4u : 1u);
        std::set<std::string> held;
        // One past the last call nothing fails: the whole operation is checked the same way.
        for (unsigned long n = 1; n <= calls + 1; n++) {
            for (int err : {ENOSPC, EIO, 0}) {  // 0: the process ends at the call
                TempDir volume;
                makeVault(volume);
                bool reportedDone = false;
                if (err) {
                    fs_fault_arm(n, FS_FAULT_FAIL, err);
                    reportedDone = op.run();
                    fs_fault_arm(0, FS_FAULT_NONE, 0);
                } else {
                    pid_t child = fork();
                    ASSERT_GE(child, 0);
                    if (child == 0) {
                        fs_fault_arm(n, FS_FAULT_EXIT, 0);
                        op.run();
                        _exit(0);
                    }
                    int status = 0;
                    ASSERT_EQ(waitpid(child, &status, 0), child);
                    ASSERT_TRUE(WIFEXITED(status));
                }
                verifyAfterFault(volume, op,
                                 err ? "call " + std::to_string(n) + " fails with " + strerror(err)
                                     : "process ends at call " + std::to_string(n),
                                 reportedDone, held);
                fs_umount();
                points++;
            }
            if (HasFailure())
                return;
        }
        // Both outcomes occur, or the test would not tell an ordering fault from a lucky one.
        if (op.password) {
            EXPECT_TRUE(held.count(kPassword));
            EXPECT_TRUE(held.count(kNewPassword));
        }
    }
    RecordProperty("injection_points", (int)points);
    printf("fault injection: %lu points covered\n", points);
}
