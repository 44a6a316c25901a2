// The editor's usage events. Every operation is fire-and-forget: callers rely on no result and a
// failure inside never reaches them. Events are kept in memory, in the order they were sent, for
// whoever delivers them (and for tests); nothing leaves the process yet.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tamberlo {

// One event of the event log.
struct TrackEvent {
    std::string name;
    std::map<std::string, std::string> params;
    bool isImportant = false;
};

// One web-analytics event (category "Tamberlo"; the action and label the caller chose).
struct WebAnalyticsEvent {
    std::string action;
    std::string label;
};

class TrackManager {
public:
    // The user-defaults key of the request identifier that the steps of one funnel run share.
    static constexpr const char* lastTrackIdKey = "App.lastTrackId";

    static TrackManager& shareInstance();

    // initialWithLaunchOptions: switches the event log on and starts its session.
    static void initialWithLaunchOptions(const std::map<std::string, std::string>& launchOptions = {});
    // TrackLaunch: the "launch" event with "launch_time" (ms since 1970) and a web event labelled
    // with the application's short version.
    static void TrackLaunch();
    // TrackPage:action: "button_click" with "page_name" and "button_name"; nothing when either is empty.
    static void TrackPage(const std::string& page, const std::string& action);
    // TrackCompleteRate:stepName:stepOrder: an event named by the funnel with "step_name",
    // "step_order" and "requestId"; step 1 (or no stored identifier) starts a new identifier.
    static void TrackCompleteRate(const std::string& funnel, const std::string& stepName, uint32_t stepOrder);
    // TrackEventWithName:params:isImportant: nothing when tracking is off, the name is empty or
    // there are no parameters.
    static void TrackEventWithName(const std::string& name, const std::map<std::string, std::string>& params,
                                   bool isImportant);

    // Whether initialWithLaunchOptions has switched tracking on.
    bool isTrackingEnabled() const;
    // The events kept so far, oldest first.
    std::vector<TrackEvent> events() const;
    std::vector<WebAnalyticsEvent> webEvents() const;
    // Forgets the kept events (the tracking switch stays).
    void clearEvents();
    // Back to the state before initialWithLaunchOptions (tests).
    void reset();

private:
    TrackManager() = default;
    void sendWebEvent(const std::string& action, const std::string& label);

    mutable std::mutex mutex_;
    bool enabled_ = false;
    std::string sessionId_;
    std::vector<TrackEvent> events_;
    std::vector<WebAnalyticsEvent> webEvents_;
};

}  // namespace tamberlo
