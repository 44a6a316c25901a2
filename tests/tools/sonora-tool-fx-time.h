// The reverb and time nodes of `sonora-tool fx`: reverb, timePitch, variSpeed.
#pragma once

#include "Sonora/Nodes/Node.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct TimeEffectSubject {
    std::shared_ptr<sonora::Node> node;
    // Sets a property by name; "preset" loads a factory preset. Throws std::invalid_argument for
    // a name the node does not have.
    std::function<void(const std::string& name, float value)> set;
    // The node's own stop().
    std::function<void()> stop;
};

// The node NAME over `input`, or nothing when NAME is none of the three.
std::optional<TimeEffectSubject> makeTimeEffectNode(const std::string& name, const std::shared_ptr<sonora::Node>& input);
