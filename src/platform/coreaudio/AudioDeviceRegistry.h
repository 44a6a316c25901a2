// The machine's audio devices: the null output and input first, then the PortAudio devices.
// TAMBERLO_AUDIO_DEVICE=null lists only the null devices and makes them the defaults (CI and the
// tests set it); TAMBERLO_AUDIO_DEVICE=fail makes the default output the failing device.
#pragma once

#include "platform/coreaudio/AudioDevice.h"

#include <optional>
#include <vector>

namespace platform {

namespace AudioDeviceRegistry {

// Every device, in listing order.
std::vector<AudioDevice> devices();

// The device with that identifier (also the unlisted failing device), or none.
std::optional<AudioDevice> device(AudioDeviceID deviceID);

// The first real output (the host's default one when it has it), else the null output.
AudioDeviceID defaultOutputDevice();

// The first real input (the host's default one when it has it), else the null input.
AudioDeviceID defaultInputDevice();

// True when the environment forces the null devices.
bool nullDevicesForced();

}  // namespace AudioDeviceRegistry

}  // namespace platform
