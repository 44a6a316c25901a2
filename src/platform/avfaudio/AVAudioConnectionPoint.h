// One end of a connection: a destination node and its input bus. The node is held weakly, so a
// point may outlive its node (node() is then null).
#pragma once

#include "platform/avfaudio/AVAudioNode.h"

#include <memory>

namespace platform {

class AVAudioConnectionPoint {
public:
    AVAudioConnectionPoint(const std::shared_ptr<AVAudioNode>& node, AVAudioNodeBus bus) : node_(node), bus_(bus) {}

    std::shared_ptr<AVAudioNode> node() const { return node_.lock(); }
    AVAudioNodeBus bus() const { return bus_; }

    bool operator==(const AVAudioConnectionPoint& other) const {
        return bus_ == other.bus_ && !node_.owner_before(other.node_) && !other.node_.owner_before(node_);
    }

private:
    std::weak_ptr<AVAudioNode> node_;
    AVAudioNodeBus bus_;
};

}  // namespace platform
