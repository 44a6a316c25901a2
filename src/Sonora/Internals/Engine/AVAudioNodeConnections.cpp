#include "Sonora/Internals/Engine/AVAudioNodeConnections.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "platform/avfaudio/AVAudioConnectionPoint.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace sonora {

using platform::AVAudioConnectionPoint;
using platform::AVAudioNode;
using platform::AVAudioNodeBus;

void disconnect(const std::shared_ptr<AVAudioNode>& node, const std::shared_ptr<AVAudioNode>& input) {
    if (!node || !input) return;
    const auto engine = node->engine();
    if (!engine) return;
    // The input's remaining destinations, found once whichever buses of this node it feeds.
    std::optional<std::vector<AVAudioConnectionPoint>> remaining;
    for (AVAudioNodeBus bus = 0; bus < node->numberOfInputs(); ++bus) {
        const auto point = engine->inputConnectionPoint(node, bus);
        if (!point || point->node() != input) continue;
        auto points = engine->outputConnectionPoints(input, 0);
        std::erase_if(points, [&](const AVAudioConnectionPoint& p) {
            const auto destination = p.node();
            return destination && destination == node;
        });
        remaining = std::move(points);
    }
    if (!remaining) return;
    if (remaining->empty()) {
        engine->disconnectNodeOutput(input);
    } else {
        engine->connect(input, *remaining, 0, Settings::audioFormat());
    }
}

void connect(const std::shared_ptr<AVAudioNode>& node, const std::shared_ptr<AVAudioNode>& input, AVAudioNodeBus bus,
             const std::optional<platform::AVAudioFormat>& format) {
    if (!node || !input) return;
    const auto engine = node->engine();
    if (!engine) return;
    auto points = engine->outputConnectionPoints(input, 0);
    for (const auto& point : points)
        if (point.node() == node && point.bus() == bus) return;
    points.emplace_back(node, bus);
    engine->connect(input, points, 0, format);
}

void connect(const std::shared_ptr<platform::AVAudioMixerNode>& mixer, const std::shared_ptr<AVAudioNode>& input,
             const std::optional<platform::AVAudioFormat>& format) {
    if (!mixer || !input) return;
    const auto engine = mixer->engine();
    if (!engine) return;
    auto points = engine->outputConnectionPoints(input, 0);
    for (const auto& point : points)
        if (point.node() == mixer) return;
    points.emplace_back(mixer, mixer->nextAvailableInputBus());
    engine->connect(input, points, 0, format);
}

bool hasConnectedInput(const platform::AVAudioEngine& engine, const std::shared_ptr<AVAudioNode>& node) {
    if (!node) return false;
    for (AVAudioNodeBus bus = 0; bus < node->numberOfInputs(); ++bus)
        if (engine.inputConnectionPoint(node, bus)) return true;
    return false;
}

}  // namespace sonora
