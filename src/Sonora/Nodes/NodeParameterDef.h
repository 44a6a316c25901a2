// The static description of one node parameter: its key, display name, address, default value,
// range, unit and flags.
#pragma once

#include "Sonora/Internals/Utilities/ClosedRange.h"
#include "Sonora/Internals/Utilities/Constants.h"
#include "platform/audiotoolbox/AUParameter.h"

#include <string>

namespace sonora {

struct NodeParameterDef {
    // The parameter's key in the audio unit's parameter tree.
    std::string identifier;
    // Display name.
    std::string name;
    // Address in the audio unit.
    platform::AUParameterAddress address = 0;
    // Initial value the owning node applies.
    platform::AUValue defaultValue = 0;
    // Allowed values.
    ClosedRange<platform::AUValue> range{0, 1};
    // The platform's parameter unit number.
    platform::AudioUnitParameterUnit unit = platform::kAudioUnitParameterUnit_Generic;
    // The platform's parameter flags.
    platform::AudioUnitParameterOptions flags = nodeParameterDefaultFlags;
};

}  // namespace sonora
