// One MIDI message with its timing: the bytes in wire order (status byte first) and the optional
// position and time stamps the MIDI subsystem attaches to it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sonora {

// The platform's host-clock time of a MIDI message.
using MIDITimeStamp = uint64_t;

struct MIDIEvent {
    // The message bytes, status byte first.
    std::vector<uint8_t> data;
    // Present for events read from a MIDI file counted in ticks per beat.
    std::optional<double> positionInBeats;
    // Host-time offset; no builder of this library sets it.
    std::optional<MIDITimeStamp> offset;
    std::optional<MIDITimeStamp> timeStamp;

    // init(noteOn:velocity:channel:): [0x90 + channel (0…15), note, velocity], no time stamp.
    static MIDIEvent noteOn(uint8_t noteNumber, uint8_t velocity, uint8_t channel);

    // Equal bytes and equal optional fields (absent in both or present and equal; a NaN position
    // never equals anything).
    bool operator==(const MIDIEvent& other) const;
};

}  // namespace sonora
