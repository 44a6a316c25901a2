// One audio device of the machine: the built-in null devices or a PortAudio device.
#pragma once

#include "platform/coreaudio/AudioObject.h"

#include <string>

namespace platform {

// The null devices keep real-time pace on the host clock without any hardware.
inline constexpr AudioDeviceID kAudioDeviceNullOutput = 2;
inline constexpr AudioDeviceID kAudioDeviceNullInput = 3;
// A device that is never listed and always fails to open, for tests of failing starts.
inline constexpr AudioDeviceID kAudioDeviceFailing = 4;
// PortAudio device i has the identifier kAudioDeviceFirstReal + i.
inline constexpr AudioDeviceID kAudioDeviceFirstReal = 100;

struct AudioDevice {
    AudioDeviceID deviceID = kAudioObjectUnknown;
    std::string name;
    uint32_t inputChannels = 0;
    uint32_t outputChannels = 0;
    double sampleRate = 44100;   // nominal rate
    uint32_t bufferFrames = 512; // frames per cycle
    bool isNull = false;         // a built-in null device (no hardware)
};

}  // namespace platform
