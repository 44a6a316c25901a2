#include "Services/Analytics/TrackManager.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"

#include <QUuid>

#include <chrono>
#include <cstdio>

namespace tamberlo {

namespace {
std::string newUUIDText() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(); }
}  // namespace

TrackManager& TrackManager::shareInstance() {
    static TrackManager manager;
    return manager;
}

void TrackManager::initialWithLaunchOptions(const std::map<std::string, std::string>&) {
    auto& self = shareInstance();
    std::lock_guard lock(self.mutex_);
    self.enabled_ = true;
    self.sessionId_ = newUUIDText();
}

void TrackManager::TrackLaunch() {
    auto& self = shareInstance();
    if (!self.isTrackingEnabled()) return;
    const double millis =
        double(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                   .count());
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", millis);
    TrackEventWithName("launch", {{"launch_time", text}}, false);
    self.sendWebEvent("launch", platform::Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString").value_or(""));
}

void TrackManager::TrackPage(const std::string& page, const std::string& action) {
    if (page.empty() || action.empty()) return;
    TrackEventWithName("button_click", {{"page_name", page}, {"button_name", action}}, false);
    auto& self = shareInstance();
    if (self.isTrackingEnabled()) self.sendWebEvent(action, page);
}

void TrackManager::TrackCompleteRate(const std::string& funnel, const std::string& stepName, uint32_t stepOrder) {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    std::string requestId = defaults.stringForKey(lastTrackIdKey).value_or("");
    // A new run of the funnel starts at step 1; later steps reuse its identifier.
    if (stepOrder == 1 || requestId.empty()) {
        requestId = newUUIDText();
        defaults.setString(requestId, lastTrackIdKey);
    }
    TrackEventWithName(funnel, {{"step_name", stepName}, {"step_order", std::to_string(stepOrder)}, {"requestId", requestId}},
                       false);
}

void TrackManager::TrackEventWithName(const std::string& name, const std::map<std::string, std::string>& params,
                                      bool isImportant) {
    auto& self = shareInstance();
    std::lock_guard lock(self.mutex_);
    if (!self.enabled_ || name.empty() || params.empty()) return;
    self.events_.push_back(TrackEvent{name, params, isImportant});
}

void TrackManager::sendWebEvent(const std::string& action, const std::string& label) {
    std::lock_guard lock(mutex_);
    if (!enabled_) return;
    webEvents_.push_back(WebAnalyticsEvent{action, label});
}

bool TrackManager::isTrackingEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

std::vector<TrackEvent> TrackManager::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<WebAnalyticsEvent> TrackManager::webEvents() const {
    std::lock_guard lock(mutex_);
    return webEvents_;
}

void TrackManager::clearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
    webEvents_.clear();
}

void TrackManager::reset() {
    std::lock_guard lock(mutex_);
    enabled_ = false;
    sessionId_.clear();
    events_.clear();
    webEvents_.clear();
}

}  // namespace tamberlo
