#include "Services/Analytics/RKTracker.h"

#include "Services/Analytics/AnalyticsStore.h"
#include "Services/Analytics/UABuilder.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/MD5.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/Endpoints.h"
#include "platform/network/HttpSession.h"

#include <QDateTime>
#include <QJsonDocument>

#include <cctype>
#include <cmath>

namespace tamberlo {

namespace {

const platform::OSLog eventLog{"io.tamberlo.Tamberlo", "eventlog"};

QString q(const std::string& text) { return QString::fromStdString(text); }

void putIfPresent(QJsonObject& object, const char* key, const std::optional<std::string>& value) {
    if (value) object[key] = q(*value);
}

int64_t millisecondsOfCreation(const std::string& path) {
    if (path.empty()) return 0;
    const auto seconds = platform::SystemFacts::current().creationDate(path);
    if (!seconds) return 0;
    return int64_t(std::trunc(*seconds * 1000.0));
}

std::string logURL() { return platform::Endpoints::url(platform::Endpoint::eventLog, "/api/log/receive"); }

}  // namespace

RKTracker& RKTracker::shareInstance() {
    static RKTracker* tracker = new RKTracker;  // lives for the whole process
    return *tracker;
}

RKTracker::RKTracker() : session_(std::make_unique<platform::HttpSession>()) {
    sessionId_ = platform::SystemFacts::current().makeUUID();
    // Important records an earlier run could not deliver go out again, byte for byte.
    platform::DispatchQueue::main().sync([this] {
        auto& store = AnalyticsStore::shared();
        const auto rows = store.pendingEvents();
        const uint64_t epoch = store.epoch();
        for (const auto& [row, body] : rows) postUntilAccepted(QByteArray::fromStdString(body), row, epoch);
    });
}

void RKTracker::resetForTesting() {
    ++generation_;
    sessionId_ = platform::SystemFacts::current().makeUUID();
    userAgent_.clear();
}

QByteArray RKTracker::bodyOf(const QJsonObject& record) { return QJsonDocument(record).toJson(QJsonDocument::Compact); }

bool RKTracker::isAcceptedReply(const platform::HttpResponse& reply) {
    if (!reply.isSuccessStatus()) return false;
    if (reply.body.empty()) return true;
    const std::string type = reply.mediaType();
    return type == "application/json" || type == "text/json" || type == "text/javascript" || type == "text/html" ||
           type == "text/plain";
}

// ---- base information

std::string RKTracker::getUserID() {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    std::string id = defaults.stringForKey(userTrackIDKey).value_or("");
    if (id.empty()) {
        id = platform::SystemFacts::current().makeUUID();
        defaults.setString(id, userTrackIDKey);
    }
    return id;
}

QJsonObject RKTracker::getAppInfo() const {
    const auto& bundle = platform::Bundle::main();
    QJsonObject info;
    putIfPresent(info, "appBundle", bundle.bundleIdentifier());
    putIfPresent(info, "appVersion", bundle.objectForInfoDictionaryKey("CFBundleShortVersionString"));
    putIfPresent(info, "appVersionCode", bundle.objectForInfoDictionaryKey("CFBundleVersion"));
    info["installSource"] = "Web";
    info["firstActiveChannelName"] = "Web";
    return info;
}

QJsonObject RKTracker::getUserinfo() const { return QJsonObject{{"userIp", q(UABuilder::getIPAddress(true))}}; }

QJsonObject RKTracker::getGeoinfo() const {
    const auto& facts = platform::SystemFacts::current();
    return QJsonObject{{"zone", q(facts.timeZoneName())}, {"country", q(facts.localeIdentifier())}};
}

void RKTracker::getUserAgent(std::function<void(std::optional<std::string>)> block) {
    if (!userAgent_.empty()) {
        block(userAgent_);
        return;
    }
    platform::DispatchQueue::main().async([this, block = std::move(block)] {
        const auto agent = platform::SystemFacts::current().webUserAgent();
        userAgent_ = agent.value_or("");
        block(agent);
    });
}

void RKTracker::getDeviceInfo(RecordBlock block) {
    auto& facts = platform::SystemFacts::current();
    const auto release = facts.osRelease();
    const std::string model = UABuilder::getRealDeviceName();
    os_log(eventLog, platform::OSLogType::debug, "系统信息=======\n\n" + model);
    QJsonObject info;
    info["deviceModels"] = q(model);
    if (const auto it = release.find("NAME"); it != release.end()) info["os"] = q(it->second);
    if (const auto it = release.find("VERSION_ID"); it != release.end()) info["osVersion"] = q(it->second);
    info["category"] = "mac";
    info["deviceBrand"] = "apple";
    info["language"] = q(platform::currentLocalization());
    info["last_update"] = qint64(appUpdateTime());
    info["first_install"] = qint64(appInstallTime());
    getUserAgent([info, block = std::move(block)](std::optional<std::string> agent) mutable {
        info["ua"] = q(agent.value_or("(null)") + " " + UABuilder::getIPAddress(true));
        block(info);
    });
}

void RKTracker::getBaseInfo(RecordBlock block) {
    QJsonObject base;
    base["userId"] = q(getUserID());
    base["appInfo"] = getAppInfo();
    base["userInfo"] = getUserinfo();
    base["geoInfo"] = getGeoinfo();
    base["channelName"] = "Web";
    if (sessionId_.empty()) sessionId_ = platform::SystemFacts::current().makeUUID();
    base["sessionId"] = q(sessionId_);
    getDeviceInfo([base, block = std::move(block)](QJsonObject device) mutable {
        base["deviceInfo"] = device;
        block(base);
    });
}

// ---- events

void RKTracker::StartSession() {
    auto& tracker = shareInstance();
    const int64_t eventTime = getCurrentTimes();
    tracker.getBaseInfo([&tracker, eventTime](QJsonObject record) {
        auto& defaults = platform::UserDefaults::standardUserDefaults();
        if (!defaults.hasKey(firstLaunchTimeKey)) defaults.setInteger(getCurrentTimes(), firstLaunchTimeKey);
        QJsonObject params;
        params["last_update"] = qint64(appUpdateTime());
        params["first_install"] = qint64(appInstallTime());
        params["wareNewUser"] = q(getIsNewUser());
        params["first_launch"] = qint64(defaults.integerForKey(firstLaunchTimeKey));
        record["eventName"] = "wm_launch_event";
        record["eventParam"] = params;
        record["eventTime"] = qint64(eventTime);
        tracker.forceSendTrackData(record);
    });
}

void RKTracker::TrackEvent(const std::string& name, const QJsonObject& params) { shareInstance().record(name, params, false); }

void RKTracker::TrackImportantEvent(const std::string& name, const QJsonObject& params) {
    shareInstance().record(name, params, true);
}

void RKTracker::record(const std::string& name, const QJsonObject& params, bool important) {
    // The time the event was handed in, whatever the user agent or the retries take.
    const int64_t eventTime = getCurrentTimes();
    getBaseInfo([this, name, params, important, eventTime](QJsonObject record) {
        record["eventName"] = q(name);
        record["eventParam"] = params;
        record["eventTime"] = qint64(eventTime);
        if (important)
            forceSendTrackData(record);
        else
            sendTrackData(record);
    });
}

// ---- posts

void RKTracker::post(const QByteArray& body, SendCompletion completion) {
    session_->post(logURL(), body.toStdString(), {{"Content-Type", "application/json"}},
                   [completion = std::move(completion)](const platform::HttpResponse& reply) {
                       const bool accepted = isAcceptedReply(reply);
                       if (!accepted)
                           os_log(eventLog, platform::OSLogType::info,
                                  "事件发送失败 (" +
                                      (reply.error ? reply.error->message : "status " + std::to_string(reply.statusCode) +
                                                                                 ", " + reply.contentType) +
                                      ")");
                       if (completion) completion(accepted, reply);
                   });
}

void RKTracker::sendTrackData(const QJsonObject& record) { sendTrackData(record, nullptr); }

void RKTracker::sendTrackData(const QJsonObject& record, SendCompletion completion) {
    post(bodyOf(record), std::move(completion));
}

void RKTracker::forceSendTrackData(const QJsonObject& record) {
    const QByteArray body = bodyOf(record);
    platform::DispatchQueue::main().async([this, body] {
        auto& store = AnalyticsStore::shared();
        const int64_t row = store.insertPendingEvent(body.toStdString());
        postUntilAccepted(body, row, store.epoch());
    });
}

void RKTracker::postUntilAccepted(QByteArray body, int64_t row, uint64_t epoch) {
    const uint64_t generation = generation_;
    post(body, [this, body, row, epoch, generation](bool accepted, const platform::HttpResponse& reply) {
        if (generation != generation_) return;
        if (accepted) {
            AnalyticsStore::shared().deletePendingEvent(row, epoch);
            return;
        }
        // Without a log endpoint there is nothing to retry against in this run; the record stays
        // stored for a run that has one.
        if (reply.error && reply.error->code == platform::HttpError::Code::notConfigured) return;
        platform::DispatchQueue::main().asyncAfter(retryInterval_, [this, body, row, epoch, generation] {
            if (generation == generation_) postUntilAccepted(body, row, epoch);
        });
    });
}

// ---- times and texts

int64_t RKTracker::getCurrentTimes() { return int64_t(std::trunc(platform::SystemFacts::current().now())); }

int64_t RKTracker::appUpdateTime() { return millisecondsOfCreation(platform::SystemFacts::current().executablePath()); }

int64_t RKTracker::appInstallTime() {
    return millisecondsOfCreation(platform::FileManager::defaultManager().documentDirectoryURL().path());
}

std::string RKTracker::getIsNewUser() {
    const double now = platform::SystemFacts::current().now();
    const std::string today =
        QDateTime::fromMSecsSinceEpoch(qint64(now * 1000.0)).toLocalTime().toString("yyyy-MM-dd").toStdString();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    const auto stored = defaults.stringForKey(userInstallDateKey);
    if (stored && *stored != today) return "false";
    defaults.setString(today, userInstallDateKey);
    return "true";
}

std::string RKTracker::MD5_32BIT(const std::string& text) {
    std::string digits = platform::hexString(platform::MD5(text.data(), text.size()));
    for (char& c : digits) c = char(std::toupper((unsigned char)c));
    return digits;
}

}  // namespace tamberlo
