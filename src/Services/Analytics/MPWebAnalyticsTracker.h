// The measurement-protocol tracker: every hit goes out at once, alone, as a form-encoded POST to
// "/collect" of the collection endpoint (TAMBERLO_COLLECT_URL), one request at a time, and is never
// stored or retried. It keeps the current screen and a stack of modal screens (index 0 on top),
// and routes event categories to further web properties as its configuration says. Until a
// configuration is activated every hit is dropped. Main thread.
#pragma once

#include "Services/Analytics/MPAnalyticsConfiguration.h"
#include "Services/Analytics/MPTrackingRequestParams.h"
#include "Services/Analytics/TrackerHelper.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamberlo {

class MPWebAnalyticsTracker {
public:
    static constexpr const char* showDebugMenuKey = "ShowDebugMenu";

    // The tracker of the process.
    static MPWebAnalyticsTracker& sharedTracker();

    MPWebAnalyticsTracker();
    ~MPWebAnalyticsTracker();
    MPWebAnalyticsTracker(const MPWebAnalyticsTracker&) = delete;
    MPWebAnalyticsTracker& operator=(const MPWebAnalyticsTracker&) = delete;

    void activateConfiguration(std::optional<MPAnalyticsConfiguration> configuration);
    const std::optional<MPAnalyticsConfiguration>& activeConfiguration() const { return activeConfiguration_; }

    void trackEventWithParameters(const MPEventParams& params);
    void trackTimingWithParameters(const MPTimingParams& params);
    void trackEventOfCategory(std::optional<std::string> category, std::optional<std::string> action,
                              std::optional<std::string> label, MPValue value,
                              std::optional<std::string> contentDescription = std::nullopt,
                              std::optional<std::string> customDimension = std::nullopt);
    void trackTimingOfCategory(std::optional<std::string> category, std::optional<std::string> variable, MPValue time,
                               std::optional<std::string> label);
    // Becomes the current screen and sends a screen view for it.
    void trackScreen(const std::string& screen);
    // Pushes a modal screen not yet on the stack and sends a screen view for it.
    void trackModalScreen(const std::string& screen);
    // Replaces the top modal screen (or pushes one on an empty stack); sends nothing.
    void switchToModalScreen(const std::string& screen);
    // Pops the top modal screen; popping the last one announces the current screen again.
    void stopTrackingModalScreen();

    const std::string& userIdentifier() { return trackerInfoHelper_.userIdentifier(); }
    const std::string& userAgentString() { return trackerInfoHelper_.userAgentString(); }
    const std::string& systemInfo() { return trackerInfoHelper_.systemInfo(); }
    TrackerHelper& trackerInfoHelper() { return trackerInfoHelper_; }

    // The screen the user is on: the top modal screen, else the current screen.
    std::optional<std::string> contentDescription() const;
    const std::optional<std::string>& currentScreen() const { return currentScreen_; }
    const std::vector<std::string>& modalScreens() const { return modalScreens_; }
    // "ShowDebugMenu" of the user defaults, read at the first query.
    bool isDebugEnabled();

    // The hit's parameters, with "cd" = contentDescription() added when asked and the hit has none.
    KKGAHit filteredDictionaryForParameters(const MPTrackingRequestParams& params, bool includeContentDescription) const;
    // "v=1&tid=G&an=…&av=…&cid=…" then "&name=value" per parameter, every value percent-escaped.
    std::string requestStringForDictionary(const KKGAHit& dictionary, const std::string& gaid);
    // Posts the hit to each target property of the active configuration.
    void sendAnalyticsWithParameters(const KKGAHit& dictionary, const MPTrackingRequestParams& originalTrackingEvent);
    // Announces an event hit with "AnalyticsEvent" (user info: the hit and "gaid").
    void debugEvent(const KKGAHit& dictionary, const std::string& gaid);

    // UTF-8 percent escape leaving only A–Z a–z 0–9 - _ . ~ as they are.
    static std::string escaped(const std::string& text);
    // The properties a hit goes to, in order.
    std::vector<std::string> targets(const MPTrackingRequestParams& originalTrackingEvent) const;

    // Posts waiting behind the one in flight; at most maximumWaitingPosts (the oldest are dropped).
    static constexpr std::size_t maximumWaitingPosts = 1000;
    std::size_t waitingPosts() const;

    // Forgets configuration, screens and the debug switch, as a new process would (tests).
    void resetForTesting();

private:
    struct Poster;
    std::optional<MPAnalyticsConfiguration> activeConfiguration_;
    std::optional<std::string> currentScreen_;
    std::vector<std::string> modalScreens_;
    std::optional<bool> debugEnabled_;
    TrackerHelper trackerInfoHelper_;
    std::shared_ptr<Poster> poster_;
};

}  // namespace tamberlo
