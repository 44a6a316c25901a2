// PortAudio, set up once per process with the ALSA and JACK chatter on stderr silenced.
#pragma once

#include "platform/coreaudio/AudioDevice.h"

#include <optional>
#include <vector>

namespace platform::detail {

namespace PortAudioHost {

// False when PortAudio could not start (then there are no real devices).
bool initialize();

// The host's devices, with identifiers kAudioDeviceFirstReal + PortAudio index.
std::vector<AudioDevice> devices();

// The host's default output (or input) device, else its first one with such channels.
std::optional<AudioDeviceID> defaultDevice(bool output);

// The PortAudio index of a real device identifier, or -1.
int indexOf(AudioDeviceID deviceID);

}  // namespace PortAudioHost

}  // namespace platform::detail
