// One event of a platform music track as the event listing reports it.
#pragma once

#include <cstdint>
#include <vector>

namespace sonora {

struct AppleMIDIEvent {
    double time = 0;
    uint32_t type = 0;
    // A copy of the event's bytes, so the record stays valid after the track changes.
    std::vector<uint8_t> data;
    uint32_t dataSize = 0;
};

}  // namespace sonora
