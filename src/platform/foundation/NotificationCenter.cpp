#include "platform/foundation/NotificationCenter.h"

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(const std::string& name, Observer observer) {
    std::lock_guard lock(mutex_);
    const ObserverToken token = nextToken_++;
    entries_.push_back(Entry{token, name, std::move(observer)});
    return token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const Entry& entry) { return entry.token == token; });
}

bool NotificationCenter::isRegistered(ObserverToken token) const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
        if (entry.token == token) return true;
    return false;
}

void NotificationCenter::post(const Notification& notification) {
    DispatchQueue& mainQueue = DispatchQueue::main();
    if (mainQueue.isCurrent()) {
        deliver(notification);
    } else {
        mainQueue.async([this, notification] { deliver(notification); });
    }
}

void NotificationCenter::deliver(const Notification& notification) {
    // A snapshot, so that observers may add or remove registrations while they run.
    std::vector<Entry> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_)
            if (entry.name.empty() || entry.name == notification.name) targets.push_back(entry);
    }
    for (const auto& entry : targets) {
        if (!isRegistered(entry.token)) continue;
        if (entry.observer) entry.observer(notification);
    }
}

}  // namespace platform
