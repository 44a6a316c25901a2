// The simplest generator: a source node that reads one cycle of a wavetable at a frequency and an
// amplitude, the same samples on every channel. Created bypassed (silent); start() makes it sound
// and stop() silences it again, keeping the phase where it was.
//
//   auto osc = std::make_shared<PlaygroundOscillator>(std::make_shared<Table>(TableType::square), 441, 0.5f);
//   engine.setOutput(osc);
//   osc->start();
#pragma once

#include "Sonora/Internals/Table/Table.h"
#include "Sonora/Nodes/Node.h"

#include <memory>
#include <vector>

namespace platform {
class AVAudioSourceNode;
}

namespace sonora {

class PlaygroundOscillator : public Node {
public:
    // init(waveform:frequency:amplitude:). The table's samples are taken now: later changes to the
    // table are not heard.
    explicit PlaygroundOscillator(std::shared_ptr<Table> waveform = std::make_shared<Table>(TableType::sine),
                                  float frequency = 440, float amplitude = 1);
    ~PlaygroundOscillator() override;

    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override;
    const std::shared_ptr<platform::AVAudioSourceNode>& sourceNode() const { return sourceNode_; }

    const std::shared_ptr<Table>& waveform() const { return waveform_; }

    // Read by the render thread at every cycle: a change is heard from the next one. A frequency
    // or amplitude that is not finite gives silence.
    float frequency() const;
    void setFrequency(float frequency);
    float amplitude() const;
    void setAmplitude(float amplitude);

    // Position in the cycle in radians, 0 ... 2π; only the render thread moves it.
    float currentPhase() const;

private:
    struct RenderState;

    std::shared_ptr<Table> waveform_;
    std::shared_ptr<RenderState> state_;
    std::shared_ptr<platform::AVAudioSourceNode> sourceNode_;
};

}  // namespace sonora
