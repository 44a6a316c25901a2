#include "Sonora/Nodes/Mixing/Mixer.h"

#include "Sonora/Internals/Engine/AVAudioNodeConnections.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/ObjectAddress.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"

#include <algorithm>
#include <cmath>

namespace sonora {

namespace {

// The mixer primer's stand-in source: a sampler that plays nothing.
class EngineResetNode : public platform::AVAudioUnitSampler {
public:
    using AVAudioUnitSampler::AVAudioUnitSampler;
};

}  // namespace

Mixer::Mixer(float volume, std::optional<std::string> name)
    : mixerAU_(std::make_shared<platform::AVAudioMixerNode>()), avAudioNode_(mixerAU_) {
    setVolume(volume);
    setPan(0);
    name_ = name ? *name : objectAddressString(this);
}

Mixer::Mixer(std::vector<std::shared_ptr<Node>> inputs, std::optional<std::string> name) : Mixer(1.0f, std::move(name)) {
    inputs_ = std::move(inputs);
}

Mixer::~Mixer() = default;

void Mixer::setVolume(float volume) {
    // A gain that is not a finite number would fill the whole mix with it.
    volume_ = std::isfinite(volume) && volume > 0 ? volume : 0.0f;
    mixerAU_->setOutputVolume(volume_);
}

void Mixer::setPan(float pan) {
    pan_ = std::isfinite(pan) ? std::clamp(pan, -1.0f, 1.0f) : 0.0f;
    mixerAU_->setPan(pan_);
}

bool Mixer::hasInput(const std::shared_ptr<Node>& node) const {
    return std::find(inputs_.begin(), inputs_.end(), node) != inputs_.end();
}

void Mixer::addInput(const std::shared_ptr<Node>& node) {
    if (!node) return;
    if (hasInput(node)) {
        Log({"🛑 Error: Node is already connected to Mixer."});
        return;
    }
    const auto engine = mixerAU_->engine();
    const auto dummy = engine ? initializeMixer(engine, mixerAU_) : nullptr;
    inputs_.push_back(node);
    if (dummy) engine->detach(dummy);
    makeAVConnections();
}

void Mixer::removeInput(const std::shared_ptr<Node>& node) {
    if (!node) return;
    std::erase(inputs_, node);
    sonora::disconnect(mixerAU_, node->avAudioNode());
}

void Mixer::removeAllInputs() {
    if (inputs_.empty()) return;
    for (const auto& input : inputs_)
        if (input) sonora::disconnect(mixerAU_, input->avAudioNode());
    inputs_.clear();
}

int Mixer::resizeInputBussesArray(int requiredSize) {
    auto& busses = mixerAU_->auAudioUnit()->inputBusses();
    const int count = int(busses.count());
    if (busses.isCountChangeable()) {
        if (count < requiredSize) {
            if (!busses.setBusCount(uint32_t(requiredSize))) return int(busses.count());
        }
        return requiredSize;
    }
    return std::min(count, requiredSize);
}

std::shared_ptr<platform::AVAudioNode> initializeMixer(const std::shared_ptr<platform::AVAudioEngine>& engine,
                                                       const std::shared_ptr<platform::AVAudioNode>& node) {
    if (!engine || !engine->isRunning()) return nullptr;
    const auto mixer = std::dynamic_pointer_cast<platform::AVAudioMixerNode>(node);
    if (!mixer) return nullptr;
    if (hasConnectedInput(*engine, mixer)) return nullptr;
    auto dummy = std::make_shared<EngineResetNode>();
    engine->attach(dummy);
    engine->connect(dummy, mixer, Settings::audioFormat());
    Log({"⚠️🎚 Added dummy to mixer (" + mixer->description() + " with format", Settings::audioFormat()});
    return dummy;
}

}  // namespace sonora
