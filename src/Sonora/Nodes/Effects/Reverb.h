// A reverb over the platform's reverb unit. `dryWetMix` (0 ... 1) is the share of reverberated
// signal; stop() turns the reverberation off (dry only) and start() back on, keeping the mix.
//
//   auto reverb = std::make_shared<Reverb>(player, 0.3f);
//   reverb->loadFactoryPreset(platform::AVAudioUnitReverbPreset::cathedral);
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/audiotoolbox/AVAudioUnitReverb.h"

namespace sonora {

class Reverb : public Node {
public:
    // The argument is stored and sent to the unit as given (× 100); the unit limits it.
    explicit Reverb(std::shared_ptr<Node> input, float dryWetMix = 0.5f);

    std::vector<std::shared_ptr<Node>> connections() const override { return {input_}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return avAudioNode_; }
    void setAvAudioNode(std::shared_ptr<platform::AVAudioNode> node) { avAudioNode_ = std::move(node); }
    const std::shared_ptr<platform::AVAudioUnitReverb>& reverbAU() const { return reverbAU_; }

    // The unit's wet/dry mix back at dryWetMix × 100; play() is start().
    void start();
    void play() { start(); }
    // The unit's wet/dry mix at 0, dryWetMix kept; bypass() is stop().
    void stop();
    void bypass() { stop(); }

    // Clamped to 0 ... 1 (NaN is ignored), then sent to the unit as a percentage.
    float dryWetMix() const { return dryWetMix_; }
    void setDryWetMix(float dryWetMix);

    // True from creation; only setIsStarted() changes it.
    bool isStarted() const override { return isStarted_; }
    void setIsStarted(bool started) { isStarted_ = started; }

    // Passed to the unit unchanged (a value that names no preset is ignored there).
    void loadFactoryPreset(platform::AVAudioUnitReverbPreset preset);

private:
    std::shared_ptr<platform::AVAudioUnitReverb> reverbAU_;
    std::shared_ptr<Node> input_;
    std::shared_ptr<platform::AVAudioNode> avAudioNode_;
    float dryWetMix_ = 0.5f;
    bool isStarted_ = true;
};

}  // namespace sonora
