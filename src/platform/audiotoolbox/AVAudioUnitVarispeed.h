// A time effect that plays its input faster or slower, pitch following the speed, like a tape
// (libsoxr's variable-rate resampler). Rate changes glide over 20 ms.
#pragma once

#include "platform/audiotoolbox/AVAudioUnitEffect.h"

namespace platform {

inline constexpr OSType kAudioUnitSubType_SonoraVarispeed = FourCC("svar");

class AVAudioUnitVarispeed : public AVAudioUnitTimeEffect {
public:
    AVAudioUnitVarispeed();

    // Playback rate, 0.25 ... 4 (values outside are clamped; NaN is ignored).
    float rate() const;
    void setRate(float rate);

    std::string className() const override { return "AVAudioUnitVarispeed"; }
};

}  // namespace platform
