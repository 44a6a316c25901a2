// Plays its input faster or slower, pitch following the speed, over the platform's varispeed
// unit. stop() parks the rate and plays at normal speed; start() returns to the parked rate.
//
//   auto doubleSpeed = std::make_shared<VariSpeed>(player, 2.0f);
#pragma once

#include "Sonora/Nodes/Effects/TimeEffectNode.h"
#include "platform/audiotoolbox/AVAudioUnitVarispeed.h"

namespace sonora {

class VariSpeed : public TimeEffectNode<platform::AVAudioUnitVarispeed> {
public:
    // The argument is stored as given (in rate and lastKnownRate) and sent to the unit clamped.
    explicit VariSpeed(std::shared_ptr<Node> input, float rate = 1.0f);

    const std::shared_ptr<platform::AVAudioUnitVarispeed>& variSpeedAU() const { return unit_; }

    // Playback rate, clamped to 0.25 ... 4.
    float rate() const { return rate_; }
    void setRate(float rate);

    // Any rate but 1: a node at normal speed reads as not started.
    bool isStarted() const override { return rate_ != 1.0f; }

    // The rate start() returns to.
    float lastKnownRate() const { return lastKnownRate_; }
    void setLastKnownRate(float rate) { lastKnownRate_ = rate; }

    // rate → lastKnownRate, then rate 1.
    void stop();
    // rate = lastKnownRate, clamped.
    void start();

private:
    float rate_ = 1.0f;
    float lastKnownRate_ = 1.0f;
};

}  // namespace sonora
