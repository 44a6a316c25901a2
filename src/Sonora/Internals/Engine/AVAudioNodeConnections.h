// Connection operations on platform nodes that add or remove one connection without disturbing the
// other connections of the same source. Each acts through the engine the receiving node is
// attached to and does nothing when it is attached to none.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <memory>
#include <optional>

namespace platform {
class AVAudioEngine;
class AVAudioMixerNode;
}  // namespace platform

namespace sonora {

// disconnect(input:): removes every connection from `input` into `node`; the input keeps feeding
// its other destinations (reconnected in Settings::audioFormat()).
void disconnect(const std::shared_ptr<platform::AVAudioNode>& node,
                const std::shared_ptr<platform::AVAudioNode>& input);

// connect(input:bus:format:): output bus 0 of `input` to input bus `bus` of `node`, keeping the
// input's other destinations; nothing when that connection exists.
void connect(const std::shared_ptr<platform::AVAudioNode>& node, const std::shared_ptr<platform::AVAudioNode>& input,
             platform::AVAudioNodeBus bus, const std::optional<platform::AVAudioFormat>& format);

// connect(input:format:) of a mixer: output bus 0 of `input` to the mixer's next free input bus,
// keeping the input's other destinations; nothing when the input already feeds the mixer.
void connect(const std::shared_ptr<platform::AVAudioMixerNode>& mixer,
             const std::shared_ptr<platform::AVAudioNode>& input, const std::optional<platform::AVAudioFormat>& format);

// AVAudioEngine.hasConnectedInput(_:): true when any input bus of `node` has a source.
bool hasConnectedInput(const platform::AVAudioEngine& engine, const std::shared_ptr<platform::AVAudioNode>& node);

}  // namespace sonora
