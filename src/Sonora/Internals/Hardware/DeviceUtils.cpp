#include "Sonora/Internals/Hardware/DeviceUtils.h"

#include "Sonora/Internals/Utilities/Log.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>

namespace sonora {

using namespace platform;

std::vector<AudioDeviceID> DeviceUtils::devices() {
    const AudioObjectPropertyAddress address{kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    uint32_t size = 0;
    OSStatus status = AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &address, 0, nullptr, &size);
    if (status != noErr) {
        Log({"Error " + std::to_string(status) + " from AudioObjectGetPropertyDataSize"});
        return {};
    }
    const size_t count = size / sizeof(AudioDeviceID);
    if (count == 0) return {};
    std::vector<AudioDeviceID> ids(count);
    uint32_t dataSize = uint32_t(count * sizeof(AudioDeviceID));
    status = AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr, &dataSize, ids.data());
    if (status != noErr) {
        Log({"Error " + std::to_string(status) + " from AudioObjectGetPropertyData"});
        return {};
    }
    ids.resize(dataSize / sizeof(AudioDeviceID));
    return ids;
}

std::string DeviceUtils::name(AudioDeviceID deviceID) {
    const AudioObjectPropertyAddress address{kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    CFStringRef text = nullptr;
    uint32_t size = sizeof(text);
    if (AudioObjectGetPropertyData(deviceID, &address, 0, nullptr, &size, &text) != noErr || !text) return {};
    std::string result = CFStringGetStdString(text);
    CFRelease(text);
    return result;
}

std::optional<int> DeviceUtils::channelCount(AudioDeviceID deviceID, AudioObjectPropertyScope scope) {
    const AudioObjectPropertyAddress address{kAudioDevicePropertyStreamConfiguration, scope,
                                             kAudioObjectPropertyElementMain};
    uint32_t size = 0;
    if (AudioObjectGetPropertyDataSize(deviceID, &address, 0, nullptr, &size) != noErr) return std::nullopt;
    if (size < AudioBufferListSize(0)) size = uint32_t(AudioBufferListSize(0));
    // Any storage of at least the reported size, aligned for the list.
    std::unique_ptr<std::byte[], void (*)(void*)> storage(
        static_cast<std::byte*>(std::calloc(1, size)), [](void* p) { std::free(p); });
    if (!storage) return std::nullopt;
    if (AudioObjectGetPropertyData(deviceID, &address, 0, nullptr, &size, storage.get()) != noErr) return std::nullopt;
    const auto* list = reinterpret_cast<const AudioBufferList*>(storage.get());
    const size_t room = size < offsetof(AudioBufferList, mBuffers)
                            ? 0
                            : (size - offsetof(AudioBufferList, mBuffers)) / sizeof(AudioBuffer);
    const size_t buffers = std::min<size_t>(list->mNumberBuffers, room);
    int total = 0;
    for (size_t i = 0; i < buffers; ++i) total += int(list->mBuffers[i].mNumberChannels);
    return total;
}

int DeviceUtils::inputChannelCount(AudioDeviceID deviceID) {
    return channelCount(deviceID, kAudioObjectPropertyScopeInput).value_or(0);
}

int DeviceUtils::outputChannelCount(AudioDeviceID deviceID) {
    return channelCount(deviceID, kAudioObjectPropertyScopeOutput).value_or(0);
}

}  // namespace sonora
