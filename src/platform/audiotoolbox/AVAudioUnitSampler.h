// The sampler instrument node. For now it plays nothing: it renders silence and accepts MIDI.
#pragma once

#include "platform/audiotoolbox/AVAudioUnit.h"

namespace platform {

class AVAudioUnitSampler : public AVAudioUnit {
public:
    AVAudioUnitSampler();
    // initWithAudioComponentDescription:.
    explicit AVAudioUnitSampler(const AudioComponentDescription& description);

    std::string className() const override { return "AVAudioUnitSampler"; }
};

}  // namespace platform
