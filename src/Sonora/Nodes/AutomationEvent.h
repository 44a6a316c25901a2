// Timed target values for a parameter: linear events, and points whose ramps bend by a taper and
// a skew. Times are seconds from the automation's start.
#pragma once

namespace sonora {

struct AutomationEvent {
    float targetValue = 0;   // reached at the end of the ramp
    float startTime = 0;     // seconds after the automation start
    float rampDuration = 0;  // seconds of linear ramp (0: a jump)

    bool operator==(const AutomationEvent&) const = default;
};

struct ParameterAutomationPoint {
    float targetValue = 0;
    float startTime = 0;
    float rampDuration = 0;
    float rampTaper = 1;  // exponent of the ramp's curve; 1 is linear
    float rampSkew = 0;   // 0 the tapered curve, 1 its mirror

    ParameterAutomationPoint() = default;
    ParameterAutomationPoint(float targetValue, float startTime, float rampDuration, float rampTaper = 1,
                             float rampSkew = 0)
        : targetValue(targetValue), startTime(startTime), rampDuration(rampDuration), rampTaper(rampTaper),
          rampSkew(rampSkew) {}

    bool isLinear() const { return rampTaper == 1.0f && rampSkew == 0.0f; }
    // All five fields equal as floats (a NaN field is never equal).
    bool operator==(const ParameterAutomationPoint&) const = default;
};

}  // namespace sonora
