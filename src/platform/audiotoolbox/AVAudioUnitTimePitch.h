// A time effect that changes tempo and pitch independently (Rubber Band in its real-time mode).
// Rate 1 with pitch 0 passes the input through unchanged; otherwise the output lines up with the
// input: the stretcher's start delay is padded and dropped.
#pragma once

#include "platform/audiotoolbox/AVAudioUnitEffect.h"

namespace platform {

inline constexpr OSType kAudioUnitSubType_SonoraTimePitch = FourCC("stpt");

class AVAudioUnitTimePitch : public AVAudioUnitTimeEffect {
public:
    AVAudioUnitTimePitch();

    // Tempo factor, 1/32 ... 32 (1: unchanged). The render thread takes it at its next cycle.
    float rate() const;
    void setRate(float rate);
    // Pitch shift in cents, −2400 ... 2400.
    float pitch() const;
    void setPitch(float pitch);
    // Analysis overlap, 3 ... 32: kept and reported; the stretcher chooses its own windows.
    float overlap() const;
    void setOverlap(float overlap);

    std::string className() const override { return "AVAudioUnitTimePitch"; }
};

}  // namespace platform
