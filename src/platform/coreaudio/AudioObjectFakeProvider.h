// A property provider with made-up devices for tests, which can fail the size query and the data
// query of chosen properties separately.
#pragma once

#include "platform/coreaudio/AudioObject.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

class AudioObjectFakeProvider : public AudioObjectPropertyProvider {
public:
    struct Device {
        AudioDeviceID deviceID = 0;
        std::string name;  // an empty name answers with a null text reference
        uint32_t inputChannels = 0;
        uint32_t outputChannels = 0;
    };

    // Which query a failure hits.
    enum class Query { size, data };

    // Devices in the order the system object lists them.
    std::vector<Device> devices;

    // Makes the given query fail with status for the matching properties; an absent object,
    // selector or scope matches any.
    void fail(Query query, OSStatus status, std::optional<AudioObjectID> object = std::nullopt,
              std::optional<AudioObjectPropertySelector> selector = std::nullopt,
              std::optional<AudioObjectPropertyScope> scope = std::nullopt);
    void clearFailures() { failures_.clear(); }

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 uint32_t* outDataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             uint32_t* ioDataSize, void* outData) override;

private:
    struct Failure {
        Query query;
        OSStatus status;
        std::optional<AudioObjectID> object;
        std::optional<AudioObjectPropertySelector> selector;
        std::optional<AudioObjectPropertyScope> scope;
    };
    std::optional<OSStatus> failureFor(Query query, AudioObjectID object, const AudioObjectPropertyAddress& address) const;
    std::vector<Failure> failures_;
};

// Installs a provider for the life of the object and restores the previous one afterwards.
class ScopedAudioObjectPropertyProvider {
public:
    explicit ScopedAudioObjectPropertyProvider(std::shared_ptr<AudioObjectPropertyProvider> provider)
        : previous_(AudioObjectSetPropertyProvider(std::move(provider))) {}
    ~ScopedAudioObjectPropertyProvider() { AudioObjectSetPropertyProvider(previous_); }
    ScopedAudioObjectPropertyProvider(const ScopedAudioObjectPropertyProvider&) = delete;
    ScopedAudioObjectPropertyProvider& operator=(const ScopedAudioObjectPropertyProvider&) = delete;

private:
    std::shared_ptr<AudioObjectPropertyProvider> previous_;
};

}  // namespace platform
