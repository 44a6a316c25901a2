// Audio-component descriptions of the audio layer's own units ("AuKt", sandbox safe) and of the
// platform's effects, and the key lookup of audio-unit parameters.
#pragma once

#include "platform/audiotoolbox/AUParameterTree.h"
#include "platform/audiotoolbox/AudioComponentDescription.h"

#include <memory>
#include <string_view>

namespace sonora {

// The manufacturer code of the audio layer's own units ("AuKt").
platform::OSType sonoraManufacturerCode();

// AudioComponentDescription(type:subType:): the layer's own unit of that type and sub-type.
platform::AudioComponentDescription audioComponentDescription(platform::OSType type, platform::OSType subType);
// AudioComponentDescription(appleEffect:): a platform effect ('aufx', 'appl').
platform::AudioComponentDescription appleEffectDescription(platform::OSType subType);
// AudioComponentDescription(musicEffect:), from a code or a four-character text ('aumf').
platform::AudioComponentDescription musicEffectDescription(platform::OSType subType);
platform::AudioComponentDescription musicEffectDescription(std::string_view subType);
// AudioComponentDescription(mixer:) ('aumx'), (generator:) ('augn'), (instrument:) ('aumu').
platform::AudioComponentDescription mixerDescription(std::string_view subType);
platform::AudioComponentDescription generatorDescription(std::string_view subType);
platform::AudioComponentDescription instrumentDescription(std::string_view subType);

// subscript(key:): the parameter under that key, or null.
std::shared_ptr<platform::AUParameter> parameter(const platform::AUParameterTree& tree, const std::string& key);

}  // namespace sonora
