// One controllable value of an audio unit. The value is atomic so the render thread may read it
// while the main thread sets it; observers are told of every change but the one they originated.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class AUParameterTree;

using AUValue = float;
using AUParameterAddress = uint64_t;
using AudioUnitParameterID = uint32_t;
using AudioUnitParameterValue = float;
using AudioUnitParameterUnit = uint32_t;
using AudioUnitParameterOptions = uint32_t;

inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Generic = 0;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Boolean = 2;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Percent = 3;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Seconds = 4;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Hertz = 8;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Decibels = 13;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_LinearGain = 14;

inline constexpr AudioUnitParameterOptions kAudioUnitParameterFlag_CanRamp = 0x02000000;
inline constexpr AudioUnitParameterOptions kAudioUnitParameterFlag_IsReadable = 0x40000000;
inline constexpr AudioUnitParameterOptions kAudioUnitParameterFlag_IsWritable = 0x80000000;

// Kinds of value events: a plain value, the start of a gesture (touch) and its end (release).
enum class AUParameterAutomationEventType : uint32_t { value = 0, touch = 1, release = 2 };

struct AUParameterAutomationEvent {
    uint64_t hostTime = 0;
    AUParameterAddress address = 0;
    AUValue value = 0;
    AUParameterAutomationEventType eventType = AUParameterAutomationEventType::value;
    uint64_t reserved = 0;
};

// Identifies an added observer (never 0); passed as originator it keeps that observer silent.
using AUParameterObserverToken = uint64_t;
using AUParameterObserver = std::function<void(AUParameterAddress address, AUValue value)>;
using AUParameterAutomationObserver =
    std::function<void(int64_t numberEvents, const AUParameterAutomationEvent* events)>;

class AUParameter : public std::enable_shared_from_this<AUParameter> {
public:
    // Use AUParameterTree::createParameter.
    AUParameter(std::string identifier, std::string displayName, AUParameterAddress address, AUValue minValue,
                AUValue maxValue, AudioUnitParameterUnit unit, std::string unitName, AudioUnitParameterOptions flags,
                std::vector<std::string> valueStrings, std::vector<AUParameterAddress> dependentParameters);

    const std::string& identifier() const { return identifier_; }
    const std::string& displayName() const { return displayName_; }
    // The identifier path from the tree's root ("gain", or "group.gain" under a group).
    const std::string& keyPath() const { return keyPath_; }
    AUParameterAddress address() const { return address_; }
    AUValue minValue() const { return minValue_; }
    AUValue maxValue() const { return maxValue_; }
    AudioUnitParameterUnit unit() const { return unit_; }
    const std::string& unitName() const { return unitName_; }
    AudioUnitParameterOptions flags() const { return flags_; }
    const std::vector<std::string>& valueStrings() const { return valueStrings_; }
    const std::vector<AUParameterAddress>& dependentParameters() const { return dependentParameters_; }

    // The current value: the implementor's provider when one is set, else the stored value. Safe
    // on the render thread when no provider is set.
    AUValue value() const;
    // setValue(value, 0, 0, .value).
    void setValue(AUValue value);
    // Stores the value (unclamped, as given), tells the implementor's observer for value events,
    // then every parameter and automation observer of this parameter and of its tree, except the
    // one whose token is the originator.
    void setValue(AUValue value, AUParameterObserverToken originator, uint64_t atHostTime,
                  AUParameterAutomationEventType eventType);

    // Stores a value the unit has applied (its render thread), telling no one.
    void storeValue(AUValue value) { value_.store(value, std::memory_order_relaxed); }

    // The audio unit's side: told of every value set (before observers), and asked for the value.
    std::function<void(AUParameter*, AUValue)> implementorValueObserver;
    std::function<AUValue(AUParameter*)> implementorValueProvider;
    // Text of a value (valueStrings for indexed parameters, else the number).
    std::string stringFromValue(const AUValue* value = nullptr) const;

    AUParameterObserverToken tokenByAddingParameterObserver(AUParameterObserver observer);
    AUParameterObserverToken tokenByAddingParameterAutomationObserver(AUParameterAutomationObserver observer);
    // Removes an observer added here (unknown tokens are ignored).
    void removeParameterObserver(AUParameterObserverToken token);

private:
    friend class AUParameterTree;
    std::string identifier_;
    std::string displayName_;
    std::string keyPath_;
    AUParameterAddress address_;
    AUValue minValue_;
    AUValue maxValue_;
    AudioUnitParameterUnit unit_;
    std::string unitName_;
    AudioUnitParameterOptions flags_;
    std::vector<std::string> valueStrings_;
    std::vector<AUParameterAddress> dependentParameters_;
    std::atomic<AUValue> value_;
    std::atomic<AUParameterTree*> tree_{nullptr};

    struct Observer {
        AUParameterObserverToken token;
        AUParameterObserver plain;
        AUParameterAutomationObserver automation;
    };
    mutable std::mutex observersMutex_;
    std::vector<Observer> observers_;
};

// A fresh observer token, unique in the process.
AUParameterObserverToken AUParameterMakeObserverToken();

}  // namespace platform
