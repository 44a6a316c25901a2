// One event of a track chunk: its delta-time bytes followed by the message bytes as stored.
#pragma once

#include "Sonora/MIDI/MIDIStatus.h"
#include "Sonora/MIDI/MIDISystemCommand.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace sonora {

struct MIDIFileChunkEvent {
    // Events of a parsed chunk borrow the chunk's bytes: keep the chunk (or its file) alive while
    // using them. An event made from its own bytes keeps them.
    std::span<const uint8_t> data;
    MIDITimeFormat timeFormat = MIDITimeFormat::ticksPerBeat;
    int64_t timeDivision = 480;
    std::optional<MIDIStatus> runningStatus;
    int64_t timeOffset = 0;

    MIDIFileChunkEvent(std::span<const uint8_t> borrowed, MIDITimeFormat format, int64_t division,
                       std::optional<MIDIStatus> status, int64_t offset)
        : data(borrowed), timeFormat(format), timeDivision(division), runningStatus(status), timeOffset(offset) {}
    // An event owning a copy of its bytes.
    static MIDIFileChunkEvent withBytes(std::vector<uint8_t> bytes, MIDITimeFormat format, int64_t division,
                                        std::optional<MIDIStatus> status = std::nullopt, int64_t offset = 0);

    size_t deltaTimeLength() const;
    uint32_t deltaTime() const;
    // The message with its status byte restored.
    std::vector<uint8_t> messageBytes() const;
    // The message without the delta time (and without a restored status).
    std::span<const uint8_t> storedMessage() const { return data.subspan(deltaTimeLength()); }
    std::optional<size_t> typeByteIndex() const;
    std::optional<uint8_t> typeByte() const;
    // Ticks from the track's start over ticks per beat; none for SMPTE time or a division of 0.
    std::optional<double> positionInBeats() const;
    // The absolute tick: timeOffset + deltaTime.
    int64_t tick() const { return timeOffset + int64_t(deltaTime()); }

private:
    std::shared_ptr<const std::vector<uint8_t>> owned_;
};

}  // namespace sonora
