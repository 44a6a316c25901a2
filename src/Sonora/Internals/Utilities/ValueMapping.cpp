#include "Sonora/Internals/Utilities/ValueMapping.h"

#include <cmath>

namespace sonora {

float normalized(float value, const ClosedRange<float>& from, float taper) {
    return std::pow((value - from.lowerBound) / (from.upperBound - from.lowerBound), 1.0f / taper);
}

float denormalized(float value, const ClosedRange<float>& to, float taper) {
    return std::pow(value, taper) * (to.upperBound - to.lowerBound) + to.lowerBound;
}

double mapped(double value, const ClosedRange<double>& from, const ClosedRange<double>& to) {
    return (to.upperBound - to.lowerBound) * ((value - from.lowerBound) / (from.upperBound - from.lowerBound)) +
           to.lowerBound;
}

double mapped(int value, const ClosedRange<int>& from, const ClosedRange<double>& to) {
    return (to.upperBound - to.lowerBound) *
               (double(value - from.lowerBound) / double(from.upperBound - from.lowerBound)) +
           to.lowerBound;
}

double mappedInverted(double value, const ClosedRange<double>& from, const ClosedRange<double>& to) {
    return to.upperBound - mapped(value, from, to) + to.lowerBound;
}

double mappedLog10(double value, const ClosedRange<double>& from, const ClosedRange<double>& to) {
    const double logN = std::log10(value);
    const double logStart = std::log10(from.lowerBound);
    const double logEnd = std::log10(from.upperBound);
    const double result = (to.upperBound - to.lowerBound) * ((logN - logStart) / (logEnd - logStart)) + to.lowerBound;
    return std::isnan(result) ? 0 : result;
}

double mappedExp(double value, const ClosedRange<double>& from, const ClosedRange<double>& to) {
    const double logStart = std::log(to.lowerBound);
    const double logEnd = std::log(to.upperBound);
    const double scale = (logEnd - logStart) / (from.upperBound - from.lowerBound);
    return std::exp(logStart + scale * (value - from.lowerBound));
}

}  // namespace sonora
