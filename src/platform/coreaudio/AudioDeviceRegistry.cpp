#include "platform/coreaudio/AudioDeviceRegistry.h"

#include "platform/coreaudio/PortAudioHost.h"

#include <cstdlib>
#include <cstring>

namespace platform::AudioDeviceRegistry {

namespace {

std::string forcedDevice() {
    const char* value = std::getenv("TAMBERLO_AUDIO_DEVICE");
    return value ? value : "";
}

AudioDevice nullOutput() { return {kAudioDeviceNullOutput, "Null Output", 0, 2, 44100, 512, true}; }
AudioDevice nullInput() { return {kAudioDeviceNullInput, "Null Input", 2, 0, 44100, 512, true}; }
AudioDevice failingOutput() { return {kAudioDeviceFailing, "Failing Output", 0, 2, 44100, 512, true}; }

std::vector<AudioDevice> realDevices() {
    if (nullDevicesForced()) return {};
    return detail::PortAudioHost::devices();
}

}  // namespace

bool nullDevicesForced() { return forcedDevice() == "null"; }

std::vector<AudioDevice> devices() {
    std::vector<AudioDevice> list{nullOutput(), nullInput()};
    for (auto& d : realDevices()) list.push_back(std::move(d));
    return list;
}

std::optional<AudioDevice> device(AudioDeviceID deviceID) {
    if (deviceID == kAudioDeviceFailing) return failingOutput();
    for (auto& d : devices())
        if (d.deviceID == deviceID) return d;
    return std::nullopt;
}

AudioDeviceID defaultOutputDevice() {
    if (forcedDevice() == "fail") return kAudioDeviceFailing;
    if (nullDevicesForced()) return kAudioDeviceNullOutput;
    if (auto id = detail::PortAudioHost::defaultDevice(/*output=*/true)) return *id;
    return kAudioDeviceNullOutput;
}

AudioDeviceID defaultInputDevice() {
    if (nullDevicesForced()) return kAudioDeviceNullInput;
    if (auto id = detail::PortAudioHost::defaultDevice(/*output=*/false)) return *id;
    return kAudioDeviceNullInput;
}

}  // namespace platform::AudioDeviceRegistry
