// Which web properties the measurement-protocol tracker sends to: a main property, plus per event
// category a duplicate (the event goes to the main property and to it) or an additional property
// (the event goes to it alone).
#pragma once

#include <map>
#include <optional>
#include <string>

namespace tamberlo {

class MPAnalyticsConfiguration {
public:
    MPAnalyticsConfiguration() = default;
    explicit MPAnalyticsConfiguration(std::string analyticsIdentifier);

    std::optional<std::string> analyticsIdentifier;

    // Nothing happens unless both texts are given.
    void duplicateEventsForCategory(const std::string& category, const std::string& gaid);
    void stopDuplicatingEventsForCategory(const std::string& category);
    void addEventsForCategory(const std::string& category, const std::string& gaid);
    void stopAddingEventsForCategory(const std::string& category);

    const std::map<std::string, std::string>& duplicatedEventIdentifiers() const { return duplicateIdentifiers_; }
    const std::map<std::string, std::string>& addtionalEventIdentifiers() const { return addtionalIdentifiers_; }

private:
    std::map<std::string, std::string> duplicateIdentifiers_;
    std::map<std::string, std::string> addtionalIdentifiers_;
};

}  // namespace tamberlo
