// A graph node that wraps an audio unit: its buses are the unit's, its render is the unit's
// internalRenderBlock, and audioUnit() gives the C handle for AudioUnitSetParameter and friends.
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <functional>
#include <optional>

namespace platform {

class AVAudioUnit : public AVAudioNode {
public:
    // A node over the unit (which must not be null); the node follows the unit's input bus count.
    explicit AVAudioUnit(std::shared_ptr<AUAudioUnit> unit);
    ~AVAudioUnit() override;

    // instantiateWithComponentDescription:options:completionHandler:. Makes the unit of the class
    // registered for the description (AUAudioUnit::registerSubclass) on the calling thread and
    // calls the completion before returning: with the node, or with no node and an error.
    static void instantiate(const AudioComponentDescription& description, AudioComponentInstantiationOptions options,
                            const std::function<void(std::shared_ptr<AVAudioUnit>, std::optional<NSError>)>& completion);

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
