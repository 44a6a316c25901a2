#include "Sonora/Nodes/Node.h"

#include "Sonora/Internals/Engine/AVAudioNodeConnections.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/AUParameterCreation.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnit.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <limits>
#include <typeinfo>

namespace sonora {

namespace {

// The nodes of the walk in progress. A connections() list that loops back on itself would make the
// recursive walks endless; a node met again on its own path is skipped with a log line.
class WalkGuard {
public:
    explicit WalkGuard(const Node* node) : node_(node) {
        auto& path = current();
        entered_ = std::find(path.begin(), path.end(), node) == path.end();
        if (entered_) {
            path.push_back(node);
        } else {
            Log({"🛑 Error: The node graph has a cycle at", node->typeName()}, OSLog::general(), OSLogType::error);
        }
    }
    ~WalkGuard() {
        if (entered_) current().pop_back();
    }
    bool entered() const { return entered_; }

private:
    static std::vector<const Node*>& current() {
        thread_local std::vector<const Node*> path;
        return path;
    }
    const Node* node_;
    bool entered_ = false;
};

std::string demangled(const char* name) {
    int status = 0;
    char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && text ? text : name;
    std::free(text);
    return result;
}

void appendTree(const Node& node, const std::string& indentation, std::string& out) {
    WalkGuard guard(&node);
    if (!guard.entered()) return;
    std::string description = node.typeName();
    if (auto named = dynamic_cast<const NamedNode*>(&node)) description += "(\"" + named->name() + "\")";
    out += "Sonora | " + indentation + "↳" + description + "\n";
    for (const auto& input : node.connections())
        if (input) appendTree(*input, " " + indentation, out);
}

}  // namespace

void Node::makeAVConnections() {
    WalkGuard guard(this);
    if (!guard.entered()) return;
    if (auto internal = dynamic_cast<HasInternalConnections*>(this)) internal->makeInternalConnections();
    const auto node = avAudioNode();
    const auto engine = node ? node->engine() : nullptr;
    if (!engine) return;
    const auto inputs = connections();
    for (size_t i = 0; i < inputs.size(); ++i) {
        const auto& input = inputs[i];
        const auto inputNode = input ? input->avAudioNode() : nullptr;
        if (!inputNode) continue;
        if (const auto other = inputNode->engine(); other && other != engine) {
            Log({"🛑 Error: Attempt to connect nodes from different engines."});
            return;
        }
        engine->attach(inputNode);
        if (const auto mixer = std::dynamic_pointer_cast<platform::AVAudioMixerNode>(node)) {
            connect(mixer, inputNode, Settings::audioFormat());
        } else {
            connect(node, inputNode, platform::AVAudioNodeBus(i), Settings::audioFormat());
        }
        input->makeAVConnections();
    }
}

void Node::detach() {
    WalkGuard guard(this);
    if (!guard.entered()) return;
    if (const auto node = avAudioNode())
        if (const auto engine = node->engine()) engine->detach(node);
    for (const auto& input : connections())
        if (input) input->detach();
}

void Node::disconnect() {
    WalkGuard guard(this);
    if (!guard.entered()) return;
    const auto node = avAudioNode();
    const auto engine = node ? node->engine() : nullptr;
    if (!engine) return;
    engine->disconnectNodeInput(node);
    for (const auto& input : connections())
        if (input) input->disconnect();
}

void Node::touchLastRenderTime() {
    WalkGuard guard(this);
    if (!guard.entered()) return;
    if (const auto node = avAudioNode()) (void)node->lastRenderTime();
    for (const auto& input : connections())
        if (input) input->touchLastRenderTime();
}

void Node::reset() {
    if (const auto unit = std::dynamic_pointer_cast<platform::AVAudioUnit>(avAudioNode()))
        platform::AudioUnitReset(unit->audioUnit(), platform::kAudioUnitScope_Global, 0);
}

void Node::start() { setBypassed(false); }
void Node::stop() { setBypassed(true); }

bool Node::bypassed() const {
    const auto node = avAudioNode();
    const auto unit = node ? node->auAudioUnit() : nullptr;
    return unit && unit->shouldBypassEffect();
}

void Node::setBypassed(bool bypassed) {
    const auto node = avAudioNode();
    if (const auto unit = node ? node->auAudioUnit() : nullptr) unit->setShouldBypassEffect(bypassed);
}

bool Node::isStarted() const { return !bypassed(); }

void Node::scheduleMIDIEvent(const MIDIEvent& event, uint64_t offset) {
    const auto node = avAudioNode();
    const auto unit = node ? node->auAudioUnit() : nullptr;
    const auto block = unit ? unit->scheduleMIDIEventBlock() : nullptr;
    if (!block) return;
    // Offsets past the largest event time are pinned to it rather than wrapping around.
    const uint64_t immediate = static_cast<uint64_t>(platform::AUEventSampleTimeImmediate);
    const uint64_t largestOffset = uint64_t(std::numeric_limits<int64_t>::max()) - immediate;
    const int64_t time = offset >= largestOffset ? std::numeric_limits<int64_t>::max()
                                                 : static_cast<int64_t>(immediate + offset);
    block(time, 0, int64_t(event.data.size()), event.data.data());
}

std::vector<std::shared_ptr<NodeParameter>> Node::parameters() const {
    std::vector<std::shared_ptr<NodeParameter>> result;
    for (const ParameterBase* property : parameterProperties())
        if (property) result.push_back(property->projectedValue());
    return result;
}

void Node::setupParameterTree() {
    const auto node = avAudioNode();
    const auto unit = node ? node->auAudioUnit() : nullptr;
    std::vector<std::shared_ptr<platform::AUParameter>> children;
    for (const auto& param : parameters()) {
        if (!param) continue;
        const NodeParameterDef& def = param->def();
        auto parameter = createParameter(def.identifier, def.name, def.address, def.range, def.unit, def.flags);
        param->associate(node, parameter);
        children.push_back(std::move(parameter));
    }
    if (unit) unit->setParameterTree(platform::AUParameterTree::createTree(std::move(children)));
}

std::string Node::connectionTreeDescription() const {
    std::string out;
    appendTree(*this, "", out);
    if (!out.empty()) out.pop_back();
    return out;
}

std::string Node::typeName() const {
    const std::string full = demangled(typeid(*this).name());
    const auto cut = full.rfind("::");
    const std::string last = cut == std::string::npos ? full : full.substr(cut + 2);
    return last.empty() ? "Unknown" : last;
}

}  // namespace sonora
