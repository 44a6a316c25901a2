// The nodes that `sonora-tool fx` plays: each NODE name maps to a maker that builds the node over
// the input and says how to reach its properties, stop it, load a preset and read its meters.
#pragma once

#include "Sonora/Nodes/AutomationEvent.h"
#include "Sonora/Nodes/Node.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fx {

// One property that --param sets and --automate drives.
struct Property {
    std::function<float()> get;
    std::function<void(float)> set;
    // Null: the property cannot be automated.
    std::function<void(const std::vector<sonora::AutomationEvent>&)> automate;
};

struct Subject {
    std::shared_ptr<sonora::Node> node;
    std::map<std::string, Property> properties;
    // What --stop calls before rendering.
    std::function<void()> stop;
    // What `--param preset=N` calls; null for nodes without factory presets.
    std::function<void(int)> loadFactoryPreset;
    // What --meters prints after rendering; null for nodes without meters.
    std::function<std::array<float, 3>()> meters;
    // Properties that are not NodeParameters (the time effects' plain properties); null: none.
    std::function<void(const std::string& name, float value)> setByName;
};

// A subject over `node` with every NodeParameter of the node as a property and Node::stop().
Subject subjectOf(std::shared_ptr<sonora::Node> node);

// A subject over a node of type N; `stop` calls N's own stop().
template <class N>
Subject subjectOf(std::shared_ptr<N> node) {
    Subject subject = subjectOf(std::shared_ptr<sonora::Node>(node));
    subject.stop = [node] { node->stop(); };
    return subject;
}

using Maker = std::function<Subject(const std::shared_ptr<sonora::Node>& input)>;

// Every NODE name the command knows.
const std::map<std::string, Maker>& makers();

}  // namespace fx
