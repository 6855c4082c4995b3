// Starting on a volume, the account, login, logout, the used-space line and formatting.
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>

#include "XXBackupFiles.h"
#include "XXDiskFileManager.h"
#include "XXPasteProtectFileOutAppModel.h"
#include "XXServiceLog.h"
#include "XXTool.h"
#include "fs.h"

namespace {

// The engine reads texts up to the first NUL: a password holding one would be cut short.
bool usableSecret(const std::string &text)
{
    return !text.empty() && text.find('\0') == std::string::npos;
}

std::string localized(const char *key)
{
    return XXTool::shareTool().acquireLocalizedStringFromKey(key);
}

}  // namespace

std::string XXDiskFileManager::currentDiskPath() const
{
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return currentDiskPath_;
}

void XXDiskFileManager::setCurrentDiskPath(std::string path)
{
    std::lock_guard<std::mutex> lock(sessionMutex_);
    currentDiskPath_ = std::move(path);
}

std::string XXDiskFileManager::currentStoreDirectory() const
{
    const std::string volume = currentDiskPath();
    return volume.empty() ? std::string() : volume + "/" + FS_STORE_DIR_NAME;
}

void XXDiskFileManager::startManagerWithDiskPath(const std::string &diskPath,
                                                 const XXDiskResultBlock &completeBlock)
{
    if (diskPath.empty() || diskPath.find('\0') != std::string::npos) {
        call(completeBlock, XXDiskResultObject::refused(XXStartCondition::noVolume));
        return;
    }
    int r;
    int err;
    {
        auto engine = lockEngine();
        const bool wasMounted = fs_store_dir() != nullptr;
        if (!wasMounted)
            xxbackup::putBackStoreLeftAside((std::filesystem::path(diskPath) / FS_STORE_DIR_NAME).string());
        r = fs_mount(diskPath.c_str());
        // A positive answer is itself the error number; -1 left it in errno.
        err = r > 0 ? r : r < 0 ? errno : 0;
        if (r == 0 || r == 2) {
            setCurrentDiskPath(diskPath);
            setMountSuccess(true);
        } else if (!wasMounted && fs_store_dir()) {
            // The engine keeps a mount whose root index it could not examine; dropping it
            // lets the next start, on this volume or another, go ahead.
            fs_umount();
        }
    }
    if (r == 0 || r == 2) {
        call(completeBlock, XXDiskResultObject::success(r == 0 ? 1 : 0));
        return;
    }
    const XXDiskResultObject refusal = XXDiskResultObject::engineRefused(XXEngineCall::mount, r, err);
    XXServiceLog(refusal.errorCodeText());
    if (r < 0)
        XXServiceLogf("fs_mount errno %d", err);
    call(completeBlock, refusal);
}

void XXDiskFileManager::createAccountWithPassword(const std::string &password, const std::string &tip,
                                                  const XXDiskResultBlock &completeBlock)
{
    if (!mountSuccess()) {
        call(completeBlock, XXDiskResultObject::refused(XXAccountCondition::notMounted));
        return;
    }
    if (!usableSecret(password)) {
        call(completeBlock, XXDiskResultObject::refused(XXAccountCondition::noPassword));
        return;
    }
    int r;
    int err;
    {
        auto engine = lockEngine();
        r = fs_mkfs(password.c_str(), tip.c_str());
        err = r != 0 ? errno : 0;
    }
    if (r != 0) {
        const XXDiskResultObject refusal = XXDiskResultObject::engineRefused(XXEngineCall::mkfs, r, err);
        XXServiceLogf("%s errno %d", refusal.errorCodeText().c_str(), err);
        call(completeBlock, refusal);
        return;
    }
    call(completeBlock, XXDiskResultObject::success(0));
}

void XXDiskFileManager::loginWithPassword(const std::string &password, const XXDiskResultBlock &completeBlock)
{
    if (!mountSuccess()) {
        call(completeBlock, XXDiskResultObject::refused(XXLoginCondition::notMounted));
        return;
    }
    if (!usableSecret(password)) {
        call(completeBlock, XXDiskResultObject::refused(XXLoginCondition::noPassword));
        return;
    }
    int r;
    int err;
    {
        auto engine = lockEngine();
        r = fs_login(password.c_str());
        err = r < 0 ? errno : 0;
    }
    if (r < 0) {
        const XXDiskResultObject refusal = XXDiskResultObject::engineRefused(XXEngineCall::login, r, err);
        XXServiceLogf("%s errno %d", refusal.errorCodeText().c_str(), err);
        call(completeBlock, refusal);
        return;
    }
    setIsLogin(true);
    call(completeBlock, XXDiskResultObject::success(0));
}

void XXDiskFileManager::changePasswordWithOld(const std::string &oldPassword, const std::string &newPassword,
                                              const std::string &reminder, const XXDiskResultBlock &complete)
{
    if (!mountSuccess()) {
        call(complete, XXDiskResultObject::refused(XXPasswordCondition::notMounted));
        return;
    }
    if (!usableSecret(oldPassword)) {
        call(complete, XXDiskResultObject::refused(XXPasswordCondition::noOldPassword));
        return;
    }
    if (!usableSecret(newPassword)) {
        call(complete, XXDiskResultObject::refused(XXPasswordCondition::noNewPassword));
        return;
    }
    int r;
    int err;
    {
        auto engine = lockEngine();
        r = fs_chpasswd(oldPassword.c_str(), newPassword.c_str(), reminder.c_str());
        err = r < 0 ? errno : 0;
    }
    if (r < 0) {
        XXServiceLogf("fs_chpasswd--%d errno %d", r, err);
        call(complete, XXDiskResultObject::engineRefused(XXEngineCall::chpasswd, r, err));
        return;
    }
    call(complete, XXDiskResultObject::success(0));
}

std::string XXDiskFileManager::acquirePasswordTip()
{
    auto engine = lockEngine();
    char *prompt = fs_get_prompt();
    std::string tip = prompt ? prompt : "";
    std::free(prompt);
    return tip;
}

void XXDiskFileManager::waitForTransfersToStop()
{
    if (!transferActivity_.cancelAllAndWait(std::chrono::seconds(10)))
        XXServiceLog("a transfer did not stop within 10 s; unmounting anyway");
}

void XXDiskFileManager::logOutComplete(const XXDiskResultBlock &complete)
{
    // Each transfer pipeline is cancelled here before the unmount (export, import, backup,
    // copy/move, in that order), so none of them writes to the store once it is gone.
    decoder_.cancel();
    encoder_.cancel();
    backup_.cancel();
    operator_.cancel();
    waitForTransfersToStop();
    // Changes made in opened copies go into the vault while it is still open.
    if (mountSuccess() && isLogin())
        openedFiles_.saveChangedCopies();
    {
        auto engine = lockEngine();
        if (fs_store_dir())
            fs_umount();
    }
    setIsLogin(false);
    setMountSuccess(false);
    // No decrypted copy outlives the session, except a change that could not be saved.
    std::vector<std::string> kept = openedFiles_.removeCopies();
    XXPasteProtectFileOutAppModel::cleanCacheFiles();
    XXDiskResultObject result = XXDiskResultObject::success(0);
    result.setSuccessValue(std::move(kept));
    call(complete, result);
}

const std::string &XXDiskFileManager::diskUsedStateZeroString()
{
    static const std::string text = "已使用: 0%     剩余容量: 0GB/0GB";
    return text;
}

std::string XXDiskFileManager::diskUsedStateStringForSpace(std::uint64_t totalBytes, std::uint64_t freeBytes)
{
    if (totalBytes == 0)
        return diskUsedStateZeroString();
    if (freeBytes > totalBytes)
        freeBytes = totalBytes;
    const float usedPercent = static_cast<float>(static_cast<long double>(totalBytes - freeBytes) * 100) /
        static_cast<float>(totalBytes);
    const float freeGB = static_cast<float>(freeBytes) * (1.0f / 1073741824.0f);
    char numbers[2][64];
    std::snprintf(numbers[0], sizeof(numbers[0]), "%.2f", usedPercent);
    std::snprintf(numbers[1], sizeof(numbers[1]), "%.2f", freeGB);
    return localized("String_149") + ": " + numbers[0] + "%     " + localized("String_150") + ": " +
        numbers[1] + "GB";
}

std::string XXDiskFileManager::diskUsedStateString() const
{
    const std::string volume = currentDiskPath();
    struct statvfs stats {};
    if (!mountSuccess() || volume.empty() || statvfs(volume.c_str(), &stats) != 0)
        return diskUsedStateZeroString();
    const std::uint64_t blockSize = stats.f_frsize ? stats.f_frsize : stats.f_bsize;
    // Free is what the person can still write: blocks reserved for the system (ext4 keeps 5%)
    // count as taken, as df and the file managers show them.
    return diskUsedStateStringForSpace(static_cast<std::uint64_t>(stats.f_blocks) * blockSize,
                                       static_cast<std::uint64_t>(stats.f_bavail) * blockSize);
}

bool XXDiskFileManager::formatDisk()
{
    const std::string storeDirectory = currentStoreDirectory();
    if (storeDirectory.empty())
        return false;
    // No engine call may run while the store goes away.
    auto engine = lockEngine();
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(storeDirectory, ec)))
        return false;
    std::filesystem::remove_all(storeDirectory, ec);
    if (ec) {
        XXServiceLogf("formatDisk failed: %s", ec.message().c_str());
        return false;
    }
    return true;
}
