#include "Sonora/Internals/Engine/AudioComponentDescriptions.h"

#include "Sonora/Internals/Utilities/FourCC.h"

namespace sonora {

using platform::AudioComponentDescription;
using platform::OSType;

namespace {
AudioComponentDescription describe(OSType type, OSType subType, OSType manufacturer, uint32_t flags) {
    AudioComponentDescription description;
    description.componentType = type;
    description.componentSubType = subType;
    description.componentManufacturer = manufacturer;
    description.componentFlags = flags;
    description.componentFlagsMask = 0;
    return description;
}
}  // namespace

OSType sonoraManufacturerCode() { return fourCC("AuKt"); }

AudioComponentDescription audioComponentDescription(OSType type, OSType subType) {
    return describe(type, subType, sonoraManufacturerCode(), platform::kAudioComponentFlag_SandboxSafe);
}

AudioComponentDescription appleEffectDescription(OSType subType) {
    return describe(platform::kAudioUnitType_Effect, subType, platform::kAudioUnitManufacturer_Apple, 0);
}

AudioComponentDescription musicEffectDescription(OSType subType) {
    return audioComponentDescription(platform::kAudioUnitType_MusicEffect, subType);
}

AudioComponentDescription musicEffectDescription(std::string_view subType) {
    return musicEffectDescription(fourCC(subType));
}

AudioComponentDescription mixerDescription(std::string_view subType) {
    return audioComponentDescription(platform::kAudioUnitType_Mixer, fourCC(subType));
}

AudioComponentDescription generatorDescription(std::string_view subType) {
    return audioComponentDescription(platform::kAudioUnitType_Generator, fourCC(subType));
}

AudioComponentDescription instrumentDescription(std::string_view subType) {
    return audioComponentDescription(platform::kAudioUnitType_MusicDevice, fourCC(subType));
}

std::shared_ptr<platform::AUParameter> parameter(const platform::AUParameterTree& tree, const std::string& key) {
    return tree.valueForKey(key);
}

}  // namespace sonora
