#include "Services/Analytics/MPAnalyticsConfiguration.h"

namespace tamberlo {

MPAnalyticsConfiguration::MPAnalyticsConfiguration(std::string identifier) : analyticsIdentifier(std::move(identifier)) {}

void MPAnalyticsConfiguration::duplicateEventsForCategory(const std::string& category, const std::string& gaid) {
    if (!category.empty() && !gaid.empty()) duplicateIdentifiers_[category] = gaid;
}

void MPAnalyticsConfiguration::stopDuplicatingEventsForCategory(const std::string& category) {
    duplicateIdentifiers_.erase(category);
}

void MPAnalyticsConfiguration::addEventsForCategory(const std::string& category, const std::string& gaid) {
    if (!category.empty() && !gaid.empty()) addtionalIdentifiers_[category] = gaid;
}

void MPAnalyticsConfiguration::stopAddingEventsForCategory(const std::string& category) {
    addtionalIdentifiers_.erase(category);
}

}  // namespace tamberlo
