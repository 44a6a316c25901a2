// Small audio units for tests: a gain effect with one rampable parameter, two input buses and a
// MIDI block that records the bytes it is given.
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"

#include <mutex>
#include <optional>
#include <vector>

namespace testunits {

class TestGainUnit : public platform::AUAudioUnit {
public:
    static constexpr platform::AUParameterAddress kGainAddress = 0;

    // Gain 0...2, starting at 1; buses in `format` (standard 44100 Hz stereo when invalid). The
    // render multiplies input bus 0 by the gain, ramping linearly on scheduled ramps; bypassed, it
    // copies its input.
    explicit TestGainUnit(platform::AVAudioFormat format = {});

    std::shared_ptr<platform::AUParameter> gain() const { return gain_; }

    // Every MIDI byte scheduled so far, in order.
    std::vector<uint8_t> receivedMIDIBytes() const;
    // The event times the MIDI block was called with.
    std::vector<platform::AUEventSampleTime> receivedMIDIEventTimes() const;

private:
    std::shared_ptr<platform::AUParameter> gain_;
    mutable std::mutex midiMutex_;
    std::vector<uint8_t> midiBytes_;
    std::vector<platform::AUEventSampleTime> midiTimes_;
};

}  // namespace testunits
