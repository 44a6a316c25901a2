// One note as the platform music track stores it: number, velocity, channel, length and position.
#pragma once

#include "Sonora/Sequencing/Duration.h"

#include <cstdint>
#include <string>

namespace sonora {

struct MIDINoteData {
    uint8_t noteNumber = 0;
    uint8_t velocity = 0;
    uint8_t channel = 0;
    Duration duration{0};
    Duration position{0};

    // Bytes and beats; the durations' tempo and sample rate are not compared.
    bool operator==(const MIDINoteData& other) const;
    // "note: 60\nvelocity: 100\nchannel: 0\nduration: 1.0\nposition: 0.0".
    std::string description() const;
};

}  // namespace sonora
