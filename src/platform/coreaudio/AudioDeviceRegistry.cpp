#include "platform/coreaudio/AudioDeviceRegistry.h"

#include "platform/coreaudio/PortAudioHost.h"

#include <sndfile.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform::AudioDeviceRegistry {

namespace {

std::string forcedDevice() {
    const char* value = std::getenv("TAMBERLO_AUDIO_DEVICE");
    return value ? value : "";
}

AudioDevice nullOutput() { return {kAudioDeviceNullOutput, "Null Output", 0, 2, 44100, 512, true}; }
std::mutex& signalMutex() {
    static std::mutex mutex;
    return mutex;
}
std::shared_ptr<const NullInputSignal>& currentSignal() {
    static std::shared_ptr<const NullInputSignal> signal;
    return signal;
}

AudioDevice nullInput() {
    AudioDevice device{kAudioDeviceNullInput, "Null Input", 2, 0, 44100, 512, true};
    if (auto signal = nullInputSignal()) {
        device.inputChannels = signal->channels;
        device.sampleRate = signal->sampleRate;
    }
    return device;
}
AudioDevice failingOutput() { return {kAudioDeviceFailing, "Failing Output", 0, 2, 44100, 512, true}; }

std::vector<AudioDevice> realDevices() {
    if (nullDevicesForced()) return {};
    return detail::PortAudioHost::devices();
}

}  // namespace

bool nullDevicesForced() { return forcedDevice() == "null"; }

bool setNullInputFile(const std::filesystem::path& path) {
    if (path.empty()) {
        std::lock_guard lock(signalMutex());
        currentSignal().reset();
        return true;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return false;
    auto signal = std::make_shared<NullInputSignal>();
    signal->sampleRate = info.samplerate;
    signal->channels = uint32_t(info.channels);
    bool ok = info.channels > 0 && info.samplerate > 0;
    if (ok) {
        signal->samples.resize(size_t(info.frames) * size_t(info.channels));
        ok = sf_readf_float(file, signal->samples.data(), info.frames) == info.frames;
    }
    sf_close(file);
    if (!ok) return false;
    std::lock_guard lock(signalMutex());
    currentSignal() = std::move(signal);
    return true;
}

std::shared_ptr<const NullInputSignal> nullInputSignal() {
    std::lock_guard lock(signalMutex());
    return currentSignal();
}

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
