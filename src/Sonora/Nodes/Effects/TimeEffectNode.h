// What the time-pitch and varispeed nodes share: one input, and the platform time unit they make
// as their platform node (setAvAudioNode() may put another in its place).
#pragma once

#include "Sonora/Nodes/Node.h"

#include <memory>
#include <utility>

namespace sonora {

template <class Unit>
class TimeEffectNode : public Node {
public:
    std::vector<std::shared_ptr<Node>> connections() const override { return {input_}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return avAudioNode_; }
    void setAvAudioNode(std::shared_ptr<platform::AVAudioNode> node) { avAudioNode_ = std::move(node); }

protected:
    explicit TimeEffectNode(std::shared_ptr<Node> input)
        : unit_(std::make_shared<Unit>()), input_(std::move(input)), avAudioNode_(unit_) {}

    const std::shared_ptr<Unit> unit_;

private:
    std::shared_ptr<Node> input_;
    std::shared_ptr<platform::AVAudioNode> avAudioNode_;
};

}  // namespace sonora
