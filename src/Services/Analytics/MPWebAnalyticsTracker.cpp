#include "Services/Analytics/MPWebAnalyticsTracker.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/Endpoints.h"
#include "platform/network/HttpSession.h"

#include <QByteArray>

#include <algorithm>
#include <deque>
#include <mutex>

namespace tamberlo {

// Sends the bodies one after another: the collector sees them in the order they were tracked. While
// the collector does not answer, at most `maximumWaitingPosts` wait; older ones are dropped first.
struct MPWebAnalyticsTracker::Poster : std::enable_shared_from_this<Poster> {
    explicit Poster(const std::string& userAgent)
        : session(platform::HttpSession::Configuration{{{"User-Agent", userAgent}}}) {}

    void enqueue(std::string body) {
        std::unique_lock lock(mutex);
        if (pending.size() >= maximumWaitingPosts) {
            pending.pop_front();
            // Counted in the log at 1, 10, 100 … drops, not once per hit.
            if (++dropped == nextDropReport) {
                nextDropReport *= 10;
                os_log(mpLog, platform::OSLogType::info,
                       std::to_string(dropped) + " waiting analytics posts dropped so far: the collector does not answer");
            }
        }
        pending.push_back(std::move(body));
        if (busy) return;
        busy = true;
        post(lock);
    }

    void next() {
        std::unique_lock lock(mutex);
        if (pending.empty()) {
            busy = false;
            return;
        }
        post(lock);
    }

    // Sends the oldest waiting body; its completion sends the next.
    void post(std::unique_lock<std::mutex>& lock) {
        std::string body = std::move(pending.front());
        pending.pop_front();
        lock.unlock();
        session.post(platform::Endpoints::url(platform::Endpoint::collect, "/collect"), std::move(body),
                     {{"Content-Type", "application/x-www-form-urlencoded"}},
                     [weak = weak_from_this()](const platform::HttpResponse&) {
                         if (auto self = weak.lock()) self->next();
                     });
    }

    inline static const platform::OSLog mpLog{"io.tamberlo.Tamberlo", "analytics"};
    platform::HttpSession session;
    std::mutex mutex;
    std::deque<std::string> pending;
    bool busy = false;
    uint64_t dropped = 0;
    uint64_t nextDropReport = 1;
};

MPWebAnalyticsTracker& MPWebAnalyticsTracker::sharedTracker() {
    static MPWebAnalyticsTracker tracker;
    return tracker;
}

MPWebAnalyticsTracker::MPWebAnalyticsTracker()
    : poster_(std::make_shared<Poster>(trackerInfoHelper_.userAgentString())) {}

MPWebAnalyticsTracker::~MPWebAnalyticsTracker() = default;

void MPWebAnalyticsTracker::activateConfiguration(std::optional<MPAnalyticsConfiguration> configuration) {
    activeConfiguration_ = std::move(configuration);
}

void MPWebAnalyticsTracker::trackEventWithParameters(const MPEventParams& params) {
    sendAnalyticsWithParameters(filteredDictionaryForParameters(params, true), params);
}

void MPWebAnalyticsTracker::trackTimingWithParameters(const MPTimingParams& params) {
    sendAnalyticsWithParameters(filteredDictionaryForParameters(params, true), params);
}

void MPWebAnalyticsTracker::trackEventOfCategory(std::optional<std::string> category, std::optional<std::string> action,
                                                 std::optional<std::string> label, MPValue value,
                                                 std::optional<std::string> contentDescription,
                                                 std::optional<std::string> customDimension) {
    trackEventWithParameters(MPParamBuilder::eventParamsForCategory(std::move(category), std::move(action),
                                                                    std::move(label), std::move(value),
                                                                    std::move(contentDescription),
                                                                    std::move(customDimension)));
}

void MPWebAnalyticsTracker::trackTimingOfCategory(std::optional<std::string> category,
                                                  std::optional<std::string> variable, MPValue time,
                                                  std::optional<std::string> label) {
    trackTimingWithParameters(
        MPParamBuilder::timingParamsForCategory(std::move(category), std::move(variable), std::move(time), std::move(label)));
}

void MPWebAnalyticsTracker::trackScreen(const std::string& screen) {
    currentScreen_ = screen;
    const MPAppViewParams params = MPParamBuilder::appViewParamsForScreen(screen);
    sendAnalyticsWithParameters(filteredDictionaryForParameters(params, false), params);
}

void MPWebAnalyticsTracker::trackModalScreen(const std::string& screen) {
    if (std::find(modalScreens_.begin(), modalScreens_.end(), screen) != modalScreens_.end()) return;
    modalScreens_.insert(modalScreens_.begin(), screen);
    const MPAppViewParams params = MPParamBuilder::appViewParamsForScreen(screen);
    sendAnalyticsWithParameters(filteredDictionaryForParameters(params, false), params);
}

void MPWebAnalyticsTracker::switchToModalScreen(const std::string& screen) {
    if (modalScreens_.empty())
        modalScreens_.push_back(screen);
    else
        modalScreens_.front() = screen;
}

void MPWebAnalyticsTracker::stopTrackingModalScreen() {
    if (modalScreens_.empty()) return;
    modalScreens_.erase(modalScreens_.begin());
    if (modalScreens_.empty() && currentScreen_) trackScreen(*currentScreen_);
}

std::optional<std::string> MPWebAnalyticsTracker::contentDescription() const {
    if (!modalScreens_.empty()) return modalScreens_.front();
    return currentScreen_;
}

bool MPWebAnalyticsTracker::isDebugEnabled() {
    if (!debugEnabled_) debugEnabled_ = platform::UserDefaults::standardUserDefaults().boolForKey(showDebugMenuKey);
    return *debugEnabled_;
}

KKGAHit MPWebAnalyticsTracker::filteredDictionaryForParameters(const MPTrackingRequestParams& params,
                                                               bool includeContentDescription) const {
    KKGAHit hit = params.dictionaryRepresentation();
    if (!params.contentDescription && includeContentDescription)
        if (const auto screen = contentDescription()) hit["cd"] = *screen;
    return hit;
}

std::string MPWebAnalyticsTracker::escaped(const std::string& text) {
    return QByteArray::fromStdString(text).toPercentEncoding().toStdString();
}

std::string MPWebAnalyticsTracker::requestStringForDictionary(const KKGAHit& dictionary, const std::string& gaid) {
    // The prefix values are escaped like every other: a Base64 cid holds '+', '/' and '='.
    std::string request = "v=1&tid=" + escaped(gaid) + "&an=" + escaped(trackerInfoHelper_.applicationName()) +
                          "&av=" + escaped(trackerInfoHelper_.applicationVersion()) +
                          "&cid=" + escaped(trackerInfoHelper_.userIdentifier());
    for (const auto& [key, value] : dictionary) request += "&" + key + "=" + escaped(textOf(value));
    return request;
}

std::vector<std::string> MPWebAnalyticsTracker::targets(const MPTrackingRequestParams& originalTrackingEvent) const {
    if (!activeConfiguration_) return {};
    const std::string main = activeConfiguration_->analyticsIdentifier.value_or("");
    const auto* event = dynamic_cast<const MPEventParams*>(&originalTrackingEvent);
    if (event && event->category) {
        const auto& additional = activeConfiguration_->addtionalEventIdentifiers();
        if (const auto found = additional.find(*event->category); found != additional.end()) return {found->second};
        const auto& duplicate = activeConfiguration_->duplicatedEventIdentifiers();
        if (const auto found = duplicate.find(*event->category); found != duplicate.end()) return {main, found->second};
    }
    return {main};
}

void MPWebAnalyticsTracker::sendAnalyticsWithParameters(const KKGAHit& dictionary,
                                                        const MPTrackingRequestParams& originalTrackingEvent) {
    for (const std::string& gaid : targets(originalTrackingEvent)) {
        poster_->enqueue(requestStringForDictionary(dictionary, gaid));
        if (isDebugEnabled()) debugEvent(dictionary, gaid);
    }
}

void MPWebAnalyticsTracker::debugEvent(const KKGAHit& dictionary, const std::string& gaid) {
    const auto type = dictionary.find("t");
    if (type == dictionary.end() || type->second != KKGAValue(std::string("event"))) return;
    platform::Notification notification{KKGADictionaryBuilder::analyticsEventNotification, this, dictionary};
    notification.userInfo["gaid"] = gaid;
    platform::NotificationCenter::defaultCenter().post(notification);
}

std::size_t MPWebAnalyticsTracker::waitingPosts() const {
    std::lock_guard lock(poster_->mutex);
    return poster_->pending.size();
}

void MPWebAnalyticsTracker::resetForTesting() {
    activeConfiguration_.reset();
    currentScreen_.reset();
    modalScreens_.clear();
    debugEnabled_.reset();
}

}  // namespace tamberlo
