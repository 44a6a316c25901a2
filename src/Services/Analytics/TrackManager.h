// The editor's usage events: the one door through which gestures, launches and export steps
// reach the event log (RKTracker) and, for launches, button clicks and satisfaction answers, the
// web-analytics client. Every operation is fire-and-forget. What it hands on is also kept in
// memory, in order, for whoever wants to look (the editor's tests).
#pragma once

#include <QJsonObject>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tamberlo {

// One event handed to the event log.
struct TrackEvent {
    std::string name;
    QJsonObject params;
    bool isImportant = false;

    // A parameter's value as text (numbers in decimal); empty when missing.
    std::string text(const std::string& key) const;
};

// One web-analytics event handed to the web-analytics client.
struct WebAnalyticsEvent {
    std::string category;
    std::string action;
    std::string label;
    std::optional<int64_t> value;
};

class TrackManager {
public:
    // User-defaults keys.
    static constexpr const char* lastTrackIdKey = "App.lastTrackId";
    static constexpr const char* activationKey = "App.np_callback_event";

    static TrackManager& shareInstance();

    // initialWithLaunchOptions: switches the event log on, gives the web-analytics client its
    // tracking ID and starts the event log's session.
    static void initialWithLaunchOptions(const std::map<std::string, std::string>& launchOptions = {});
    static bool TrackEnable();
    // "launch" with "launch_time" (ms since 1970 as text), the web event "App启动", then the
    // once-per-install activation.
    static void TrackLaunch();
    // "np_callback_event" with "active_time" (important), once per install.
    static void TrackActivation();
    // "button_click" with "page_name" and "button_name" and the web event "按钮点击"; nothing
    // when either text is empty. The web event does not wait for the event log to be switched on.
    static void TrackPage(const std::string& page, const std::string& action);
    // "satisfication" and "satisfy", and the web event "使用满意度" with value 1 or 0.
    static void TrackSatisfyWithFuncName(const std::string& funcName, bool satisfiable);
    // An event named by the funnel with "step_name", "step_order" (a number) and "requestId"; step 1
    // (or no stored identifier) starts a new identifier.
    static void TrackCompleteRate(const std::string& funnel, const std::string& stepName, uint64_t stepOrder);
    static void TrackADID(const std::string& identifier);
    static void TrackFuncStartWithFuncName(const std::string& funcName);
    static void TrackFuncCompleteWithFuncName(const std::string& funcName);
    static void TrackFuncFailedWithFuncName(const std::string& funcName, const std::string& resson);
    static void ClearFuncStartID();
    static void TrackPopRate(const std::string& source);
    // The gate of every event: nothing when tracking is off, the name is empty or there are no
    // parameters.
    static void TrackEventWithName(const std::string& name, const QJsonObject& params, bool isImportant);

    // Whether initialWithLaunchOptions has switched tracking on.
    bool isTrackingEnabled() const;
    // What was handed on so far, oldest first.
    std::vector<TrackEvent> events() const;
    std::vector<WebAnalyticsEvent> webEvents() const;
    // Forgets the kept events (the tracking switch stays).
    void clearEvents();
    // Back to the state before initialWithLaunchOptions (tests).
    void reset();

private:
    TrackManager() = default;
    static void sendWebEvent(const std::string& category, const std::string& action, const std::string& label,
                             std::optional<int64_t> value);
    void keep(TrackEvent event);

    mutable std::mutex mutex_;
    bool enabled_ = false;
    std::string funcStartMarker_;
    std::vector<TrackEvent> events_;
    std::vector<WebAnalyticsEvent> webEvents_;
};

}  // namespace tamberlo
