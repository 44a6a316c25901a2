#include "Sonora/Nodes/ParameterBinding.h"

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <stdexcept>

namespace sonora {

void bindParameterWrappers(const Node& node, const std::shared_ptr<platform::AVAudioNode>& avAudioNode) {
    const auto unit = avAudioNode ? avAudioNode->auAudioUnit() : nullptr;
    if (!unit || !unit->parameterTree()) throw std::logic_error("No parameter tree.");
    for (const auto& parameter : node.parameters())
        if (parameter) parameter->associate(avAudioNode);
}

}  // namespace sonora
