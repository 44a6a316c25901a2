// How a device list answers the audio object property queries; shared by the machine's provider
// and the fake one so both behave alike.
#pragma once

#include "platform/coreaudio/AudioObject.h"

#include <string>
#include <vector>

namespace platform::detail {

struct AudioObjectDeviceEntry {
    AudioDeviceID deviceID = 0;
    std::string name;
    uint32_t inputChannels = 0;
    uint32_t outputChannels = 0;
    double sampleRate = 44100;
    uint32_t bufferFrames = 512;
};

struct AudioObjectSystemState {
    std::vector<AudioObjectDeviceEntry> devices;
    AudioDeviceID defaultOutput = kAudioObjectUnknown;
    AudioDeviceID defaultInput = kAudioObjectUnknown;
    // The unlisted devices the system still answers for (the failing device).
    std::vector<AudioObjectDeviceEntry> hiddenDevices;
};

// With outData null only the size is answered.
OSStatus answerAudioObjectProperty(const AudioObjectSystemState& state, AudioObjectID object,
                                   const AudioObjectPropertyAddress& address, uint32_t* ioDataSize, void* outData);

}  // namespace platform::detail
