// Changes tempo and pitch independently, over the platform's time-pitch unit.
//
//   auto faster = std::make_shared<TimePitch>(player, 2.0f);          // twice as fast, same pitch
//   auto higher = std::make_shared<TimePitch>(player, 1.0f, 1200.0f); // an octave up, same tempo
#pragma once

#include "Sonora/Nodes/Effects/TimeEffectNode.h"
#include "platform/audiotoolbox/AVAudioUnitTimePitch.h"

namespace sonora {

class TimePitch : public TimeEffectNode<platform::AVAudioUnitTimePitch> {
public:
    // The arguments are stored as given and sent to the unit clamped to the properties' ranges.
    explicit TimePitch(std::shared_ptr<Node> input, float rate = 1.0f, float pitch = 0.0f, float overlap = 8.0f);

    const std::shared_ptr<platform::AVAudioUnitTimePitch>& timePitchAU() const { return unit_; }

    // Tempo factor, clamped to 1/32 ... 32.
    float rate() const { return rate_; }
    void setRate(float rate);
    // Pitch shift in cents, clamped to −2400 ... 2400.
    float pitch() const { return pitch_; }
    void setPitch(float pitch);
    // Analysis overlap, clamped to 3 ... 32.
    float overlap() const { return overlap_; }
    void setOverlap(float overlap);

    // The unit is not bypassed.
    bool isStarted() const override;
    // Bypass off (start) or on (stop); the properties keep their values.
    void start();
    void stop();

private:
    float rate_ = 1.0f;
    float pitch_ = 0.0f;
    float overlap_ = 8.0f;
};

}  // namespace sonora
