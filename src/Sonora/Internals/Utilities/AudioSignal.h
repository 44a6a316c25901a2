// Reading a whole sound file into memory as one channel of samples.
#pragma once

#include "platform/foundation/URL.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sonora {

struct AudioSignal {
    std::vector<float> signal;  // the first channel
    double rate = 0;            // the file's sample rate
    int64_t frameCount = 0;     // the file's length in frames
};

// loadAudioSignal(audioURL:): the first channel of the whole file as 32-bit floats. None (with an
// error in the log) when the file cannot be opened or read.
std::optional<AudioSignal> loadAudioSignal(const platform::URL& audioURL);

}  // namespace sonora
