#include "platform/coreaudio/AudioObjectFakeProvider.h"

#include "platform/coreaudio/AudioObjectAnswers.h"

namespace platform {

namespace {
detail::AudioObjectSystemState stateOf(const std::vector<AudioObjectFakeProvider::Device>& devices) {
    detail::AudioObjectSystemState s;
    for (const auto& d : devices) {
        s.devices.push_back({d.deviceID, d.name, d.inputChannels, d.outputChannels, 44100, 512});
        if (!s.defaultOutput && d.outputChannels) s.defaultOutput = d.deviceID;
        if (!s.defaultInput && d.inputChannels) s.defaultInput = d.deviceID;
    }
    return s;
}
}  // namespace

void AudioObjectFakeProvider::fail(Query query, OSStatus status, std::optional<AudioObjectID> object,
                                   std::optional<AudioObjectPropertySelector> selector,
                                   std::optional<AudioObjectPropertyScope> scope) {
    failures_.push_back({query, status, object, selector, scope});
}

std::optional<OSStatus> AudioObjectFakeProvider::failureFor(Query query, AudioObjectID object,
                                                            const AudioObjectPropertyAddress& address) const {
    for (const auto& f : failures_) {
        if (f.query != query) continue;
        if (f.object && *f.object != object) continue;
        if (f.selector && *f.selector != address.mSelector) continue;
        if (f.scope && *f.scope != address.mScope) continue;
        return f.status;
    }
    return std::nullopt;
}

OSStatus AudioObjectFakeProvider::getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                                      uint32_t* outDataSize) {
    if (auto status = failureFor(Query::size, object, address)) return *status;
    return detail::answerAudioObjectProperty(stateOf(devices), object, address, outDataSize, nullptr);
}

OSStatus AudioObjectFakeProvider::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                                  uint32_t* ioDataSize, void* outData) {
    if (auto status = failureFor(Query::data, object, address)) return *status;
    return detail::answerAudioObjectProperty(stateOf(devices), object, address, ioDataSize, outData);
}

}  // namespace platform
