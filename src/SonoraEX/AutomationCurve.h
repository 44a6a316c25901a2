// A parameter's automation as points, flattened into linear events for NodeParameter::automate.
#pragma once

#include "Sonora/Internals/Utilities/ClosedRange.h"
#include "Sonora/Nodes/AutomationEvent.h"

#include <utility>
#include <vector>

namespace sonora {

struct AutomationCurve {
    std::vector<ParameterAutomationPoint> points;  // in startTime order

    // Linear points become one event each; tapered or skewed ones become steps of `resolution`
    // seconds that end on their target (never past it), cut at the next point's start.
    // Throws std::invalid_argument for a resolution that is not positive.
    std::vector<AutomationEvent> evaluate(float initialValue, float resolution) const;

    // Drops the points starting inside the range (bounds included), adds one 0.01 s linear point
    // per (time, value) pair, and sorts by start time (stable).
    AutomationCurve replacing(ClosedRange<float> range, const std::vector<std::pair<float, float>>& withPoints) const;
};

}  // namespace sonora
