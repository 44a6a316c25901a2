#include "Sonora/Nodes/Effects/TimePitch.h"

#include "Sonora/Nodes/Effects/ClampedProperty.h"

namespace sonora {

namespace {
constexpr float kMinimumRate = 0.03125f;
constexpr float kMaximumRate = 32.0f;
constexpr float kPitchRange = 2400.0f;
constexpr float kMinimumOverlap = 3.0f;
constexpr float kMaximumOverlap = 32.0f;
}  // namespace

TimePitch::TimePitch(std::shared_ptr<Node> input, float rate, float pitch, float overlap)
    : TimeEffectNode(std::move(input)), rate_(rate), pitch_(pitch), overlap_(overlap) {
    // The unit plays what the node reports, within the ranges; the stored values stay as given.
    float sent = 1.0f;
    if (assignClamped(sent, rate, kMinimumRate, kMaximumRate)) unit_->setRate(sent);
    if (assignClamped(sent, pitch, -kPitchRange, kPitchRange)) unit_->setPitch(sent);
    if (assignClamped(sent, overlap, kMinimumOverlap, kMaximumOverlap)) unit_->setOverlap(sent);
}

void TimePitch::setRate(float rate) {
    if (assignClamped(rate_, rate, kMinimumRate, kMaximumRate)) unit_->setRate(rate_);
}

void TimePitch::setPitch(float pitch) {
    if (assignClamped(pitch_, pitch, -kPitchRange, kPitchRange)) unit_->setPitch(pitch_);
}

void TimePitch::setOverlap(float overlap) {
    if (assignClamped(overlap_, overlap, kMinimumOverlap, kMaximumOverlap)) unit_->setOverlap(overlap_);
}

bool TimePitch::isStarted() const { return !unit_->bypass(); }

void TimePitch::start() { unit_->setBypass(false); }

void TimePitch::stop() { unit_->setBypass(true); }

}  // namespace sonora
