#include "SonoraEX/AutomationCurve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace sonora {

std::vector<AutomationEvent> AutomationCurve::evaluate(float initialValue, float resolution) const {
    if (!(resolution > 0)) throw std::invalid_argument("the resolution of an automation curve must be positive");
    std::vector<AutomationEvent> events;
    float previous = initialValue;
    const float r = resolution;
    for (size_t i = 0; i < points.size(); ++i) {
        const ParameterAutomationPoint& point = points[i];
        if (point.isLinear()) {
            events.push_back({point.targetValue, point.startTime, point.rampDuration});
            previous = point.targetValue;
            continue;
        }
        const float start = point.startTime;
        const float d = point.rampDuration;
        const float next = i + 1 < points.size() ? points[i + 1].startTime : std::numeric_limits<float>::max();
        const float end = std::min(start + d, next);
        const float budget = std::ceil((end - start) / r);
        if (!std::isfinite(budget) || budget < 0 || budget > float(std::numeric_limits<int64_t>::max()))
            throw std::logic_error("an automation point's step count is not a usable number");
        const auto n = int64_t(budget);
        if (n == 0) continue;
        const float a = std::fabs(point.rampTaper);
        const float s = point.rampSkew;
        const float delta = point.targetValue - previous;
        float t = start;
        float value = previous;
        for (int64_t step = 0; step < n; ++step) {
            // The fraction of the ramp reached at the end of this step, never past its end.
            const float x = std::min((d - ((start + d) - (t + r))) / d, 1.0f);
            value = (std::pow(x, a) * delta + previous) * (1 - s) +
                    ((1 - std::pow(std::fabs(x - 1), 1 / a)) * delta + previous) * s;
            events.push_back({value, t, r});
            t = t + r;
            if (t >= end) break;
        }
        previous = value;
    }
    return events;
}

AutomationCurve AutomationCurve::replacing(ClosedRange<float> range,
                                           const std::vector<std::pair<float, float>>& withPoints) const {
    AutomationCurve result;
    for (const ParameterAutomationPoint& point : points)
        if (!(range.lowerBound <= point.startTime && point.startTime <= range.upperBound)) result.points.push_back(point);
    for (const auto& [time, value] : withPoints) result.points.emplace_back(value, time, 0.01f, 1.0f, 0.0f);
    std::stable_sort(result.points.begin(), result.points.end(),
                     [](const ParameterAutomationPoint& a, const ParameterAutomationPoint& b) { return a.startTime < b.startTime; });
    return result;
}

}  // namespace sonora
