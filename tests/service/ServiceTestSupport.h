// A manager of its own (observing a private notification center) on a temporary volume,
// with the service's log lines captured.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
        return received ? *received : XXDiskResultObject::error("0+0", "no completion");
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
