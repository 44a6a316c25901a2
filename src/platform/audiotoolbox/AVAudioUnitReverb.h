// A reverb effect: a feedback-delay network per channel with pre-delay, input diffusion and
// frequency-dependent decay, mixed with the dry input as out = (1 − w)·x + w·wet, w = wetDryMix/100.
// The thirteen factory presets set the room (decay time, size, pre-delay, damping); the unit
// starts as mediumHall.
#pragma once

#include "platform/audiotoolbox/AVAudioUnitEffect.h"

namespace platform {

inline constexpr OSType kAudioUnitSubType_SonoraReverb = FourCC("srvb");

enum class AVAudioUnitReverbPreset : NSInteger {
    smallRoom = 0,
    mediumRoom = 1,
    largeRoom = 2,
    mediumHall = 3,
    largeHall = 4,
    plate = 5,
    mediumChamber = 6,
    largeChamber = 7,
    cathedral = 8,
    largeRoom2 = 9,
    mediumHall2 = 10,
    mediumHall3 = 11,
    largeHall2 = 12,
};

// The decay time (RT60, seconds) a preset gives; 0 for a value that names no preset.
double reverbPresetDecayTime(AVAudioUnitReverbPreset preset);

class AVAudioUnitReverb : public AVAudioUnitEffect {
public:
    AVAudioUnitReverb();

    // Percent of wet signal, 0 ... 100 (values outside are clamped; NaN is ignored). Changes glide
    // over 20 ms while the unit renders.
    float wetDryMix() const;
    void setWetDryMix(float wetDryMix);

    // Takes effect at the next render cycle; a value that names no preset is ignored.
    void loadFactoryPreset(AVAudioUnitReverbPreset preset);
    // The preset last loaded (mediumHall at first).
    AVAudioUnitReverbPreset factoryPreset() const;

    std::string className() const override { return "AVAudioUnitReverb"; }
};

// Registers the reverb, time-pitch and varispeed units under 'aufx'/'appl'.
void registerReverbAndTimeEffectUnits();

}  // namespace platform
