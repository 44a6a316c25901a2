#include "Services/Analytics/TrackManager.h"

#include "Services/Analytics/KKGADictionaryBuilder.h"
#include "Services/Analytics/KKWebAnalytics.h"
#include "Services/Analytics/RKTracker.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/Endpoints.h"

#include <QJsonValue>

#include <cmath>
#include <cstdio>
#include <exception>

namespace tamberlo {

namespace {
QString q(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

std::string TrackEvent::text(const std::string& key) const {
    const QJsonValue value = params.value(q(key));
    if (value.isString()) return value.toString().toStdString();
    if (value.isDouble()) return QString::number(value.toInteger()).toStdString();
    if (value.isBool()) return value.toBool() ? "true" : "false";
    return {};
}

TrackManager& TrackManager::shareInstance() {
    static TrackManager manager;
    return manager;
}

void TrackManager::initialWithLaunchOptions(const std::map<std::string, std::string>&) {
    auto& self = shareInstance();
    {
        std::lock_guard lock(self.mutex_);
        self.enabled_ = true;
    }
    KKWebAnalytics::sharedInstance().setTrackingID(platform::Endpoints::trackingID());
    RKTracker::StartSession();
}

bool TrackManager::TrackEnable() { return shareInstance().isTrackingEnabled(); }

void TrackManager::TrackLaunch() {
    if (!TrackEnable()) return;
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", std::round(platform::SystemFacts::current().now() * 1000.0));
    TrackEventWithName("launch", QJsonObject{{"launch_time", text}}, false);
    sendWebEvent("App启动", "App启动",
                 platform::Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString").value_or(""),
                 std::nullopt);
    TrackActivation();
}

void TrackManager::TrackActivation() {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (!defaults.stringForKey(activationKey).value_or("").empty()) return;
    // Marked first: the record itself is kept by the event log until it is delivered.
    defaults.setString("sendActivation", activationKey);
    TrackEventWithName("np_callback_event", QJsonObject{{"active_time", qint64(RKTracker::appInstallTime())}}, true);
}

void TrackManager::TrackPage(const std::string& page, const std::string& action) {
    if (page.empty() || action.empty()) return;
    TrackEventWithName("button_click", QJsonObject{{"page_name", q(page)}, {"button_name", q(action)}}, false);
    sendWebEvent("按钮点击", action, page, std::nullopt);
}

void TrackManager::TrackSatisfyWithFuncName(const std::string& funcName, bool satisfiable) {
    TrackEventWithName("satisfication", QJsonObject{{"func_name", q(funcName)}, {"satisfiable", satisfiable ? 1 : 0}},
                       false);
    TrackEventWithName("satisfy",
                       QJsonObject{{"function_name", q(funcName)}, {"is_like", satisfiable ? "true" : "false"}}, false);
    sendWebEvent("使用满意度", "使用满意度", "满意度", satisfiable ? 1 : 0);
}

void TrackManager::TrackCompleteRate(const std::string& funnel, const std::string& stepName, uint64_t stepOrder) {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    std::string requestId = defaults.stringForKey(lastTrackIdKey).value_or("");
    // A new run of the funnel starts at step 1; later steps reuse its identifier.
    if (stepOrder == 1 || requestId.empty()) {
        requestId = platform::SystemFacts::current().makeUUID();
        defaults.setString(requestId, lastTrackIdKey);
    }
    TrackEventWithName(funnel,
                       QJsonObject{{"step_name", q(stepName)}, {"step_order", qint64(stepOrder)}, {"requestId", q(requestId)}},
                       false);
}

void TrackManager::TrackADID(const std::string& identifier) {
    if (identifier.empty()) return;
    const QJsonObject params{{"ID", q(RKTracker::MD5_32BIT(identifier))}};
    shareInstance().keep(TrackEvent{"ADID", params, false});
    RKTracker::TrackEvent("ADID", params);
}

void TrackManager::TrackFuncStartWithFuncName(const std::string& funcName) {
    {
        auto& self = shareInstance();
        std::lock_guard lock(self.mutex_);
        self.funcStartMarker_ = "trackStart";
    }
    TrackEventWithName("Func_start", QJsonObject{{"func_name", q(funcName)}}, false);
}

namespace {
// Takes the function start marker: true when it was set.
bool takeMarker(std::mutex& mutex, std::string& marker) {
    std::lock_guard lock(mutex);
    const bool wasSet = !marker.empty();
    marker.clear();
    return wasSet;
}
}  // namespace

void TrackManager::TrackFuncCompleteWithFuncName(const std::string& funcName) {
    auto& self = shareInstance();
    if (!takeMarker(self.mutex_, self.funcStartMarker_)) return;
    TrackEventWithName("Func_Complete", QJsonObject{{"func_name", q(funcName)}}, false);
}

void TrackManager::TrackFuncFailedWithFuncName(const std::string& funcName, const std::string& resson) {
    auto& self = shareInstance();
    if (!takeMarker(self.mutex_, self.funcStartMarker_)) return;
    TrackEventWithName("Func_Failed", QJsonObject{{"func_name", q(funcName)}, {"resson", q(resson)}}, false);
}

void TrackManager::ClearFuncStartID() {
    auto& self = shareInstance();
    takeMarker(self.mutex_, self.funcStartMarker_);
}

void TrackManager::TrackPopRate(const std::string& source) {
    TrackEventWithName("PopToRate", QJsonObject{{"Source", q(source)}}, false);
}

void TrackManager::TrackEventWithName(const std::string& name, const QJsonObject& params, bool isImportant) {
    if (!TrackEnable() || name.empty() || params.isEmpty()) return;
    shareInstance().keep(TrackEvent{name, params, isImportant});
    try {
        if (isImportant)
            RKTracker::TrackImportantEvent(name, params);
        else
            RKTracker::TrackEvent(name, params);
    } catch (const std::exception& error) {
        os_log(platform::OSLog{"io.tamberlo.Tamberlo", "eventlog"}, platform::OSLogType::error,
               std::string("event not handed on: ") + error.what());
    }
}

void TrackManager::sendWebEvent(const std::string& category, const std::string& action, const std::string& label,
                                std::optional<int64_t> value) {
    {
        auto& self = shareInstance();
        std::lock_guard lock(self.mutex_);
        self.webEvents_.push_back(WebAnalyticsEvent{category, action, label, value});
    }
    const auto builder = KKGADictionaryBuilder::createEventWithCategory(
        category, action, label.empty() ? OptionalValue{} : OptionalValue{label},
        value ? OptionalValue{*value} : OptionalValue{});
    KKWebAnalytics::sharedInstance().send(builder->build());
}

void TrackManager::keep(TrackEvent event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
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
    funcStartMarker_.clear();
    events_.clear();
    webEvents_.clear();
}

}  // namespace tamberlo
