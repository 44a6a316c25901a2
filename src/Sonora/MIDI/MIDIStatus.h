// Channel-voice status bytes and their kinds.
#pragma once

#include "Sonora/MIDI/MIDISystemCommand.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonora {

enum class MIDIStatusType : int {
    noteOff = 8,
    noteOn = 9,
    polyphonicAftertouch = 10,
    controllerChange = 11,
    programChange = 12,
    channelAftertouch = 13,
    pitchWheel = 14,
};

// init(rawValue:): 8 ... 14.
std::optional<MIDIStatusType> MIDIStatusTypeFromRawValue(int rawValue);
// The kind of a status byte's high nibble.
std::optional<MIDIStatusType> MIDIStatusTypeFromByte(uint8_t byte);
// The message length with its status byte: 2 for program change and channel aftertouch, else 3.
int length(MIDIStatusType type);
std::string description(MIDIStatusType type);

struct MIDIStatus {
    uint8_t byte = 0;

    // A channel-voice byte (0x80 ... 0xEF), else none.
    static std::optional<MIDIStatus> fromByte(uint8_t byte);
    // The type's nibble and the channel (masked to 0 ... 15).
    MIDIStatus(MIDIStatusType type, uint8_t channel);
    explicit MIDIStatus(MIDISystemCommand command) : byte(uint8_t(command)) {}

    std::optional<MIDIStatusType> type() const { return MIDIStatusTypeFromByte(byte); }
    uint8_t channel() const { return byte & 0x0F; }
    int length() const;
    std::vector<uint8_t> data() const { return {byte}; }
    std::string description() const;

private:
    explicit MIDIStatus(uint8_t raw) : byte(raw) {}
};

}  // namespace sonora
