#include "Sonora/Nodes/Effects/Delay.h"

namespace sonora {

Delay::Delay(std::shared_ptr<Node> input, float time, float feedback, float lowPassCutoff, float dryWetMix)
    : EffectNode(std::make_shared<platform::AVAudioUnitDelay>(), std::move(input)),
      delayAU_(std::static_pointer_cast<platform::AVAudioUnitDelay>(unit())) {
    bindAndAssign({{&this->dryWetMix, dryWetMix}, {&this->time, time}, {&this->feedback, feedback},
                   {&this->lowPassCutoff, lowPassCutoff}});
}

}  // namespace sonora
