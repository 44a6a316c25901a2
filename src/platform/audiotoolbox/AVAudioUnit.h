// A graph node that wraps an audio unit: its buses are the unit's, its render is the unit's
// internalRenderBlock, and audioUnit() gives the C handle for AudioUnitSetParameter and friends.
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioNode.h"

namespace platform {

class AVAudioUnit : public AVAudioNode {
public:
    // A node over the unit (which must not be null); the node follows the unit's input bus count.
    explicit AVAudioUnit(std::shared_ptr<AUAudioUnit> unit);
    ~AVAudioUnit() override;

    // The C handle of the wrapped unit.
    AudioUnit audioUnit() const;
    AudioComponentDescription audioComponentDescription() const;
    std::string name() const;

    std::string className() const override { return "AVAudioUnit"; }

protected:
    AVAudioFormat defaultOutputFormat(AVAudioNodeBus bus) const override;
    AVAudioFormat defaultInputFormat(AVAudioNodeBus bus) const override;
};

}  // namespace platform
