#include "platform/coreaudio/AudioObject.h"

#include "platform/coreaudio/AudioDeviceRegistry.h"
#include "platform/coreaudio/AudioObjectAnswers.h"

#include <cstring>
#include <mutex>

struct platform::CFStringStorage {
    std::string text;
};

namespace platform {

CFStringRef CFStringCreateWithStdString(const std::string& text) { return new CFStringStorage{text}; }
std::string CFStringGetStdString(CFStringRef string) { return string ? string->text : std::string(); }
void CFRelease(CFStringRef string) { delete string; }

namespace detail {

namespace {
const AudioObjectDeviceEntry* findDevice(const AudioObjectSystemState& state, AudioObjectID object) {
    for (const auto& d : state.devices)
        if (d.deviceID == object) return &d;
    for (const auto& d : state.hiddenDevices)
        if (d.deviceID == object) return &d;
    return nullptr;
}

template <typename T>
OSStatus answerValue(const T& value, uint32_t* ioDataSize, void* outData) {
    if (outData) {
        if (*ioDataSize < sizeof(T)) return kAudioHardwareBadPropertySizeError;
        std::memcpy(outData, &value, sizeof(T));
    }
    *ioDataSize = sizeof(T);
    return kAudioHardwareNoError;
}
}  // namespace

OSStatus answerAudioObjectProperty(const AudioObjectSystemState& state, AudioObjectID object,
                                   const AudioObjectPropertyAddress& address, uint32_t* ioDataSize, void* outData) {
    const bool global = address.mScope == kAudioObjectPropertyScopeGlobal;
    if (object == kAudioObjectSystemObject) {
        if (!global) return kAudioHardwareUnknownPropertyError;
        switch (address.mSelector) {
        case kAudioHardwarePropertyDevices: {
            const uint32_t needed = uint32_t(state.devices.size() * sizeof(AudioDeviceID));
            if (outData) {
                // Like the system, fill as many identifiers as the room allows.
                const size_t count = std::min<size_t>(*ioDataSize / sizeof(AudioDeviceID), state.devices.size());
                auto* ids = static_cast<AudioDeviceID*>(outData);
                for (size_t i = 0; i < count; ++i) ids[i] = state.devices[i].deviceID;
                *ioDataSize = uint32_t(count * sizeof(AudioDeviceID));
            } else {
                *ioDataSize = needed;
            }
            return kAudioHardwareNoError;
        }
        case kAudioHardwarePropertyDefaultOutputDevice:
            return answerValue(state.defaultOutput, ioDataSize, outData);
        case kAudioHardwarePropertyDefaultInputDevice:
            return answerValue(state.defaultInput, ioDataSize, outData);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }

    const AudioObjectDeviceEntry* device = findDevice(state, object);
    if (!device) return kAudioHardwareBadObjectError;
    switch (address.mSelector) {
    case kAudioObjectPropertyName: {
        if (!global) return kAudioHardwareUnknownPropertyError;
        if (!outData) return answerValue(CFStringRef{}, ioDataSize, outData);
        if (*ioDataSize < sizeof(CFStringRef)) return kAudioHardwareBadPropertySizeError;
        const CFStringRef name = device->name.empty() ? nullptr : CFStringCreateWithStdString(device->name);
        return answerValue(name, ioDataSize, outData);
    }
    case kAudioDevicePropertyStreamConfiguration: {
        uint32_t channels = 0;
        if (address.mScope == kAudioObjectPropertyScopeInput)
            channels = device->inputChannels;
        else if (address.mScope == kAudioObjectPropertyScopeOutput)
            channels = device->outputChannels;
        else
            return kAudioHardwareUnknownPropertyError;
        // One interleaved stream per direction, or none at all.
        const uint32_t needed =
            channels ? uint32_t(AudioBufferListSize(1)) : uint32_t(offsetof(AudioBufferList, mBuffers));
        if (outData) {
            if (*ioDataSize < needed) return kAudioHardwareBadPropertySizeError;
            auto* list = static_cast<AudioBufferList*>(outData);
            list->mNumberBuffers = channels ? 1 : 0;
            if (channels) list->mBuffers[0] = AudioBuffer{channels, 0, nullptr};
        }
        *ioDataSize = needed;
        return kAudioHardwareNoError;
    }
    case kAudioDevicePropertyNominalSampleRate:
        if (!global) return kAudioHardwareUnknownPropertyError;
        return answerValue(device->sampleRate, ioDataSize, outData);
    case kAudioDevicePropertyBufferFrameSize:
        if (!global) return kAudioHardwareUnknownPropertyError;
        return answerValue(device->bufferFrames, ioDataSize, outData);
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

}  // namespace detail

namespace {

// Answers from the device registry, asked afresh on every query.
class SystemPropertyProvider : public AudioObjectPropertyProvider {
public:
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 uint32_t* outDataSize) override {
        return detail::answerAudioObjectProperty(state(), object, address, outDataSize, nullptr);
    }
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, uint32_t* ioDataSize,
                             void* outData) override {
        return detail::answerAudioObjectProperty(state(), object, address, ioDataSize, outData);
    }

private:
    static detail::AudioObjectDeviceEntry entry(const AudioDevice& d) {
        return {d.deviceID, d.name, d.inputChannels, d.outputChannels, d.sampleRate, d.bufferFrames};
    }
    static detail::AudioObjectSystemState state() {
        detail::AudioObjectSystemState s;
        for (const auto& d : AudioDeviceRegistry::devices()) s.devices.push_back(entry(d));
        if (auto failing = AudioDeviceRegistry::device(kAudioDeviceFailing)) s.hiddenDevices.push_back(entry(*failing));
        s.defaultOutput = AudioDeviceRegistry::defaultOutputDevice();
        s.defaultInput = AudioDeviceRegistry::defaultInputDevice();
        return s;
    }
};

std::mutex providerMutex;
std::shared_ptr<AudioObjectPropertyProvider>& installedProvider() {
    static std::shared_ptr<AudioObjectPropertyProvider> provider;
    return provider;
}

std::shared_ptr<AudioObjectPropertyProvider> currentProvider() {
    std::lock_guard lock(providerMutex);
    if (!installedProvider()) installedProvider() = std::make_shared<SystemPropertyProvider>();
    return installedProvider();
}

}  // namespace

std::shared_ptr<AudioObjectPropertyProvider> AudioObjectSetPropertyProvider(
    std::shared_ptr<AudioObjectPropertyProvider> provider) {
    std::lock_guard lock(providerMutex);
    auto previous = std::move(installedProvider());
    installedProvider() = std::move(provider);
    return previous;
}

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        uint32_t, const void*, uint32_t* outDataSize) {
    if (!inAddress || !outDataSize) return kAudio_ParamError;
    return currentProvider()->getPropertyDataSize(inObjectID, *inAddress, outDataSize);
}

OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress, uint32_t,
                                    const void*, uint32_t* ioDataSize, void* outData) {
    if (!inAddress || !ioDataSize || !outData) return kAudio_ParamError;
    return currentProvider()->getPropertyData(inObjectID, *inAddress, ioDataSize, outData);
}

bool AudioObjectHasProperty(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress) {
    uint32_t size = 0;
    return AudioObjectGetPropertyDataSize(inObjectID, inAddress, 0, nullptr, &size) == kAudioHardwareNoError;
}

}  // namespace platform
