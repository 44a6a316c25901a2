#include "platform/audiotoolbox/AUAudioUnitBusArray.h"

#include "platform/audiotoolbox/AudioUnit.h"

namespace platform {

AUAudioUnitBusArray::AUAudioUnitBusArray(AUAudioUnitBusType busType, uint32_t count, const AVAudioFormat& format,
                                         bool countChangeable, uint32_t maximumCount)
    : busType_(busType), defaultFormat_(format), countChangeable_(countChangeable), maximumCount_(maximumCount) {
    for (uint32_t i = 0; i < count; ++i) busses_.push_back(std::make_shared<AUAudioUnitBus>(busType, i, format));
}

AUAudioUnitBusArray::AUAudioUnitBusArray(AUAudioUnit* unit, AUAudioUnitBusType busType,
                                         std::vector<std::shared_ptr<AUAudioUnitBus>> busses)
    : owner_(unit), busType_(busType), busses_(std::move(busses)), countChangeable_(false), maximumCount_(0) {
    std::erase(busses_, nullptr);
    if (!busses_.empty()) defaultFormat_ = busses_.front()->format();
    for (auto& bus : busses_) bus->ownerAudioUnit_ = unit;
}

AUAudioUnitBusArray::AUAudioUnitBusArray(AUAudioUnit* unit, AUAudioUnitBusType busType, uint32_t count,
                                         const AVAudioFormat& format)
    : AUAudioUnitBusArray(busType, count, format) {
    owner_ = unit;
    for (auto& bus : busses_) bus->ownerAudioUnit_ = unit;
}

std::shared_ptr<AUAudioUnitBus> AUAudioUnitBusArray::operator[](uint32_t index) const {
    return index < busses_.size() ? busses_[index] : nullptr;
}

bool AUAudioUnitBusArray::setBusCount(uint32_t newCount, NSError* outError) {
    auto refuse = [&](OSStatus status, const char* text) {
        if (outError) *outError = makeOSStatusError(status, text);
        return false;
    };
    if (newCount == count()) return true;
    if (!countChangeable_) return refuse(kAudioUnitErr_PropertyNotWritable, "The bus count of this unit cannot change.");
    if (newCount > maximumCount_) return refuse(kAudioUnitErr_InvalidPropertyValue, "Too many buses for this unit.");
    if (countChangeHandler && !countChangeHandler(count(), newCount))
        return refuse(kAudioUnitErr_CannotDoInCurrentContext, "The bus count cannot change now.");
    const AVAudioFormat format = busses_.empty() ? defaultFormat_ : busses_.back()->format();
    if (newCount < count()) {
        busses_.resize(newCount);
    } else {
        for (uint32_t i = count(); i < newCount; ++i) {
            busses_.push_back(std::make_shared<AUAudioUnitBus>(busType_, i, format));
            busses_.back()->ownerAudioUnit_ = owner_;
        }
    }
    return true;
}

}  // namespace platform
