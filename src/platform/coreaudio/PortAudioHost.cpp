#include "platform/coreaudio/PortAudioHost.h"

#include <alsa/error.h>
#include <portaudio.h>

#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace platform::detail::PortAudioHost {

namespace {

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// ALSA and JACK print probing failures straight to stderr while PortAudio looks for devices;
// they are not errors of ours, so stderr points at /dev/null for that moment.
class StderrSilencer {
public:
    StderrSilencer() {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) close(null);
    }
    ~StderrSilencer() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
        }
    }

private:
    int saved_ = -1;
};

bool initialized = false;

}  // namespace

bool initialize() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(&quietAlsa);
        setenv("JACK_NO_START_SERVER", "1", 0);
        StderrSilencer silence;
        initialized = Pa_Initialize() == paNoError;
    });
    return initialized;
}

std::vector<AudioDevice> devices() {
    std::vector<AudioDevice> list;
    if (!initialize()) return list;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info) continue;
        AudioDevice d;
        d.deviceID = kAudioDeviceFirstReal + AudioDeviceID(i);
        d.name = info->name ? info->name : "";
        d.inputChannels = uint32_t(std::max(0, info->maxInputChannels));
        d.outputChannels = uint32_t(std::max(0, info->maxOutputChannels));
        d.sampleRate = info->defaultSampleRate > 0 ? info->defaultSampleRate : 44100;
        d.bufferFrames = 512;
        list.push_back(std::move(d));
    }
    return list;
}

std::optional<AudioDeviceID> defaultDevice(bool output) {
    if (!initialize()) return std::nullopt;
    const PaDeviceIndex preferred = output ? Pa_GetDefaultOutputDevice() : Pa_GetDefaultInputDevice();
    if (preferred != paNoDevice) return kAudioDeviceFirstReal + AudioDeviceID(preferred);
    for (const auto& d : devices())
        if ((output ? d.outputChannels : d.inputChannels) > 0) return d.deviceID;
    return std::nullopt;
}

int indexOf(AudioDeviceID deviceID) {
    if (deviceID < kAudioDeviceFirstReal || !initialize()) return -1;
    const int index = int(deviceID - kAudioDeviceFirstReal);
    return index < Pa_GetDeviceCount() ? index : -1;
}

}  // namespace platform::detail::PortAudioHost
