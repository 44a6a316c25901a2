#include "Sonora/Nodes/Effects/VariSpeed.h"

#include "Sonora/Nodes/Effects/ClampedProperty.h"

namespace sonora {

namespace {
constexpr float kMinimumRate = 0.25f;
constexpr float kMaximumRate = 4.0f;
}  // namespace

VariSpeed::VariSpeed(std::shared_ptr<Node> input, float rate)
    : TimeEffectNode(std::move(input)), rate_(rate), lastKnownRate_(rate) {
    // The unit plays what the node reports, within the range; the stored values stay as given.
    float sent = 1.0f;
    if (assignClamped(sent, rate, kMinimumRate, kMaximumRate)) unit_->setRate(sent);
}

void VariSpeed::setRate(float rate) {
    if (assignClamped(rate_, rate, kMinimumRate, kMaximumRate)) unit_->setRate(rate_);
}

void VariSpeed::stop() {
    lastKnownRate_ = rate_;
    rate_ = 1.0f;
    unit_->setRate(1.0f);
}

void VariSpeed::start() { setRate(lastKnownRate_); }

}  // namespace sonora
