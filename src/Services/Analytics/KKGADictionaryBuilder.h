// Builds one web-analytics hit (parameter name → text or number) and announces every hit it builds
// with the notification "AnalyticsEvent", whose user info is the hit.
#pragma once

#include "platform/foundation/NotificationCenter.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tamberlo {

using KKGAValue = platform::NotificationValue;
using KKGAHit = std::map<std::string, KKGAValue>;
using OptionalValue = std::optional<KKGAValue>;

// The text form of a hit value: texts as they are, numbers in decimal ("1", "2.5").
std::string textOf(const KKGAValue& value);

class KKGADictionaryBuilder {
public:
    static constexpr const char* analyticsEventNotification = "AnalyticsEvent";

    KKGADictionaryBuilder() = default;

    // Stores the value under the name; none removes the name.
    void set(const OptionalValue& value, const std::string& name);
    OptionalValue get(const std::string& name) const;
    // Replaces the whole content; posts nothing.
    void setAll(const KKGAHit& dictionary);
    // Replaces the whole content and posts "AnalyticsEvent" with it.
    void setupDictionary(const KKGAHit& dictionary);
    // A copy of the current entries.
    KKGAHit build() const { return dictionary_; }

    static std::unique_ptr<KKGADictionaryBuilder> createScreenView(const OptionalValue& name);
    static std::unique_ptr<KKGADictionaryBuilder> createPageViewWithName(const OptionalValue& name,
                                                                         const OptionalValue& hostname,
                                                                         const OptionalValue& page);
    static std::unique_ptr<KKGADictionaryBuilder> createEventWithCategory(const OptionalValue& category,
                                                                          const OptionalValue& action,
                                                                          const OptionalValue& label,
                                                                          const OptionalValue& value);
    static std::unique_ptr<KKGADictionaryBuilder> createTransaction(const OptionalValue& transactionId,
                                                                    const OptionalValue& affliation,
                                                                    const OptionalValue& revenue,
                                                                    const OptionalValue& shipping,
                                                                    const OptionalValue& tax,
                                                                    const OptionalValue& currencyCode);
    static std::unique_ptr<KKGADictionaryBuilder> createItem(const OptionalValue& transactionId,
                                                             const OptionalValue& name, const OptionalValue& SKU,
                                                             const OptionalValue& cateogory,
                                                             const OptionalValue& price,
                                                             const OptionalValue& quantity,
                                                             const OptionalValue& currencyCode);
    static std::unique_ptr<KKGADictionaryBuilder> createSocialWithNetwork(const OptionalValue& network,
                                                                          const OptionalValue& action,
                                                                          const OptionalValue& target);
    static std::unique_ptr<KKGADictionaryBuilder> createTimingWithCategory(const OptionalValue& category,
                                                                           const OptionalValue& interval,
                                                                           const OptionalValue& name,
                                                                           const OptionalValue& label);
    static std::unique_ptr<KKGADictionaryBuilder> createExceptionWithDescription(const OptionalValue& description,
                                                                                 const OptionalValue& fatal);

private:
    KKGAHit dictionary_;
};

}  // namespace tamberlo
