#include "Services/Analytics/MPTrackingRequestParams.h"

namespace tamberlo {

namespace {
MPValue text(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    return KKGAValue(*value);
}
}  // namespace

MPValue MPTrackingRequestParams::valueForKey(const std::string& property) const {
    if (property == "hitType") return text(hitType);
    if (property == "contentDescription") return text(contentDescription);
    if (property == "customDimension") return text(customDimension);
    return std::nullopt;
}

KKGAHit MPTrackingRequestParams::dictionaryRepresentation() const {
    KKGAHit hit;
    for (const auto& [parameter, property] : dictionaryRepresentationKeys())
        if (const MPValue value = valueForKey(property)) hit[parameter] = *value;
    return hit;
}

std::vector<std::pair<std::string, std::string>> MPEventParams::dictionaryRepresentationKeys() const {
    return {{"t", "hitType"}, {"cd", "contentDescription"}, {"cd1", "customDimension"}, {"ec", "category"},
            {"ea", "action"}, {"el", "label"},  {"ev", "value"}};
}

MPValue MPEventParams::valueForKey(const std::string& property) const {
    if (property == "category") return text(category);
    if (property == "action") return text(action);
    if (property == "label") return text(label);
    if (property == "value") return value;
    return MPTrackingRequestParams::valueForKey(property);
}

std::vector<std::pair<std::string, std::string>> MPAppViewParams::dictionaryRepresentationKeys() const {
    return {{"t", "hitType"}, {"cd", "contentDescription"}};
}

std::vector<std::pair<std::string, std::string>> MPTimingParams::dictionaryRepresentationKeys() const {
    return {{"t", "hitType"}, {"utc", "category"}, {"utv", "variable"}, {"utt", "time"}, {"utl", "label"}};
}

MPValue MPTimingParams::valueForKey(const std::string& property) const {
    if (property == "category") return text(category);
    if (property == "variable") return text(variable);
    if (property == "label") return text(label);
    if (property == "time") return time;
    return MPTrackingRequestParams::valueForKey(property);
}

namespace MPParamBuilder {

MPEventParams eventParamsForCategory(std::optional<std::string> category, std::optional<std::string> action,
                                     std::optional<std::string> label, MPValue value,
                                     std::optional<std::string> contentDescription,
                                     std::optional<std::string> customDimension) {
    MPEventParams params;
    params.hitType = "event";
    params.category = std::move(category);
    params.action = std::move(action);
    params.label = std::move(label);
    params.value = std::move(value);
    params.contentDescription = std::move(contentDescription);
    params.customDimension = std::move(customDimension);
    return params;
}

MPAppViewParams appViewParamsForScreen(std::optional<std::string> screen) {
    MPAppViewParams params;
    params.hitType = "appview";
    params.contentDescription = std::move(screen);
    return params;
}

MPTimingParams timingParamsForCategory(std::optional<std::string> category, std::optional<std::string> variable,
                                       MPValue time, std::optional<std::string> label) {
    MPTimingParams params;
    params.hitType = "timing";
    params.category = std::move(category);
    params.variable = std::move(variable);
    params.time = std::move(time);
    params.label = std::move(label);
    return params;
}

}  // namespace MPParamBuilder
}  // namespace tamberlo
