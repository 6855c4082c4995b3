// A manager of its own (observing a private notification center) on a temporary volume,
// with the service's log lines captured.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ScopedEnv.h"
#include "TempDir.h"
#include "XXDiskFileManager.h"
#include "XXNotificationCenter.h"
#include "XXServiceLog.h"
#include "XXTool.h"
#include "fs.h"

inline std::string localized(const char *key)
{
    return XXTool::shareTool().acquireLocalizedStringFromKey(key);
}

using Names = std::vector<std::string>;

// The file names of tree entries or computer items, in their order.
template <class Items>
Names namesOf(const Items &items)
{
    Names names;
    for (const auto &item : items)
        names.push_back(item->fileName());
    return names;
}

class ServiceFixture : public ::testing::Test {
protected:
    TempDir volume;
    XXNotificationCenter center;
    std::optional<XXDiskFileManager> manager;
    const std::string password = "s3cret-Pass";

    void SetUp() override
    {
        XXServiceSetLogSink([this](std::string_view line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            logLines_.emplace_back(line);
        });
        manager.emplace(center);
    }

    void TearDown() override
    {
        manager->logOutComplete(nullptr);
        manager.reset();
        XXServiceSetLogSink({});
    }

    // Writes straight through the engine, as another copy of the program would have.
    static void storePut(const std::string &path, const std::string &content)
    {
        auto engine = XXDiskFileManager::lockEngine();
        const int handle = fs_open(path.c_str(), FS_O_WRITE, static_cast<std::uint64_t>(content.size()));
        ASSERT_GE(handle, 0) << path;
        if (!content.empty()) {
            ASSERT_EQ(fs_write(handle, content.data(), static_cast<std::uint32_t>(content.size())),
                      static_cast<int>(content.size()));
        }
        ASSERT_EQ(fs_close(handle), 0);
    }
    static void storeMkdir(const std::string &path)
    {
        auto engine = XXDiskFileManager::lockEngine();
        ASSERT_EQ(fs_mkdir(path.c_str()), 0) << path;
    }
    // The stored content, or nothing when the file cannot be read.
    static std::optional<std::string> storeGet(const std::string &path)
    {
        auto engine = XXDiskFileManager::lockEngine();
        const int handle = fs_open(path.c_str(), FS_O_READ);
        if (handle < 0)
            return std::nullopt;
        std::string content;
        std::vector<char> buffer(1 << 20);
        int got;
        while ((got = fs_read(handle, buffer.data(), static_cast<std::uint32_t>(buffer.size()))) > 0)
            content.append(buffer.data(), static_cast<size_t>(got));
        fs_close(handle);
        return got < 0 ? std::nullopt : std::optional<std::string>(content);
    }
    // Names in the folder's store listing, folders with a trailing "/"; nothing when the
    // folder cannot be listed.
    static std::optional<std::vector<std::string>> storeList(const std::string &path)
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_dir *dir = fs_opendir(path.c_str());
        if (!dir)
            return std::nullopt;
        std::vector<std::string> names;
        while (const fs_dirent *record = fs_readdir(dir))
            names.push_back(std::string(record->name) + (record->type == FS_DT_DIR ? "/" : ""));
        fs_closedir(dir);
        return names;
    }

    // The configuration file's text, a raw value as another program (or an older version)
    // might have stored it, and the raw value under key (nothing when there is none).
    std::string config() const { return readFile(storeDir() + "/config"); }
    static void storeRaw(const char *key, const char *value)
    {
        auto engine = XXDiskFileManager::lockEngine();
        fs_set_config(key, value);
    }
    static std::optional<std::string> storedRaw(const char *key)
    {
        auto engine = XXDiskFileManager::lockEngine();
        char *value = fs_get_config(key);
        std::optional<std::string> text = value ? std::optional<std::string>(value) : std::nullopt;
        std::free(value);
        return text;
    }

    // Some log line so far holds part.
    bool logged(const std::string &part)
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        return std::any_of(logLines_.begin(), logLines_.end(),
                           [&](const std::string &line) { return line.find(part) != std::string::npos; });
    }

    // Runs an operation and returns the one record its completion received; a completion
    // called other than once, or on another thread, fails the test.
    XXDiskResultObject run(const std::function<void(const XXDiskResultBlock &)> &operation)
    {
        std::optional<XXDiskResultObject> received;
        int calls = 0;
        const std::thread::id caller = std::this_thread::get_id();
        operation([&](const XXDiskResultObject &result) {
            ++calls;
            EXPECT_EQ(std::this_thread::get_id(), caller);
            received.emplace(result);
        });
        EXPECT_EQ(calls, 1);
        return received ? *received : XXDiskResultObject();
    }

    XXDiskResultObject start(const std::string &path)
    {
        return run([&](const XXDiskResultBlock &b) { manager->startManagerWithDiskPath(path, b); });
    }
    XXDiskResultObject createAccount(const std::string &secret, const std::string &tip = "the usual")
    {
        return run([&](const XXDiskResultBlock &b) { manager->createAccountWithPassword(secret, tip, b); });
    }
    XXDiskResultObject login(const std::string &secret)
    {
        return run([&](const XXDiskResultBlock &b) { manager->loginWithPassword(secret, b); });
    }

    // Start, register and log in on the fixture's volume.
    void openVault()
    {
        ASSERT_EQ(start(volume.path()).successCode(), 0);
        ASSERT_TRUE(createAccount(password).isSuccess());
        ASSERT_TRUE(login(password).isSuccess());
    }

    std::string storeDir() const { return volume.path() + "/" + FS_STORE_DIR_NAME; }

private:
    std::mutex logMutex_;
    std::vector<std::string> logLines_;
};

// The fixture with its vault open from the start.
class OpenVaultFixture : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        openVault();
    }
};

// The open vault with HOME in a folder of the test's own and no XDG overrides, so backups and
// caches land where the test looks.
class PrivateHomeVaultFixture : public ServiceFixture {
protected:
    TempDir home;
    ScopedEnv env;

    void SetUp() override
    {
        env.set("HOME", home.path());
        env.set("XDG_CONFIG_HOME", std::nullopt);
        env.set("XDG_DATA_HOME", std::nullopt);
        ServiceFixture::SetUp();
        openVault();
    }

    std::string backupRoot() const { return home / "Documents/TovinUSBENC/Backup"; }
};

// The permission bits of path itself (links not followed); 0 when it is missing.
inline mode_t modeOf(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

inline void expectError(const XXDiskResultObject &result, const std::string &area, std::int64_t code,
                        const std::string &tip)
{
    EXPECT_FALSE(result.isSuccess());
    ASSERT_TRUE(result.errorDic().has_value());
    EXPECT_FALSE(result.successDic().has_value());
    EXPECT_EQ(result.errorArea(), area);
    EXPECT_EQ(result.errorCode(), code);
    EXPECT_EQ(result.errorTips(), tip);
}
