// A program change found in a platform music track.
#pragma once

#include <cstdint>

namespace sonora {

struct MIDIProgramChangeEvent {
    double time = 0;
    uint8_t channel = 0;
    uint8_t number = 0;
};

}  // namespace sonora
