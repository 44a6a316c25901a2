// A length in beats tied to a tempo and a sample rate, with conversions to samples and seconds.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <string>

namespace sonora {

struct Duration {
    double beats = 0;
    double sampleRate = 44100;
    double tempo = 60;

    // sampleRate = Settings::sampleRate().
    Duration(double beats, double tempo = 60);
    static Duration fromSamples(int64_t samples, double sampleRate, double tempo = 60);
    static Duration fromSeconds(double seconds, double sampleRate, double tempo = 60);

    // Truncated toward zero and saturated to the signed 64-bit range (logged when cut).
    int64_t samples() const;
    void setSamples(int64_t samples);
    double seconds() const;
    double minutes() const;
    std::string description() const;

    Duration operator+(const Duration& other) const;
    Duration operator-(const Duration& other) const;
    Duration operator%(const Duration& other) const;
    Duration& operator+=(const Duration& other);
    Duration& operator-=(const Duration& other);
    // Beats only: sample rate and tempo are ignored.
    bool operator==(const Duration& other) const { return beats == other.beats; }
    bool operator<(const Duration& other) const { return beats < other.beats; }
    bool operator<=(const Duration& other) const { return beats <= other.beats; }
    bool operator>(const Duration& other) const { return beats > other.beats; }
    bool operator>=(const Duration& other) const { return beats >= other.beats; }

private:
    Duration(double beats, double sampleRate, double tempo) : beats(beats), sampleRate(sampleRate), tempo(tempo) {}
};

// The duration with its beats rounded up to a whole beat.
Duration ceil(const Duration& duration);

enum class TimeSignatureBottomValue : uint8_t { two = 1, four = 2, eight = 3, sixteen = 4 };
std::optional<TimeSignatureBottomValue> TimeSignatureBottomValueFromRawValue(uint8_t rawValue);

struct TimeSignature {
    uint8_t topValue = 4;
    TimeSignatureBottomValue bottomValue = TimeSignatureBottomValue::four;

    std::string description() const;
    std::pair<uint8_t, int64_t> numeratorAndDenominator() const;
    bool operator==(const TimeSignature& other) const = default;
};

}  // namespace sonora
