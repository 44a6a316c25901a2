#include "Sonora/Internals/Hardware/Device.h"

#include "Sonora/Internals/Hardware/DeviceUtils.h"

#include <functional>

namespace sonora {

Device::Device(std::string name, platform::AudioDeviceID deviceID) : name(std::move(name)), deviceID(deviceID) {}

Device::Device(platform::AudioDeviceID deviceID)
    : name(DeviceUtils::name(deviceID)), inputChannelCount(DeviceUtils::inputChannelCount(deviceID)),
      outputChannelCount(DeviceUtils::outputChannelCount(deviceID)), deviceID(deviceID) {}

Device::Device(std::string name, std::optional<int> inputChannelCount, std::optional<int> outputChannelCount,
               platform::AudioDeviceID deviceID)
    : name(std::move(name)), inputChannelCount(inputChannelCount), outputChannelCount(outputChannelCount),
      deviceID(deviceID) {}

std::string Device::debugDescription() const { return "<Device: " + name + " (" + std::to_string(deviceID) + ")>"; }

size_t Device::hash() const {
    size_t seed = std::hash<std::string>{}(name);
    const auto combine = [&seed](size_t value) { seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2); };
    for (const auto& count : {inputChannelCount, outputChannelCount}) {
        combine(count ? 1 : 0);
        if (count) combine(std::hash<int>{}(*count));
    }
    combine(std::hash<uint32_t>{}(deviceID));
    return seed;
}

}  // namespace sonora
