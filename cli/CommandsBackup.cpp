// backup, backups and restore: copies of the whole vault in dated folders on this computer.
#include <signal.h>
#include <stdio.h>

#include <optional>
#include <set>

#include "Commands.h"
#include "Vault.h"
#include "XXDiskFileManager.h"
#include "XXFileWrapper.h"

namespace cli {

namespace {

// Interrupting a copy asks the service to stop it, so it removes what it made instead of
// leaving half a folder behind.
XXDiskFileManager *interruptedManager = nullptr;

void cancelCopy(int)
{
    if (interruptedManager)
        interruptedManager->backupJob().cancel();  // one atomic store: safe in a signal handler
}

class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(XXDiskFileManager &manager)
    {
        interruptedManager = &manager;
        struct sigaction action {};
        action.sa_handler = cancelCopy;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~CancelOnInterrupt()
    {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        interruptedManager = nullptr;
    }
    CancelOnInterrupt(const CancelOnInterrupt &) = delete;
    CancelOnInterrupt &operator=(const CancelOnInterrupt &) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// Runs a backup or restore with a progress line made from its first (total, 0) report.
XXBackupResult runCopy(XXDiskFileManager &manager, const std::string &label,
                       const std::function<void(const XXDiskFileManager::BackupProgressBlock &,
                                                const XXDiskFileManager::BackupResultBlock &)> &copy)
{
    CancelOnInterrupt cancel(manager);
    std::optional<Progress> progress;
    uint64_t shown = 0;
    XXBackupResult outcome;
    copy(
        [&](uint64_t total, uint64_t done) {
            if (!progress)
                progress.emplace(label, total);
            if (done > shown) {
                progress->advance(done - shown);
                shown = done;
            }
        },
        [&](const XXBackupResult &result) { outcome = result; });
    return outcome;
}

std::set<std::string> backupNames(XXDiskFileManager &manager)
{
    std::set<std::string> names;
    for (const auto &folder : manager.allBackUpFolders())
        names.insert(folder->fileName());
    return names;
}

}  // namespace

int runBackup(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (!inv.args.empty())
        throw UsageError("backup takes no arguments");
    Vault vault(inv.volume);
    vault.login(inv);
    XXDiskFileManager &m = vault.manager();
    const std::set<std::string> before = backupNames(m);
    const XXBackupResult outcome = runCopy(m, "backup", [&](auto &progress, auto &result) {
        m.backupJob().backUpDiskDataProgressBlock(progress, result);
    });
    if (outcome.outcome == XXBackupOutcome::cancelled)
        throw OperationError("the backup was cancelled; nothing of it was kept");
    if (!outcome.success())
        throw OperationError("the backup failed: " + outcome.errorTip());
    for (const auto &folder : m.allBackUpFolders())
        if (!before.count(folder->fileName()))
            fprintf(stderr, "Backed up the vault to %s (%s)\n", folder->fullPath().c_str(),
                    humanSize(folder->folderSize()).c_str());
    return 0;
}

int runBackups(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (!inv.args.empty())
        throw UsageError("backups takes no arguments");
    // The location setting lives in the vault; listing needs no password.
    Vault vault(inv.volume);
    XXDiskFileManager &m = vault.manager();
    const XXFileArray folders = m.allBackUpFolders();
    if (folders.empty())
        fprintf(stderr, "No backups in %s\n", m.backupRootFolderPath().c_str());
    for (const auto &folder : folders)
        printf("%s  %10s\n", folder->fileName().c_str(), humanSize(folder->folderSize()).c_str());
    return 0;
}

int runRestore(Invocation &inv)
{
    rejectUnknownOptions(inv.args);
    if (inv.args.size() != 1)
        throw UsageError("restore takes the name of one backup, as backups lists it");
    const std::string &name = inv.args[0];
    Vault vault(inv.volume);
    // Replacing a vault asks for its password; a volume without one has nothing to protect.
    if (vault.hasAccount())
        vault.login(inv);
    XXDiskFileManager &m = vault.manager();
    std::string folderPath;
    for (const auto &folder : m.allBackUpFolders())
        if (folder->fileName() == name)
            folderPath = folder->fullPath();
    if (folderPath.empty())
        throw OperationError("no backup named \"" + name + "\" in " + m.backupRootFolderPath() +
                             " (backups lists them)");
    const XXBackupResult outcome = runCopy(m, "restore", [&](auto &progress, auto &result) {
        m.backupJob().RestoreDiskDataWithSelectedPath(folderPath, progress, result);
    });
    switch (outcome.outcome) {
    case XXBackupOutcome::finished:
        break;
    case XXBackupOutcome::cancelled:
        throw OperationError("the restore was cancelled; the vault on " + inv.volume + " is unchanged");
    case XXBackupOutcome::noVault:
        throw OperationError("\"" + name + "\" holds no vault; the vault on " + inv.volume + " is unchanged");
    case XXBackupOutcome::sourceMissing:
        throw OperationError("the restore failed (the backup folder is gone); the vault on " + inv.volume +
                             " is unchanged");
    case XXBackupOutcome::destinationPresent:
    case XXBackupOutcome::copyFailed:
        throw OperationError("the restore failed (" + outcome.errorTip() + "); the vault on " + inv.volume +
                             " is unchanged");
    }
    fprintf(stderr, "Restored the vault from the backup of %s; it opens with the password it had then\n",
            name.c_str());
    return 0;
}

}  // namespace cli
