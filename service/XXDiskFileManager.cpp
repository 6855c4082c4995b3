// The instance, the engine lock and the reaction to the removal of the volume.
#include "XXDiskFileManager.h"

#include <cstdlib>

#include "XXDiskTool.h"
#include "XXServiceLog.h"

XXDiskFileManager &XXDiskFileManager::shareDiskFileManager()
{
    // Never destroyed: background threads may still call it while the process exits.
    static XXDiskFileManager *const instance = new XXDiskFileManager(XXNotificationCenter::defaultCenter());
    return *instance;
}

XXDiskFileManager::XXDiskFileManager(XXNotificationCenter &center) : center_(center)
{
    removalObserver_ =
        center_.addObserver(XXDiskDidMoveoutNotification,
                            [this](const XXNotification &notification) { diskRemoved(notification); });
}

XXDiskFileManager::~XXDiskFileManager()
{
    center_.removeObserver(removalObserver_);
}

std::unique_lock<std::recursive_mutex> XXDiskFileManager::lockEngine()
{
    static std::recursive_mutex engineMutex;
    return std::unique_lock<std::recursive_mutex>(engineMutex);
}

void XXDiskFileManager::call(const XXDiskResultBlock &block, const XXDiskResultObject &result)
{
    if (block)
        block(result);
}

void XXDiskFileManager::setTerminationHandler(TerminationHandler handler)
{
    std::lock_guard<std::mutex> lock(sessionMutex_);
    terminationHandler_ = std::move(handler);
}

namespace {

// "/media/x/" and "/media/x" name the same volume.
std::string_view withoutTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

}  // namespace

void XXDiskFileManager::diskRemoved(const XXNotification &notification)
{
    const std::string *removedPath = notification.stringObject();
    const std::string current = currentDiskPath();
    if (current.empty() || !removedPath ||
        withoutTrailingSlashes(*removedPath) != withoutTrailingSlashes(current))
        return;
    endProcessForRemovedVolume();
}

void XXDiskFileManager::endProcessForRemovedVolume()
{
    XXServiceLogf("the current volume was removed: %s", XXServiceLogEscaped(currentDiskPath()).c_str());
    // Nothing may write to the store any more, whatever the handler does next.
    logOutComplete(nullptr);
    TerminationHandler handler;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        handler = terminationHandler_;
    }
    if (handler) {
        handler();
        return;
    }
    XXServiceLog("no termination handler installed; ending the process");
    std::exit(EXIT_FAILURE);
}
