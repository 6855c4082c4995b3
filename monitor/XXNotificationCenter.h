// Named notifications with one object, delivered synchronously to every observer of the name.
//
// Observers run on the thread that posts, in the order they were added. All operations are
// thread-safe; an observer removed while a post is under way on another thread may still
// receive that one post.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct XXNotification {
    std::string name;
    // What the poster documents for this name; empty when it sends none.
    std::any object;

    // The object when it is a std::string, else nullptr.
    const std::string *stringObject() const { return std::any_cast<std::string>(&object); }
};

class XXNotificationCenter {
public:
    using Observer = std::function<void(const XXNotification &)>;
    // 0 is never handed out.
    using Token = std::uint64_t;

    // The process-wide center, the one the disk monitor posts on by default.
    static XXNotificationCenter &defaultCenter();

    Token addObserver(std::string_view name, Observer observer);
    // Unknown or already removed tokens are ignored.
    void removeObserver(Token token);

    void post(std::string_view name, std::any object = {});
    // Keeps a text object as a std::string rather than a bare pointer.
    void post(std::string_view name, const char *object) { post(name, std::any(std::string(object))); }

private:
    struct Entry {
        Token token;
        std::string name;
        Observer observer;
        bool removed = false;  // guarded by mutex_
    };

    std::mutex mutex_;
    Token nextToken_ = 1;
    std::vector<std::shared_ptr<Entry>> entries_;
};
