// The default notification centre: named notifications delivered to the observers registered for
// that name. Observers always run on the main thread: a post from the main thread delivers before
// it returns, a post from any other thread is handed to the main queue.
//
//   auto token = NotificationCenter::defaultCenter().addObserver("Changed", [](const Notification&) { ... });
//   NotificationCenter::defaultCenter().post("Changed");
//   NotificationCenter::defaultCenter().removeObserver(token);
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// One value of a notification's user info: a text or a number.
using NotificationValue = std::variant<std::string, int64_t, double>;

// One posted notification: its name, the object it is about (may be null) and extra values.
struct Notification {
    std::string name;
    const void* object = nullptr;
    std::map<std::string, NotificationValue> userInfo;
};

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    // Identifies one registration; 0 is never handed out.
    using ObserverToken = uint64_t;

    // NotificationCenter.default.
    static NotificationCenter& defaultCenter();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Calls `observer` for every later notification of that name; an empty name observes every
    // notification.
    ObserverToken addObserver(const std::string& name, Observer observer);
    // Ends a registration; an observer removed during a delivery is not called again afterwards.
    void removeObserver(ObserverToken token);

    // Delivers to the observers registered when the delivery runs, in registration order.
    void post(const Notification& notification);
    void post(const std::string& name, const void* object = nullptr) { post(Notification{name, object, {}}); }

private:
    struct Entry {
        ObserverToken token;
        std::string name;
        Observer observer;
    };
    void deliver(const Notification& notification);
    bool isRegistered(ObserverToken token) const;

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    ObserverToken nextToken_ = 1;
};

}  // namespace platform
