#include "XXNotificationCenter.h"

#include <algorithm>

XXNotificationCenter &XXNotificationCenter::defaultCenter()
{
    // Never destroyed: observers may post or unregister during static destruction.
    static XXNotificationCenter *center = new XXNotificationCenter;
    return *center;
}

XXNotificationCenter::Token XXNotificationCenter::addObserver(std::string_view name, Observer observer)
{
    std::lock_guard lock(mutex_);
    const Token token = nextToken_++;
    entries_.push_back(std::make_shared<Entry>(Entry{token, std::string(name), std::move(observer)}));
    return token;
}

void XXNotificationCenter::removeObserver(Token token)
{
    std::lock_guard lock(mutex_);
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [token](const auto &entry) { return entry->token == token; });
    if (found == entries_.end())
        return;
    (*found)->removed = true;
    entries_.erase(found);
}

void XXNotificationCenter::post(std::string_view name, std::any object)
{
    std::vector<std::shared_ptr<Entry>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto &entry : entries_)
            if (entry->name == name)
                matching.push_back(entry);
    }
    const XXNotification notification{std::string(name), std::move(object)};
    // Observers run unlocked so that they may add, remove or post themselves.
    for (const auto &entry : matching) {
        {
            std::lock_guard lock(mutex_);
            if (entry->removed)
                continue;  // removed by an observer that ran before it
        }
        entry->observer(notification);
    }
}
