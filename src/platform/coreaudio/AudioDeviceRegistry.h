// The machine's audio devices: the null output and input first, then the PortAudio devices.
// TAMBERLO_AUDIO_DEVICE=null lists only the null devices and makes them the defaults (CI and the
// tests set it); TAMBERLO_AUDIO_DEVICE=fail makes the default output the failing device.
#pragma once

#include "platform/coreaudio/AudioDevice.h"

#include <filesystem>
#include <memory>
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

// A test seam: the null input plays this file (from its start at each device start, at real-time
// pace, then silence) and takes its rate and channel count. An empty path restores the silent
// 2-channel 44100 Hz null input. False (and nothing changes) when the file cannot be read.
bool setNullInputFile(const std::filesystem::path& path);

// The file the null input plays: interleaved samples, rate and channels (empty when none).
struct NullInputSignal {
    std::vector<float> samples;
    double sampleRate = 0;
    uint32_t channels = 0;
};
std::shared_ptr<const NullInputSignal> nullInputSignal();

}  // namespace AudioDeviceRegistry

}  // namespace platform
