#include "XXVaultPresenceWatch.h"

#include <QTimer>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>

#include "XXFolderWatcher.h"
#include "XXQtRunLoop.h"
#include "XXWorker.h"

using namespace std::chrono_literals;

XXVaultPresenceWatch::XXVaultPresenceWatch(std::string storeDirectory, std::function<void()> vaultGone,
                                           QObject *parent)
    : QObject(parent), storeDirectory_(std::move(storeDirectory)),
      volumeDirectory_(std::filesystem::path(storeDirectory_).parent_path().string()),
      vaultGone_(std::move(vaultGone)), poll_(new QTimer(this)), loop_(new XXQtRunLoop(this))
{
    watcher_ = std::make_unique<XXFolderWatcher>(*loop_, 200ms, [this](const auto &) { check(); });
    watcher_->setWatchedFolders({storeDirectory_, volumeDirectory_});
    poll_->setInterval(xxplatform::scaledDelay(3000ms));
    connect(poll_, &QTimer::timeout, this, &XXVaultPresenceWatch::check);
    poll_->start();
}

XXVaultPresenceWatch::~XXVaultPresenceWatch() = default;

bool XXVaultPresenceWatch::isVaultPresent(const std::string &storeDirectory)
{
    struct stat info {};
    if (stat(storeDirectory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    const std::string rootIndex = storeDirectory + "/index";
    return stat(rootIndex.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void XXVaultPresenceWatch::check()
{
    if (reported_)
        return;
    if (checking_) {
        recheck_ = true;  // a change came while the last check was out
        return;
    }
    checking_ = true;
    xxplatform::runInBackground(
        this, 0ms, [directory = storeDirectory_] { return isVaultPresent(directory); },
        [this](bool present) { checked(present); });
}

void XXVaultPresenceWatch::checked(bool present)
{
    checking_ = false;
    if (present || (isExpected_ && isExpected_())) {
        // A folder swapped in under the same name (a restore) is watched from now on.
        watcher_->setWatchedFolders({storeDirectory_, volumeDirectory_});
        if (recheck_) {
            recheck_ = false;
            check();
        }
        return;
    }
    reported_ = true;
    poll_->stop();
    if (vaultGone_)
        vaultGone_();
}
