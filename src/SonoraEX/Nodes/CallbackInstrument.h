// An instrument that makes no sound: the three-byte MIDI messages its unit receives while it renders
// reach a closure on the thread that created the node (a 0.01 s timer on that thread's run loop).
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/audiotoolbox/AVAudioUnit.h"

#include <functional>
#include <memory>

namespace sonora {

class CallbackInstrument : public Node {
public:
    using MIDICallback = std::function<void(uint8_t status, uint8_t data1, uint8_t data2)>;

    // Without a closure, the events collected are discarded.
    explicit CallbackInstrument(MIDICallback callback = nullptr);

    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return avAudioNode_; }

private:
    std::shared_ptr<platform::AVAudioUnit> avAudioNode_;
};

}  // namespace sonora
