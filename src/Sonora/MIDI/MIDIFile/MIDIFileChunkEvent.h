// One event of a track chunk: its delta-time bytes followed by the message bytes as stored.
//
// A file of a million notes holds two million of these, so an event is kept to 24 bytes: a view of
// its bytes, its running status and the tick it follows. The time format and division belong to
// the chunk (MIDIFileTrackChunk::positionInBeats gives an event's position in beats).
#pragma once

#include "Sonora/MIDI/MIDIStatus.h"
#include "Sonora/MIDI/MIDISystemCommand.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sonora {

struct MIDIFileChunkEvent {
    // The tick of the event before this one (0 for the first): the sum of the earlier delta times.
    int64_t timeOffset = 0;
    // The status of a running-status event, whose stored message has no status byte.
    std::optional<MIDIStatus> runningStatus;

    // Borrows the bytes (a parsed chunk's events borrow the chunk's bytes): keep them alive while
    // using the event. At most 4 GiB - 1 bytes, the most a chunk holds.
    MIDIFileChunkEvent(std::span<const uint8_t> borrowed, std::optional<MIDIStatus> status, int64_t offset)
        : timeOffset(offset), runningStatus(status), size_(uint32_t(borrowed.size())), bytes_(borrowed.data()) {}

    // The delta-time bytes and the stored message.
    std::span<const uint8_t> data() const { return {bytes_, size_}; }
    size_t deltaTimeLength() const;
    uint32_t deltaTime() const;
    // The message with its status byte restored.
    std::vector<uint8_t> messageBytes() const;
    // The message without the delta time (and without a restored status).
    std::span<const uint8_t> storedMessage() const { return data().subspan(deltaTimeLength()); }
    std::optional<size_t> typeByteIndex() const;
    std::optional<uint8_t> typeByte() const;
    // Ticks from the track's start over ticks per beat, in a chunk of this time format and
    // division; none for SMPTE time or a division of 0.
    std::optional<double> positionInBeats(MIDITimeFormat format, int64_t division) const;
    // The absolute tick: timeOffset + deltaTime.
    int64_t tick() const { return timeOffset + int64_t(deltaTime()); }

private:
    // In this order the fields leave no padding but the two bytes after the running status.
    uint32_t size_;
    const uint8_t* bytes_;
};

}  // namespace sonora
