#include "Services/Analytics/KKWebAnalytics.h"

#include "Services/Analytics/AnalyticsStore.h"
#include "Services/Analytics/KKGASystemInfo.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/Endpoints.h"
#include "platform/network/HttpSession.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tamberlo {

namespace {

const platform::OSLog analyticsLog{"io.tamberlo.Tamberlo", "analytics"};

// RFC 2396 unreserved and reserved characters stay; '&' and '+' do not, so that a value never
// splits a pair or turns into a space.
bool keptAsIs(unsigned char c) {
    if (std::isalnum(c)) return true;
    return c != 0 && std::strchr("-_.!~*'();/?:@=$,", c) != nullptr;
}

std::string escaped(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text) {
        if (keptAsIs(c)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool keepsRowsForRetry(int status) { return status >= 500 || status == 408 || status == 429 || status < 200; }

}  // namespace

KKWebAnalytics& KKWebAnalytics::sharedInstance() {
    static KKWebAnalytics* client = [] {
        auto* made = new KKWebAnalytics;  // lives for the whole process
        // Lines left from an earlier run go out at start.
        platform::DispatchQueue::main().sync([made] {
            made->dispatchOnMain();
            made->scheduleTimer();
        });
        return made;
    }();
    return *client;
}

KKWebAnalytics::KKWebAnalytics() {
    platform::HttpSession::Configuration configuration;
    configuration.idleTimeout = 60.0;
    session_ = std::make_unique<platform::HttpSession>(configuration);

    auto& defaults = platform::UserDefaults::standardUserDefaults();
    clientID_ = defaults.stringForKey(clientIDKey).value_or("");
    if (clientID_.empty()) {
        clientID_ = platform::SystemFacts::current().makeUUID();
        defaults.setString(clientID_, clientIDKey);
        defaults.synchronize();
    }
    language_ = KKGASystemInfo::primaryLanguage();
    screenResolution_ = KKGASystemInfo::screenResolutionString();
    screenDepth_ = KKGASystemInfo::screenDepthString();
}

std::string KKWebAnalytics::applicationFilesDirectory() { return AnalyticsStore::applicationFilesDirectory(); }

std::string KKWebAnalytics::stringAsWWWURLEncodedFormFromDictionary(const KKGAHit& dictionary) {
    std::string text;
    for (const auto& [key, value] : dictionary) {
        if (!text.empty()) text += '&';
        text += escaped(key) + "=" + escaped(textOf(value));
    }
    return text;
}

void KKWebAnalytics::send(const KKGAHit& hit) {
    KKGAHit completed = hit;
    {
        std::lock_guard lock(mutex_);
        completed["v"] = int64_t(1);
        const auto put = [&completed](const char* key, const std::optional<std::string>& value) {
            if (value && !value->empty())
                completed[key] = *value;
            else
                completed.erase(key);
        };
        put("tid", trackingID_);
        put("cid", clientID_);
        if (userID_) completed["uid"] = *userID_;
        if (!screenResolution_.empty()) completed["sr"] = screenResolution_;
        if (screenDepth_) completed["sd"] = *screenDepth_;
        if (!language_.empty()) completed["ul"] = language_;
    }
    const std::string line = stringAsWWWURLEncodedFormFromDictionary(completed);
    auto& main = platform::DispatchQueue::main();
    if (main.isCurrent())
        insertLine(line);
    else
        main.async([this, line] { insertLine(line); });
}

void KKWebAnalytics::insertLine(const std::string& line) {
    if (!AnalyticsStore::shared().insertRecord(line))
        os_log(analyticsLog, platform::OSLogType::error, "analytics hit not stored: " + line);
}

std::string KKWebAnalytics::batchBody(const std::vector<std::pair<int64_t, std::string>>& rows) {
    std::size_t size = 0;
    for (const auto& row : rows) size += row.second.size() + 1;
    std::string body;
    body.reserve(size);
    for (const auto& row : rows) {
        body += row.second;
        body += '\n';
    }
    return body;
}

bool KKWebAnalytics::dispatch() {
    return platform::DispatchQueue::main().sync([this] { return dispatchOnMain(); });
}

bool KKWebAnalytics::dispatchOnMain() {
    if (inFlight_) return false;
    auto& store = AnalyticsStore::shared();
    const auto rows = store.records();
    if (rows.empty()) return false;
    const uint64_t epoch = store.epoch();

    std::string body = batchBody(rows);
    std::vector<int64_t> rowids;
    rowids.reserve(rows.size());
    for (const auto& row : rows) rowids.push_back(row.first);
    inFlight_ = true;
    const std::string url = platform::Endpoints::url(platform::Endpoint::collect, "/batch");
    session_->post(url, std::move(body),
                   {{"User-Agent", KKGAUserAgentString()}, {"Content-Type", "text/plain; charset=utf-8"}},
                   [this, rowids, epoch](const platform::HttpResponse& response) {
                       auto& store = AnalyticsStore::shared();
                       if (response.isTransportError()) {
                           os_log(analyticsLog, platform::OSLogType::info,
                                  "analytics batch not sent (" + response.error->message + "); kept for the next one");
                       } else if (response.isSuccessStatus()) {
                           store.deleteRecords(rowids, epoch);
                       } else if (keepsRowsForRetry(response.statusCode)) {
                           os_log(analyticsLog, platform::OSLogType::info,
                                  "analytics batch answered " + std::to_string(response.statusCode) +
                                      "; kept for the next one");
                       } else {
                           // The collector will never take this batch (a redirect is never followed either):
                           // resending it every interval helps nobody.
                           if (std::find(loggedStatuses_.begin(), loggedStatuses_.end(), response.statusCode) ==
                               loggedStatuses_.end()) {
                               loggedStatuses_.push_back(response.statusCode);
                               const bool redirect = response.statusCode >= 300 && response.statusCode < 400;
                               os_log(analyticsLog, platform::OSLogType::error,
                                      "analytics batch " + std::string(redirect ? "redirected" : "refused") + " with " +
                                          std::to_string(response.statusCode) +
                                          (redirect ? " (redirects are not followed)" : "") + "; its hits are dropped");
                           }
                           store.deleteRecords(rowids, epoch);
                       }
                       inFlight_ = false;
                   });
    return true;
}

bool KKWebAnalytics::isBatchInFlight() const {
    return platform::DispatchQueue::main().sync([this] { return inFlight_; });
}

void KKWebAnalytics::scheduleTimer() {
    const uint64_t generation = ++timerGeneration_;
    const double interval = interval_;
    platform::DispatchQueue::main().asyncAfter(interval, [this, generation] {
        if (generation != timerGeneration_) return;
        dispatchOnMain();
        scheduleTimer();
    });
}

void KKWebAnalytics::startDispatching() {
    platform::DispatchQueue::main().sync([this] { scheduleTimer(); });
}

void KKWebAnalytics::pauseDispatching() {
    platform::DispatchQueue::main().sync([this] { ++timerGeneration_; });
}

void KKWebAnalytics::setDispatchInterval(double seconds) {
    platform::DispatchQueue::main().sync([this, seconds] {
        interval_ = seconds;
        scheduleTimer();
    });
}

std::string KKWebAnalytics::trackingID() const {
    std::lock_guard lock(mutex_);
    return trackingID_;
}

void KKWebAnalytics::setTrackingID(std::string trackingID) {
    std::lock_guard lock(mutex_);
    trackingID_ = std::move(trackingID);
}

std::optional<std::string> KKWebAnalytics::userID() const {
    std::lock_guard lock(mutex_);
    return userID_;
}

void KKWebAnalytics::setUserID(std::optional<std::string> userID) {
    std::lock_guard lock(mutex_);
    userID_ = std::move(userID);
}

std::string KKWebAnalytics::clientID() const {
    std::lock_guard lock(mutex_);
    return clientID_;
}

}  // namespace tamberlo
