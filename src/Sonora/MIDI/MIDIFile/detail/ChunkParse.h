#pragma once

#include "Sonora/MIDI/MIDICustomMetaEvent.h"
#include "Sonora/MIDI/MIDIEvent.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileChunkEvent.h"

#include <list>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace sonora::detail {

// What the copies of a chunk share: its events, parsed once, and the track views made of them.
// Everything is made under the mutex on first use and never changes after, so references to it
// stay valid while any copy of the chunk lives.
struct ChunkParse {
    std::mutex mutex;
    bool done = false;
    std::vector<MIDIFileChunkEvent> events;
    // How many of the events are meta events and how many carry a channel status; the rest are
    // SysEx messages and escapes.
    size_t metaCount = 0;
    size_t channelCount = 0;

    // The views of one time format and division: positions in beats depend on them, so a chunk read
    // with another division than its file's gets views of its own.
    struct Views {
        MIDITimeFormat format;
        int64_t division;
        std::optional<std::vector<MIDIEvent>> events;
        // Only when it differs from `events` (the track holds SysEx messages or escapes).
        std::optional<std::vector<MIDIEvent>> channelEvents;
        std::optional<std::vector<MIDICustomMetaEvent>> metaEvents;
    };
    std::list<Views> views;  // a list: adding views moves none

    // Both with the mutex held. Parses the payload unless done.
    void parse(std::span<const uint8_t> payload);
    Views& viewsOf(MIDITimeFormat format, int64_t division);
};

}  // namespace sonora::detail
