// The web-analytics client: completes each hit with what every hit carries, keeps it as one
// form-encoded line in the analytics store, and posts every stored line in one batch to
// "/batch" of the collection endpoint, once at start and then every 120 s, one batch at a time.
//
//   KKWebAnalytics::sharedInstance().setTrackingID("UA-12345-1");
//   KKWebAnalytics::sharedInstance().send(KKGADictionaryBuilder::createEventWithCategory(...)->build());
#pragma once

#include "Services/Analytics/KKGADictionaryBuilder.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class HttpSession;
}

namespace tamberlo {

class KKWebAnalytics {
public:
    static constexpr const char* clientIDKey = "WebAnalyticsClientID";

    // The one client; created on first use (dispatches what an earlier run left, then starts the timer).
    static KKWebAnalytics& sharedInstance();

    // Completes, encodes and stores one hit. On the main thread the row is committed before this
    // returns; from another thread it is committed in the main loop's next turn.
    void send(const KKGAHit& hit);
    // Posts every stored line in one request. False when nothing was sent: the store is empty or
    // a batch is still in flight (from its fetch until its rows are settled).
    bool dispatch();
    // (Re)starts / stops the repeating batch timer.
    void startDispatching();
    void pauseDispatching();

    std::string trackingID() const;
    void setTrackingID(std::string trackingID);
    std::optional<std::string> userID() const;
    void setUserID(std::optional<std::string> userID);
    std::string clientID() const;
    bool isBatchInFlight() const;

    // The folder that holds the store.
    static std::string applicationFilesDirectory();
    // Form encoding of one hit: key=value pairs joined by '&', percent-escaped as UTF-8 (space →
    // %20, '&' → %26, '+' → %2B, '%' → %25, newline → %0A; RFC 2396 reserved and unreserved kept).
    static std::string stringAsWWWURLEncodedFormFromDictionary(const KKGAHit& dictionary);

    // The body of a batch: each stored line followed by a line feed, in row order.
    static std::string batchBody(const std::vector<std::pair<int64_t, std::string>>& rows);

    // Seconds between batches (120 by default); tests shorten it. Restarts the timer.
    void setDispatchInterval(double seconds);

private:
    KKWebAnalytics();
    void scheduleTimer();
    void insertLine(const std::string& line);
    bool dispatchOnMain();

    mutable std::mutex mutex_;
    std::string trackingID_;
    std::optional<std::string> userID_;
    std::string clientID_;
    std::string screenResolution_;
    std::optional<std::string> screenDepth_;
    std::string language_;
    double interval_ = 120.0;
    uint64_t timerGeneration_ = 0;
    bool inFlight_ = false;
    std::vector<int> loggedStatuses_;
    std::unique_ptr<platform::HttpSession> session_;
};

}  // namespace tamberlo
