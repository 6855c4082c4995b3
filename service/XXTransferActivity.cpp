#include "XXTransferActivity.h"

XXTransferActivity::Scope::Scope(XXTransferActivity &activity) : activity_(activity)
{
    std::lock_guard<std::mutex> lock(activity_.mutex_);
    entry_ = activity_.running_.emplace(std::this_thread::get_id(), 0);
}

XXTransferActivity::Scope::~Scope()
{
    std::lock_guard<std::mutex> lock(activity_.mutex_);
    activity_.running_.erase(entry_);
    activity_.stopped_.notify_all();
}

std::uint64_t XXTransferActivity::addCancelHandler(CancelHandler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t token = nextToken_++;
    cancelHandlers_.emplace(token, std::move(handler));
    return token;
}

void XXTransferActivity::removeCancelHandler(std::uint64_t token)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelHandlers_.erase(token);
}

bool XXTransferActivity::cancelAllAndWait(std::chrono::milliseconds timeout)
{
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    // Called under the lock, so a pipeline that goes away meanwhile waits in
    // removeCancelHandler. A cancel only takes its pipeline's own lock.
    for (const auto &[token, handler] : cancelHandlers_)
        handler();
    return stopped_.wait_for(lock, timeout, [&] { return running_.size() == running_.count(self); });
}
