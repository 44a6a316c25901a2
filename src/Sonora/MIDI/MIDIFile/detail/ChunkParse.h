#pragma once

#include "Sonora/MIDI/MIDIFile/MIDIFileChunkEvent.h"

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace sonora::detail {

// What the copies of a chunk share: its events, parsed once under the mutex on first use and never
// changed after, so references to them stay valid while any copy of the chunk lives.
struct ChunkParse {
    std::mutex mutex;
    bool done = false;
    std::vector<MIDIFileChunkEvent> events;
    // The positions of the meta events, and those of the events without a channel status (the meta
    // events, SysEx messages and escapes), ascending: what the track's event views leave out.
    std::vector<uint32_t> metaEvents;
    std::vector<uint32_t> nonChannelEvents;

    // With the mutex held: parses the payload unless done.
    void parse(std::span<const uint8_t> payload);
};

}  // namespace sonora::detail
