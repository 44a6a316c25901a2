// Mapping values between ranges: clamping, normalising with a taper, and linear, logarithmic and
// exponential maps (for controls and parameter ranges).
#pragma once

#include "Sonora/Internals/Utilities/ClosedRange.h"

#include <algorithm>

namespace sonora {

// clamped(to:): raised to the lower end, then lowered to the upper end.
template <typename T>
T clamped(const T& value, const ClosedRange<T>& range) {
    return std::min(std::max(value, range.lowerBound), range.upperBound);
}

// normalized(from:taper:): ((x − lo) ÷ (hi − lo)) to the power 1 ÷ taper.
float normalized(float value, const ClosedRange<float>& from, float taper = 1);
// denormalized(to:taper:): x to the power taper × (hi − lo) + lo.
float denormalized(float value, const ClosedRange<float>& to, float taper = 1);

// mapped(from:to:): the linear map of [a, b] onto [c, d].
double mapped(double value, const ClosedRange<double>& from, const ClosedRange<double>& to);
// mapped(from:to:) for an integer in an integer range.
double mapped(int value, const ClosedRange<int>& from, const ClosedRange<double>& to);
// mappedInverted(from:to:): the linear map run from d down to c.
double mappedInverted(double value, const ClosedRange<double>& from, const ClosedRange<double>& to);
// mappedLog10(from:to:): linear in log10 of the value; 0 when the result is not a number.
double mappedLog10(double value, const ClosedRange<double>& from, const ClosedRange<double>& to);
// mappedExp(from:to:): the value mapped linearly onto [ln c, ln d], then raised to e.
double mappedExp(double value, const ClosedRange<double>& from, const ClosedRange<double>& to);

}  // namespace sonora
