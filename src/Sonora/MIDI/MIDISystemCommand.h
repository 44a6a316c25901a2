// System status bytes (0xF0 ... 0xFF) and their families.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonora {

enum class MIDISystemCommand : uint8_t {
    sysEx = 0xF0,
    timeCodeQuarterFrame = 0xF1,
    songPosition = 0xF2,
    songSelect = 0xF3,
    tuneRequest = 0xF6,
    sysExEnd = 0xF7,
    clock = 0xF8,
    start = 0xFA,
    continue_ = 0xFB,
    stop = 0xFC,
    activeSensing = 0xFE,
    sysReset = 0xFF,
};

// init(rawValue:): none below 0xF0 and for 0xF4, 0xF5, 0xF9, 0xFD.
std::optional<MIDISystemCommand> MIDISystemCommandFromRawValue(uint8_t byte);
std::string description(MIDISystemCommand command);
inline std::vector<uint8_t> data(MIDISystemCommand command) { return {uint8_t(command)}; }

enum class MIDISystemCommandType { systemRealtime, systemCommon, systemExclusive };

// How a Standard MIDI File counts time.
enum class MIDITimeFormat : int { ticksPerBeat = 0, framesPerSecond = 1 };
std::optional<MIDITimeFormat> MIDITimeFormatFromRawValue(int rawValue);

}  // namespace sonora
