// The input or the output buses of an audio unit. Units that allow it (mixers) change their bus
// count; the owner of the unit (an engine node) hears of every change through countChangeHandler.
#pragma once

#include "platform/audiotoolbox/AUAudioUnitBus.h"

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class AUAudioUnit;

class AUAudioUnitBusArray {
public:
    AUAudioUnitBusArray(AUAudioUnitBusType busType, uint32_t count, const AVAudioFormat& format,
                        bool countChangeable = false, uint32_t maximumCount = 0);
    // initWithAudioUnit:busType:busses: the given buses, owned by `unit` (which may refuse their formats).
    AUAudioUnitBusArray(AUAudioUnit* unit, AUAudioUnitBusType busType,
                        std::vector<std::shared_ptr<AUAudioUnitBus>> busses);
    // `count` buses in `format`, owned by `unit`.
    AUAudioUnitBusArray(AUAudioUnit* unit, AUAudioUnitBusType busType, uint32_t count, const AVAudioFormat& format);

    AUAudioUnit* ownerAudioUnit() const { return owner_; }

    AUAudioUnitBusType busType() const { return busType_; }
    uint32_t count() const { return static_cast<uint32_t>(busses_.size()); }
    // The bus at an index, or null past the end.
    std::shared_ptr<AUAudioUnitBus> operator[](uint32_t index) const;
    std::shared_ptr<AUAudioUnitBus> objectAtIndexedSubscript(uint32_t index) const { return (*this)[index]; }

    bool isCountChangeable() const { return countChangeable_; }
    // The largest count setBusCount accepts (the count itself when it cannot change).
    uint32_t maximumCount() const { return countChangeable_ ? maximumCount_ : count(); }

    // setBusCount:error:. Refused (false, outError filled, nothing changed) when the count cannot
    // change, is above maximumCount(), or the handler refuses. New buses take the last bus's format.
    bool setBusCount(uint32_t count, NSError* outError = nullptr);

    // Called before a count change with the old and the new count; returning false refuses it.
    std::function<bool(uint32_t oldCount, uint32_t newCount)> countChangeHandler;

private:
    AUAudioUnit* owner_ = nullptr;
    AUAudioUnitBusType busType_;
    std::vector<std::shared_ptr<AUAudioUnitBus>> busses_;
    AVAudioFormat defaultFormat_;
    bool countChangeable_;
    uint32_t maximumCount_;
};

}  // namespace platform
