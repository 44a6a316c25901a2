#include "platform/audiotoolbox/AUParameter.h"

#include "platform/audiotoolbox/AUParameterTree.h"

#include <cmath>
#include <cstdio>

namespace platform {

AUParameterObserverToken AUParameterMakeObserverToken() {
    static std::atomic<AUParameterObserverToken> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

AUParameter::AUParameter(std::string identifier, std::string displayName, AUParameterAddress address,
                         AUValue minValue, AUValue maxValue, AudioUnitParameterUnit unit, std::string unitName,
                         AudioUnitParameterOptions flags, std::vector<std::string> valueStrings,
                         std::vector<AUParameterAddress> dependentParameters)
    : identifier_(std::move(identifier)),
      displayName_(std::move(displayName)),
      keyPath_(identifier_),
      address_(address),
      minValue_(minValue),
      maxValue_(maxValue),
      unit_(unit),
      unitName_(std::move(unitName)),
      flags_(flags),
      valueStrings_(std::move(valueStrings)),
      dependentParameters_(std::move(dependentParameters)),
      value_(minValue) {}

AUValue AUParameter::value() const {
    if (implementorValueProvider) return implementorValueProvider(const_cast<AUParameter*>(this));
    if (AUParameterTree* tree = tree_.load(std::memory_order_acquire); tree && tree->implementorValueProvider)
        return tree->implementorValueProvider(const_cast<AUParameter*>(this));
    return value_.load(std::memory_order_relaxed);
}

void AUParameter::setValue(AUValue value) { setValue(value, 0, 0, AUParameterAutomationEventType::value); }

void AUParameter::setValue(AUValue value, AUParameterObserverToken originator, uint64_t atHostTime,
                           AUParameterAutomationEventType eventType) {
    if (eventType == AUParameterAutomationEventType::value) {
        value_.store(value, std::memory_order_relaxed);
        AUParameterTree* tree = tree_.load(std::memory_order_acquire);
        if (implementorValueObserver)
            implementorValueObserver(this, value);
        else if (tree && tree->implementorValueObserver)
            tree->implementorValueObserver(this, value);
    }

    // Observers run on a copy, without the lock, so they may add or remove observers themselves.
    std::vector<Observer> observers;
    {
        std::lock_guard lock(observersMutex_);
        observers = observers_;
    }
    if (AUParameterTree* tree = tree_.load(std::memory_order_acquire)) {
        std::lock_guard lock(tree->observersMutex_);
        for (const auto& o : tree->observers_) observers.push_back({o.token, o.plain, o.automation});
    }
    const AUParameterAutomationEvent event{atHostTime, address_, value, eventType, 0};
    for (const auto& observer : observers) {
        if (originator != 0 && observer.token == originator) continue;
        if (observer.automation)
            observer.automation(1, &event);
        else if (observer.plain && eventType == AUParameterAutomationEventType::value)
            observer.plain(address_, value);
    }
}

std::string AUParameter::stringFromValue(const AUValue* value) const {
    if (AUParameterTree* tree = tree_.load(std::memory_order_acquire); tree && tree->implementorStringFromValueCallback)
        return tree->implementorStringFromValueCallback(const_cast<AUParameter*>(this), value);
    const AUValue v = value ? *value : this->value();
    if (!valueStrings_.empty() && std::isfinite(v)) {
        const long index = std::lround(v - minValue_);
        if (index >= 0 && static_cast<size_t>(index) < valueStrings_.size()) return valueStrings_[size_t(index)];
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", double(v));
    return text;
}

AUParameterObserverToken AUParameter::tokenByAddingParameterObserver(AUParameterObserver observer) {
    const auto token = AUParameterMakeObserverToken();
    std::lock_guard lock(observersMutex_);
    observers_.push_back({token, std::move(observer), nullptr});
    return token;
}

AUParameterObserverToken AUParameter::tokenByAddingParameterAutomationObserver(AUParameterAutomationObserver observer) {
    const auto token = AUParameterMakeObserverToken();
    std::lock_guard lock(observersMutex_);
    observers_.push_back({token, nullptr, std::move(observer)});
    return token;
}

void AUParameter::removeParameterObserver(AUParameterObserverToken token) {
    std::lock_guard lock(observersMutex_);
    std::erase_if(observers_, [token](const Observer& o) { return o.token == token; });
}

}  // namespace platform
