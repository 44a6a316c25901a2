#include "Sonora/Nodes/Effects/Reverb.h"

#include "Sonora/Nodes/Effects/ClampedProperty.h"

namespace sonora {

Reverb::Reverb(std::shared_ptr<Node> input, float dryWetMix)
    : reverbAU_(std::make_shared<platform::AVAudioUnitReverb>()), input_(std::move(input)), dryWetMix_(dryWetMix) {
    avAudioNode_ = reverbAU_;
    reverbAU_->setWetDryMix(dryWetMix * 100.0f);
}

void Reverb::start() { reverbAU_->setWetDryMix(dryWetMix_ * 100.0f); }

void Reverb::stop() { reverbAU_->setWetDryMix(0.0f); }

void Reverb::setDryWetMix(float dryWetMix) {
    if (!assignClamped(dryWetMix_, dryWetMix, 0.0f, 1.0f)) return;
    reverbAU_->setWetDryMix(dryWetMix_ * 100.0f);
}

void Reverb::loadFactoryPreset(platform::AVAudioUnitReverbPreset preset) { reverbAU_->loadFactoryPreset(preset); }

}  // namespace sonora
