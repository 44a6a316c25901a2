// Binding a node's declared parameters to the audio unit that already holds them (the built-in
// effect units make their own parameter trees; compare Node::setupParameterTree, which makes one).
#pragma once

#include "Sonora/Nodes/Node.h"

#include <memory>

namespace sonora {

// Node.bindParameterWrappers(to:): each of the node's parameters takes `avAudioNode` and the
// parameter at its definition's address in the unit's tree (none there: left unbound). Binding
// is by address alone. A unit without a tree is a programming error: std::logic_error
// "No parameter tree.".
void bindParameterWrappers(const Node& node, const std::shared_ptr<platform::AVAudioNode>& avAudioNode);

}  // namespace sonora
