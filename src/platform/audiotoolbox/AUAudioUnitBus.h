// One input or output bus of an audio unit, with its format.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/foundation/NSError.h"

#include <string>

namespace platform {

enum class AUAudioUnitBusType : int { input = 1, output = 2 };

class AUAudioUnit;

class AUAudioUnitBus {
public:
    AUAudioUnitBus(AUAudioUnitBusType busType, uint32_t index, AVAudioFormat format)
        : busType_(busType), index_(index), format_(std::move(format)) {}

    AUAudioUnitBusType busType() const { return busType_; }
    uint32_t index() const { return index_; }
    const AVAudioFormat& format() const { return format_; }
    // The unit whose bus this is (null for a free-standing bus).
    AUAudioUnit* ownerAudioUnit() const { return ownerAudioUnit_; }
    // Refuses an invalid or non-PCM format, any change while the owner's render resources are
    // allocated, and what the owner refuses (outError filled, false returned).
    bool setFormat(const AVAudioFormat& format, NSError* outError = nullptr);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    std::string name;

private:
    friend class AUAudioUnitBusArray;
    AUAudioUnit* ownerAudioUnit_ = nullptr;
    AUAudioUnitBusType busType_;
    uint32_t index_;
    AVAudioFormat format_;
    bool enabled_ = true;
};

}  // namespace platform
