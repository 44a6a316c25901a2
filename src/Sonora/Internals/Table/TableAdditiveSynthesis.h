// Pitch ranges for families of band-limited tables: for each frequency of a range, how many
// harmonics stay below 22050 Hz (whatever the sample rate). The table operations themselves are
// members of Table (Table.h).
#pragma once

#include <utility>
#include <vector>

namespace sonora {

// (22050 ÷ h, h): the frequency below which h harmonics stay under 22050 Hz, and h.
using HarmonicRange = std::pair<float, int>;

// Frequencies start × 2^(n × octaveStep), n = 0, 1, ... while below 22050, each giving the number h
// of its harmonics below 22050; a second range of one harmonic in a row is left out. Empty when
// start is not below 22050. Throws std::invalid_argument when the frequencies would never reach
// 22050 (a start or a step at or below 0).
std::vector<HarmonicRange> harmonicRanges(float startFrequency, float octaveStep);

// The same for `count` frequencies spaced evenly from lowFrequency to highFrequency (one frequency:
// lowFrequency); a frequency at or above 22050 takes one harmonic. Throws std::invalid_argument for
// a frequency at or below 0 or not finite.
std::vector<HarmonicRange> harmonicRanges(int count, float lowFrequency, float highFrequency);

}  // namespace sonora
