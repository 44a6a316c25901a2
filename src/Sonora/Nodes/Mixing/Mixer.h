// Sums any number of input nodes into one output with an output volume and a stereo pan, over one
// platform mixer node. Inputs given at creation are connected when the mixer joins a graph; inputs
// added later are connected at once when the mixer is already in an engine.
#pragma once

#include "Sonora/Nodes/Node.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class AVAudioEngine;
class AVAudioMixerNode;
}  // namespace platform

namespace sonora {

class Mixer : public NamedNode {
public:
    // init(volume:name:): no inputs; the name defaults to the mixer's address ("0x" + 16 digits).
    explicit Mixer(float volume = 1.0f, std::optional<std::string> name = std::nullopt);
    // init(_:name:): volume 1 and the given inputs, stored unchanged (duplicates included).
    explicit Mixer(std::vector<std::shared_ptr<Node>> inputs, std::optional<std::string> name = std::nullopt);
    ~Mixer() override;

    const std::shared_ptr<platform::AVAudioMixerNode>& mixerAU() const { return mixerAU_; }
    void setMixerAU(std::shared_ptr<platform::AVAudioMixerNode> mixer) { mixerAU_ = std::move(mixer); }

    const std::vector<std::shared_ptr<Node>>& inputs() const { return inputs_; }

    std::vector<std::shared_ptr<Node>> connections() const override { return inputs_; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return avAudioNode_; }
    void setAVAudioNode(std::shared_ptr<platform::AVAudioNode> node) { avAudioNode_ = std::move(node); }

    std::string name() const override { return name_; }
    void setName(std::string name) override { name_ = std::move(name); }

    // Output gain: 0 silent, above 1 amplifies; at or below 0, or not finite, stores 0.
    float volume() const { return volume_; }
    void setVolume(float volume);
    // Stereo position −1 … +1 (clamped; not finite stores 0).
    float pan() const { return pan_; }
    void setPan(float pan);

    // The volume is not 0.
    bool isStarted() const override { return volume_ != 0; }

    // Appends and connects a node (once: a second add logs and changes nothing).
    void addInput(const std::shared_ptr<Node>& node);
    // True when that very node is an input.
    bool hasInput(const std::shared_ptr<Node>& node) const;
    // Removes every occurrence and its connection to this mixer; nothing is detached.
    void removeInput(const std::shared_ptr<Node>& node);
    // Disconnects and forgets every input; nothing is detached.
    void removeAllInputs();
    // Makes room for `requiredSize` input buses where the platform mixer allows; returns the
    // usable number of buses.
    int resizeInputBussesArray(int requiredSize);

private:
    std::shared_ptr<platform::AVAudioMixerNode> mixerAU_;
    std::vector<std::shared_ptr<Node>> inputs_;
    std::shared_ptr<platform::AVAudioNode> avAudioNode_;
    std::string name_;
    float volume_ = 1.0f;
    float pan_ = 0.0f;
};

// AVAudioEngine.initializeMixer(_:): on a running engine, a mixer node without any connected input
// gets a dummy source attached and connected, which is returned (else null).
std::shared_ptr<platform::AVAudioNode> initializeMixer(const std::shared_ptr<platform::AVAudioEngine>& engine,
                                                       const std::shared_ptr<platform::AVAudioNode>& node);

}  // namespace sonora
