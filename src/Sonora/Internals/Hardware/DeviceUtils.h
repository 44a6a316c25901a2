// The raw device queries of the audio layer, through the system's audio object properties. Every
// failure gives an empty or zero result; nothing is cached.
#pragma once

#include "platform/coreaudio/AudioObject.h"

#include <optional>
#include <string>
#include <vector>

namespace sonora {

struct DeviceUtils {
    // The identifiers of every audio device, in the system's order; empty on failure (logged).
    static std::vector<platform::AudioDeviceID> devices();
    // The device's name; empty when the query fails or the system gives none.
    static std::string name(platform::AudioDeviceID deviceID);
    // Channel totals of the device's input or output streams; 0 when a query fails.
    static int inputChannelCount(platform::AudioDeviceID deviceID);
    static int outputChannelCount(platform::AudioDeviceID deviceID);
    // The channel total for a scope, or none when either query fails.
    static std::optional<int> channelCount(platform::AudioDeviceID deviceID, platform::AudioObjectPropertyScope scope);
};

}  // namespace sonora
