#include "Sonora/Sequencing/Duration.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"

#include <cmath>
#include <limits>

namespace sonora {

Duration::Duration(double beats, double tempo) : beats(beats), sampleRate(Settings::sampleRate()), tempo(tempo) {}

Duration Duration::fromSamples(int64_t samples, double sampleRate, double tempo) {
    return Duration(double(samples) / sampleRate * tempo / 60, sampleRate, tempo);
}

Duration Duration::fromSeconds(double seconds, double sampleRate, double tempo) {
    return Duration(seconds / 60 * tempo, sampleRate, tempo);
}

int64_t Duration::samples() const {
    const double value = beats / tempo * 60 * sampleRate;
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (std::isnan(value) || value >= limit) {
        Log({"Warning: Samples exceeds the maximum number."});
        return std::numeric_limits<int64_t>::max();
    }
    // Below the range (−inf included) saturates too: the conversion would be undefined.
    if (value < -limit) {
        Log({"Warning: Samples exceeds the maximum number."});
        return std::numeric_limits<int64_t>::min();
    }
    return int64_t(value);
}

void Duration::setSamples(int64_t samples) { beats = double(samples) / sampleRate / 60 * tempo; }

double Duration::seconds() const { return double(samples()) / sampleRate; }

double Duration::minutes() const { return double(samples()) / sampleRate / 60; }

std::string Duration::description() const {
    const int64_t count = samples();
    return std::to_string(count) + " samples at " + LogItem(sampleRate).text() + " = " + LogItem(beats).text() +
           " Beats at " + LogItem(tempo).text() + " BPM = " + LogItem(double(count) / sampleRate).text() + "s";
}

Duration Duration::operator+(const Duration& other) const { return Duration(beats + other.beats, sampleRate, tempo); }
Duration Duration::operator-(const Duration& other) const { return Duration(beats - other.beats, sampleRate, tempo); }
Duration Duration::operator%(const Duration& other) const {
    return Duration(std::fmod(beats, other.beats), sampleRate, tempo);
}
Duration& Duration::operator+=(const Duration& other) {
    beats += other.beats;
    return *this;
}
Duration& Duration::operator-=(const Duration& other) {
    beats -= other.beats;
    return *this;
}

Duration ceil(const Duration& duration) {
    Duration rounded = duration;
    rounded.beats = std::ceil(duration.beats);
    return rounded;
}

std::optional<TimeSignatureBottomValue> TimeSignatureBottomValueFromRawValue(uint8_t rawValue) {
    if (rawValue < 1 || rawValue > 4) return std::nullopt;
    return TimeSignatureBottomValue(rawValue);
}

std::pair<uint8_t, int64_t> TimeSignature::numeratorAndDenominator() const {
    return {topValue, int64_t(1) << uint8_t(bottomValue)};
}

std::string TimeSignature::description() const {
    return std::to_string(topValue) + "/" + std::to_string(numeratorAndDenominator().second);
}

}  // namespace sonora
