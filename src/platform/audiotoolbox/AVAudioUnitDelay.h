// The delay effect node: a delay line with feedback through a one-pole low-pass, mixed with the
// dry signal. Its unit is the registered 'aufx'/'dely' unit.
#pragma once

#include "platform/audiotoolbox/AVAudioUnitEffect.h"

namespace platform {

class AVAudioUnitDelay : public AVAudioUnitEffect {
public:
    // Parameter addresses of the unit.
    enum : AUParameterAddress { kWetDryMix = 0, kDelayTime = 1, kFeedback = 2, kLowPassCutoff = 3 };

    AVAudioUnitDelay();

    // Seconds, 0…2 (1).
    AUValue delayTime() const { return get(kDelayTime); }
    void setDelayTime(AUValue seconds) { set(kDelayTime, seconds); }
    // Percent of the delayed signal fed back, −100…100 (50).
    AUValue feedback() const { return get(kFeedback); }
    void setFeedback(AUValue percent) { set(kFeedback, percent); }
    // Hz, 10 up to half the sample rate (15000).
    AUValue lowPassCutoff() const { return get(kLowPassCutoff); }
    void setLowPassCutoff(AUValue hertz) { set(kLowPassCutoff, hertz); }
    // Percent of the output that is delayed, 0…100 (50).
    AUValue wetDryMix() const { return get(kWetDryMix); }
    void setWetDryMix(AUValue percent) { set(kWetDryMix, percent); }

    std::string className() const override { return "AVAudioUnitDelay"; }

private:
    AUValue get(AUParameterAddress address) const;
    void set(AUParameterAddress address, AUValue value);
};

}  // namespace platform
