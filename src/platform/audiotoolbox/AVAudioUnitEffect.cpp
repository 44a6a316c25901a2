#include "platform/audiotoolbox/AVAudioUnitEffect.h"

namespace platform {

std::shared_ptr<AUAudioUnit> makeEffectUnit(const AudioComponentDescription& description) {
    registerBuiltInEffectUnits();
    NSError error;
    auto unit = AUAudioUnit::instantiate(description, 0, &error);
    if (!unit) throw std::invalid_argument("No audio unit for the component description: " + error.localizedDescription);
    return unit;
}

AVAudioUnitEffect::AVAudioUnitEffect(const AudioComponentDescription& description)
    : AVAudioUnit(makeEffectUnit(description)) {}

AVAudioUnitTimeEffect::AVAudioUnitTimeEffect(const AudioComponentDescription& description)
    : AVAudioUnit(makeEffectUnit(description)) {}

}  // namespace platform
