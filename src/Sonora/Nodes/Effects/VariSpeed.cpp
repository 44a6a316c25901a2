#include "Sonora/Nodes/Effects/VariSpeed.h"

#include "Sonora/Nodes/Effects/ClampedProperty.h"

namespace sonora {

namespace {
constexpr float kMinimumRate = 0.25f;
constexpr float kMaximumRate = 4.0f;
}  // namespace

VariSpeed::VariSpeed(std::shared_ptr<Node> input, float rate)
    : variSpeedAU_(std::make_shared<platform::AVAudioUnitVarispeed>()), input_(std::move(input)), rate_(rate),
      lastKnownRate_(rate) {
    avAudioNode_ = variSpeedAU_;
    // The unit plays what the node reports, within the range; the stored values stay as given.
    float sent = 1.0f;
    if (assignClamped(sent, rate, kMinimumRate, kMaximumRate)) variSpeedAU_->setRate(sent);
}

void VariSpeed::setRate(float rate) {
    if (assignClamped(rate_, rate, kMinimumRate, kMaximumRate)) variSpeedAU_->setRate(rate_);
}

void VariSpeed::stop() {
    lastKnownRate_ = rate_;
    rate_ = 1.0f;
    variSpeedAU_->setRate(1.0f);
}

void VariSpeed::start() { setRate(lastKnownRate_); }

}  // namespace sonora
