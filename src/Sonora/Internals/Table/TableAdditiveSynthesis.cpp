// Additive synthesis on tables, their measures, and the families of tables for pitch ranges.
#include "Sonora/Internals/Table/TableAdditiveSynthesis.h"

#include "Sonora/Internals/Table/Table.h"
#include "Sonora/Internals/Utilities/AudioSignal.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/accelerate/vDSP.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>

namespace sonora {

namespace {

// π as the harmonic builders spell it; 2πk is (k + k) × π.
constexpr float kPi = 3.1415927f;
// The upper limit of every pitch range, whatever the sample rate.
constexpr float kLimit = 22050;

void requireHarmonics(int harmonicCount) {
    if (harmonicCount < 1)
        throw std::invalid_argument("Table: a harmonic count of " + std::to_string(harmonicCount) +
                                    " (at least 1 is needed)");
}

// Adds Σ amplitude(k) × sin(i × 2πk ÷ N) over k = 1 ... count to the content.
template <typename Amplitude>
void addHarmonics(std::vector<float>& content, int harmonicCount, Amplitude amplitude) {
    const float n = float(content.size());
    for (int k = 1; k <= harmonicCount; ++k) {
        const float gain = amplitude(k);
        const float twoPiK = (float(k) + float(k)) * kPi;
        for (size_t i = 0; i < content.size(); ++i) content[i] += std::sin(float(i) * twoPiK / n) * gain;
    }
}

// The largest h with h × f < 22050, for 0 < f < 22050.
int harmonicsBelowLimit(float frequency) {
    if (!(frequency > 0) || !std::isfinite(frequency))
        throw std::invalid_argument("harmonicRanges: the frequency " + std::to_string(frequency) +
                                    " has no number of harmonics");
    const double estimate = std::floor(double(kLimit) / double(frequency));
    if (estimate >= double(INT_MAX))
        throw std::invalid_argument("harmonicRanges: the frequency " + std::to_string(frequency) + " is too low");
    int h = std::max(1, int(estimate));
    while (h > 1 && float(h) * frequency >= kLimit) --h;
    while (float(h + 1) * frequency < kLimit) ++h;
    return h;
}

// Appends (22050 ÷ h, h), except a second one-harmonic range in a row.
void appendRange(std::vector<HarmonicRange>& ranges, int h) {
    if (h == 1 && !ranges.empty() && ranges.back().second == 1) return;
    ranges.emplace_back(kLimit / float(h), h);
}

}  // namespace

void Table::addSawtoothHarmonics(int harmonicCount, bool clear) {
    setPhase(0);
    requireHarmonics(harmonicCount);
    if (clear) std::fill(content_.begin(), content_.end(), 0.0f);
    addHarmonics(content_, harmonicCount, [](int k) { return 1 / float(k); });
}

void Table::addSquareHarmonics(int harmonicCount, bool clear) {
    setPhase(0);
    requireHarmonics(harmonicCount);
    if (clear) std::fill(content_.begin(), content_.end(), 0.0f);
    addHarmonics(content_, harmonicCount, [](int k) { return float(k % 2 == 1 ? 1 : 0) / float(k); });
}

void Table::addTriangleHarmonics(int harmonicCount, bool clear) {
    setPhase(0);
    requireHarmonics(harmonicCount);
    if (clear) std::fill(content_.begin(), content_.end(), 0.0f);
    addHarmonics(content_, harmonicCount, [](int k) {
        const int sign = k % 4 == 1 ? 1 : k % 4 == 3 ? -1 : 0;
        return float(sign) / float(int64_t(k) * k);
    });
}

void Table::setPulseHarmonics(int harmonicCount, float width) {
    setPhase(0);
    requireHarmonics(harmonicCount);
    std::fill(content_.begin(), content_.end(), width);
    const int64_t n = int64_t(content_.size());
    if (n == 0) return;
    const float shift = float(n) * width * 0.5f;
    if (!std::isfinite(shift) || std::fabs(shift) >= 9.2233720368547758e18f)
        throw std::invalid_argument("Table: the pulse width " + std::to_string(width) + " gives no offset");
    // Wrapped into 0 ..< N, so that a width outside 0 ... 1 still lands inside the table.
    const int64_t offset = (int64_t(shift) % n + n) % n;
    for (int k = 1; k <= harmonicCount; ++k) {
        const float piK = float(k) * kPi;
        const float twoPiK = (float(k) + float(k)) * kPi;
        const float gain = (2 / piK) * std::sin(piK * width);
        for (int64_t i = 0; i < n; ++i)
            content_[size_t((i + offset) % n)] += gain * std::cos(float(i) * twoPiK / float(n));
    }
    for (float& v : content_) v = 2 * v - 1;
}

void Table::normalize() {
    float absMax = -1.0f;
    for (const float v : content_) absMax = std::max(absMax, std::fabs(v));
    const std::string value = LogItem(absMax).text();
    if (absMax > 0.000001f) {
        for (float& v : content_) v /= absMax;
        Log({"absMax = " + value + ": NOW NORMALIZED"});
    } else {
        Log({"absMax = " + value + ": NOT NORMALIZED"});
    }
}

void Table::reverse() { std::reverse(content_.begin(), content_.end()); }

void Table::invert() {
    for (float& v : content_) v = -v;
}

std::pair<float, float> Table::extremes() const {
    float minimum = 999999.0f;
    float maximum = -999999.0f;
    for (const float v : content_) {
        minimum = std::min(minimum, v);
        maximum = std::max(maximum, v);
    }
    return {minimum, maximum};
}

float Table::difference(const Table& other) const {
    if (other.count() < count())
        throw std::invalid_argument("Table: difference from a table of " + std::to_string(other.count()) +
                                    " samples, shorter than " + std::to_string(count()));
    float sum = 0;
    for (size_t i = 0; i < content_.size(); ++i) {
        const float d = content_[i] - other.content_[i];
        sum += d * d;
    }
    return std::sqrt(sum) / float(content_.size());
}

std::vector<HarmonicRange> harmonicRanges(float startFrequency, float octaveStep) {
    std::vector<HarmonicRange> ranges;
    if (!(startFrequency < kLimit)) return ranges;
    float previous = 0;
    for (int64_t n = 0;; ++n) {
        const float frequency = startFrequency * std::pow(2.0f, float(n) * octaveStep);
        if (!(frequency < kLimit)) break;
        if (!(frequency > previous))
            throw std::invalid_argument("harmonicRanges: from " + std::to_string(startFrequency) + " by steps of " +
                                        std::to_string(octaveStep) + " octaves the frequency never reaches 22050");
        previous = frequency;
        appendRange(ranges, harmonicsBelowLimit(frequency));
    }
    return ranges;
}

std::vector<HarmonicRange> harmonicRanges(int count, float lowFrequency, float highFrequency) {
    std::vector<HarmonicRange> ranges;
    for (int n = 0; n < count; ++n) {
        const float frequency =
            count == 1 ? lowFrequency : float(n) * (highFrequency - lowFrequency) / float(count - 1) + lowFrequency;
        appendRange(ranges, frequency >= kLimit ? 1 : harmonicsBelowLimit(frequency));
    }
    return ranges;
}

std::vector<std::shared_ptr<Table>> Table::split(const std::vector<float>& signal, size_t size) {
    if (size == 0) throw std::invalid_argument("Table: split into pieces of 0 samples");
    std::vector<std::shared_ptr<Table>> tables;
    for (size_t start = 0; signal.size() - start >= size; start += size)
        tables.push_back(std::make_shared<Table>(
            std::vector<float>(signal.begin() + long(start), signal.begin() + long(start + size)), 0.0f));
    return tables;
}

std::vector<std::shared_ptr<Table>> Table::interpolateFamily(const std::vector<std::shared_ptr<Table>>& tables,
                                                             int count) {
    const size_t t = tables.size();
    if (t < 2) throw std::invalid_argument("Table: interpolating a family of " + std::to_string(t) + " tables");
    if (count < 1) throw std::invalid_argument("Table: interpolating into " + std::to_string(count) + " tables");
    for (const auto& table : tables)
        if (!table) throw std::invalid_argument("Table: interpolating a family with a missing table");
    const double threshold = double(t) * 0.01;
    const double step = std::ceil(double(count) / double(t - 1));
    std::vector<std::shared_ptr<Table>> family;
    family.reserve(size_t(count));
    for (int n = 1; n <= count; ++n) {
        const double x = double(n - 1) / step;
        const size_t i = size_t(x);
        const double f = std::fmod(x, 1.0);
        if (threshold > 1 - f) {
            family.push_back(tables[i + 1]);
        } else if (threshold > f) {
            family.push_back(tables[i]);
        } else {
            const Table& a = *tables[i];
            const Table& b = *tables[i + 1];
            if (a.count() != b.count())
                throw std::invalid_argument("Table: blending tables of " + std::to_string(a.count()) + " and " +
                                            std::to_string(b.count()) + " samples");
            std::vector<float> blend(a.count());
            const float fraction = float(f);
            platform::vDSP_vintb(a.content_.data(), 1, b.content_.data(), 1, &fraction, blend.data(), 1, blend.size());
            family.push_back(std::make_shared<Table>(std::move(blend), 0.0f));
        }
    }
    return family;
}

std::vector<std::shared_ptr<Table>> Table::downsampleFamily(const std::vector<std::shared_ptr<Table>>& tables,
                                                            size_t size) {
    std::vector<std::shared_ptr<Table>> family;
    if (tables.empty()) return family;
    if (size == 0) throw std::invalid_argument("Table: downsampling to 0 samples");
    for (const auto& table : tables)
        if (!table) throw std::invalid_argument("Table: downsampling a family with a missing table");
    const size_t c = tables.front()->count();
    const size_t decimation = c / size;
    if (decimation == 0)
        throw std::invalid_argument("Table: downsampling " + std::to_string(c) + " samples to " + std::to_string(size));
    // Each kept sample is averaged with the next, so the last one must have a neighbour.
    const size_t samples = c < 2 ? 0 : (c - 2) / decimation;
    const float filter[2] = {0.5f, 0.5f};
    for (const auto& table : tables) {
        if (samples > 0 && table->count() < (samples - 1) * decimation + 2)
            throw std::invalid_argument("Table: downsampling a family of " + std::to_string(c) +
                                        "-sample tables holding one of " + std::to_string(table->count()));
        std::vector<float> content(samples);
        platform::vDSP_desamp(table->content_.data(), long(decimation), filter, content.data(), samples, 2);
        family.push_back(std::make_shared<Table>(std::move(content), 0.0f));
    }
    return family;
}

std::vector<std::shared_ptr<Table>> Table::family(const platform::URL& url, size_t size) {
    const auto signal = loadAudioSignal(url);
    if (!signal) return {};
    auto pieces = split(signal->signal, size);
    // A file too short for two tables is bad input, not a caller's mistake.
    if (pieces.size() < 2) return {};
    return interpolateFamily(pieces, 256);
}

}  // namespace sonora
