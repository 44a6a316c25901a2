#pragma once

#include "Sonora/MIDI/MIDIFile/MIDIFileChunkEvent.h"

#include <mutex>
#include <vector>

namespace sonora::detail {

struct ChunkParse {
    std::mutex mutex;
    bool done = false;
    MIDITimeFormat timeFormat = MIDITimeFormat::ticksPerBeat;
    int64_t timeDivision = 0;
    std::vector<MIDIFileChunkEvent> events;
};

}  // namespace sonora::detail
