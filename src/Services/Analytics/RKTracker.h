// The event log client: every event becomes one JSON record posted to "/api/log/receive" of the
// log endpoint. Ordinary events are posted once; important ones (the session start, the
// activation) are kept in the analytics store before their first post and posted again every
// second until one post is accepted, and at the next start if the process ended first — always the
// same bytes, with their own session and event time. A run without a log endpoint keeps them
// stored and does not retry.
#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {
class HttpSession;
struct HttpResponse;
}

namespace tamberlo {

class RKTracker {
public:
    // User-defaults keys.
    static constexpr const char* userTrackIDKey = "KUserTrackID";
    static constexpr const char* userInstallDateKey = "KUserInstallDate";
    static constexpr const char* firstLaunchTimeKey = "app_firstLaunchTime";

    using RecordBlock = std::function<void(QJsonObject)>;
    using SendCompletion = std::function<void(bool success, const platform::HttpResponse& reply)>;

    // The one tracker; its creation makes the session identifier and re-posts the important
    // records an earlier run could not deliver.
    static RKTracker& shareInstance();

    // The session-start event "wm_launch_event" (important).
    static void StartSession();
    static void TrackEvent(const std::string& name, const QJsonObject& params);
    static void TrackImportantEvent(const std::string& name, const QJsonObject& params);

    // The base information of a record; the block may run at once or later on the main queue.
    void getBaseInfo(RecordBlock block);
    std::string getUserID();
    QJsonObject getAppInfo() const;
    QJsonObject getUserinfo() const;
    QJsonObject getGeoinfo() const;
    void getDeviceInfo(RecordBlock block);
    // The web user agent; none when it could not be learned (the record then says "(null)").
    void getUserAgent(std::function<void(std::optional<std::string>)> block);

    void sendTrackData(const QJsonObject& record);
    void sendTrackData(const QJsonObject& record, SendCompletion completion);
    // Posts until accepted, surviving a restart.
    void forceSendTrackData(const QJsonObject& record);

    static int64_t getCurrentTimes();
    static int64_t appUpdateTime();
    static int64_t appInstallTime();
    static std::string getIsNewUser();
    static std::string MD5_32BIT(const std::string& text);

    // The record's bytes on the wire: compact JSON with sorted keys, so a retry is byte-identical.
    static QByteArray bodyOf(const QJsonObject& record);
    // A reply counts as delivered: 2xx with one of the five JSON/text types, or no body at all.
    static bool isAcceptedReply(const platform::HttpResponse& reply);

    std::string sessionId() const { return sessionId_; }
    // Seconds between the posts of an important record (1.0); tests shorten it.
    void setRetryInterval(double seconds) { retryInterval_ = seconds; }
    // Stops the retries of this process and starts a new session, as a new process would (tests).
    void resetForTesting();

private:
    RKTracker();
    void record(const std::string& name, const QJsonObject& params, bool important);
    void postUntilAccepted(QByteArray body, int64_t row, uint64_t epoch);
    void post(const QByteArray& body, SendCompletion completion);

    std::string sessionId_;
    std::string userAgent_;
    double retryInterval_ = 1.0;
    uint64_t generation_ = 0;
    std::unique_ptr<platform::HttpSession> session_;
};

}  // namespace tamberlo
