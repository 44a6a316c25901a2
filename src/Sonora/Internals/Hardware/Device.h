// An audio device as the audio layer hands it to callers: name, channel counts and identifier.
#pragma once

#include "platform/coreaudio/AudioObject.h"

#include <cstddef>
#include <optional>
#include <string>

namespace sonora {

struct Device {
    // init(name:deviceID:): no channel counts.
    Device(std::string name, platform::AudioDeviceID deviceID);
    // A device read from the system: its name and both channel counts.
    explicit Device(platform::AudioDeviceID deviceID);
    Device(std::string name, std::optional<int> inputChannelCount, std::optional<int> outputChannelCount,
           platform::AudioDeviceID deviceID);

    // Empty when the system gives none.
    std::string name;
    // None when not queried.
    std::optional<int> inputChannelCount;
    std::optional<int> outputChannelCount;
    platform::AudioDeviceID deviceID = 0;

    bool operator==(const Device&) const = default;

    // "<Device: name (id)>".
    std::string debugDescription() const;
    size_t hash() const;
};

}  // namespace sonora

template <>
struct std::hash<sonora::Device> {
    size_t operator()(const sonora::Device& device) const noexcept { return device.hash(); }
};
