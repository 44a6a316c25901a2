// The hits of the measurement-protocol tracker, each able to turn itself into protocol parameters:
// `dictionaryRepresentationKeys` names the property behind each parameter, and a property that is
// missing leaves its parameter out.
#pragma once

#include "Services/Analytics/KKGADictionaryBuilder.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamberlo {

using MPValue = std::optional<KKGAValue>;

class MPTrackingRequestParams {
public:
    virtual ~MPTrackingRequestParams() = default;

    std::optional<std::string> hitType;
    std::optional<std::string> contentDescription;
    std::optional<std::string> customDimension;

    // Protocol parameter name → property name, in the order the parameters are written.
    virtual std::vector<std::pair<std::string, std::string>> dictionaryRepresentationKeys() const { return {}; }
    // The value of a property by name; none when missing.
    virtual MPValue valueForKey(const std::string& property) const;
    // Parameter name → value, missing properties left out.
    KKGAHit dictionaryRepresentation() const;
};

class MPEventParams : public MPTrackingRequestParams {
public:
    std::optional<std::string> category;
    std::optional<std::string> action;
    std::optional<std::string> label;
    MPValue value;

    std::vector<std::pair<std::string, std::string>> dictionaryRepresentationKeys() const override;
    MPValue valueForKey(const std::string& property) const override;
};

class MPAppViewParams : public MPTrackingRequestParams {
public:
    std::vector<std::pair<std::string, std::string>> dictionaryRepresentationKeys() const override;
};

class MPTimingParams : public MPTrackingRequestParams {
public:
    std::optional<std::string> category;
    std::optional<std::string> variable;
    std::optional<std::string> label;
    MPValue time;

    std::vector<std::pair<std::string, std::string>> dictionaryRepresentationKeys() const override;
    MPValue valueForKey(const std::string& property) const override;
};

// Factories of the three hits.
namespace MPParamBuilder {
MPEventParams eventParamsForCategory(std::optional<std::string> category, std::optional<std::string> action,
                                     std::optional<std::string> label, MPValue value,
                                     std::optional<std::string> contentDescription = std::nullopt,
                                     std::optional<std::string> customDimension = std::nullopt);
MPAppViewParams appViewParamsForScreen(std::optional<std::string> screen);
MPTimingParams timingParamsForCategory(std::optional<std::string> category, std::optional<std::string> variable,
                                       MPValue time, std::optional<std::string> label);
}  // namespace MPParamBuilder

}  // namespace tamberlo
