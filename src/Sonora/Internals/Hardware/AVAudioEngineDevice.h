// The device a platform engine plays through: the current-device property of its output unit.
#pragma once

#include "platform/coreaudio/AudioObject.h"

namespace platform {
class AVAudioEngine;
}

namespace sonora {

// AVAudioEngine.getDevice(): the output unit's current device; 0 when it cannot be read (logged).
platform::AudioDeviceID getDevice(platform::AVAudioEngine& engine);

// AVAudioEngine.setDevice(id:): makes the device current; a refusal is logged and ignored.
void setDevice(platform::AVAudioEngine& engine, platform::AudioDeviceID deviceID);

}  // namespace sonora
