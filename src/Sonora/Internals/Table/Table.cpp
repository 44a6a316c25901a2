#include "Sonora/Internals/Table/Table.h"

#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/NSError.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace sonora {

namespace {

// One cycle as the fillers use it, the single-precision value of 2π.
constexpr float kTwoPi = 6.2831855f;

constexpr std::array<const char*, 13> kCaseNames = {
    "harmonic",     "sine",           "triangle",         "square",          "sawtooth",
    "reverseSawtooth", "positiveSine", "positiveTriangle", "positiveSquare", "positiveSawtooth",
    "positiveReverseSawtooth", "zero", "custom"};

// i + s for every index of an N-sample table, refused when the last one would not fit.
void checkShiftedIndexes(int64_t count, int64_t offset) {
    int64_t last = 0;
    if (__builtin_add_overflow(count, offset, &last))
        throw std::invalid_argument("Table: the phase offset " + std::to_string(offset) + " overflows the index");
}

void checkRange(size_t from, size_t to, size_t count) {
    if (from > to || to > count)
        throw std::out_of_range("Table: range " + std::to_string(from) + "..<" + std::to_string(to) + " outside " +
                                std::to_string(count) + " samples");
}

}  // namespace

TableType TableType::harmonicPartials(std::vector<float> partials) {
    TableType type(harmonic);
    type.partials_ = std::move(partials);
    return type;
}

std::string TableType::name() const { return kCaseNames[size_t(kind_)]; }

std::optional<TableType> TableType::named(std::string_view name) {
    for (size_t i = 0; i < kCaseNames.size(); ++i)
        if (name == kCaseNames[i]) return TableType(Case(i));
    return std::nullopt;
}

Table::Table(TableType type, float phase, int64_t count) : phase_(phase), type_(std::move(type)) {
    if (count < 0) throw std::invalid_argument("Table: a count of " + std::to_string(count) + " samples");
    fill(count);
}

Table::Table(std::vector<float> content, float phase)
    : content_(std::move(content)), phase_(phase), type_(TableType::custom) {}

void Table::setPhase(float phase) {
    if (phase <= 0) {
        phase_ = 0;
    } else if (phase > 1) {
        phase_ = 1;
    } else {
        phase_ = phase;  // NaN included
    }
}

int64_t Table::phaseOffset() const {
    const float offset = float(content_.size()) * phase_;
    // 2^63 is exactly representable; anything at or past it (or not finite) has no Int.
    if (!std::isfinite(offset) || offset >= 9.2233720368547758e18f || offset < -9.2233720368547758e18f)
        throw std::invalid_argument("Table: the phase " + std::to_string(phase_) + " gives no offset into " +
                                    std::to_string(content_.size()) + " samples");
    return int64_t(offset);
}

void Table::fill(int64_t count) {
    content_.assign(size_t(count), 0.0f);
    const TableType::Case kind = type_.kind();
    if (count == 0 || kind == TableType::zero || kind == TableType::custom) return;

    const int64_t n = count;
    const int64_t s = phaseOffset();
    checkShiftedIndexes(n, s);
    const float fn = float(n);
    const int64_t half = n / 2;
    for (int64_t i = 0; i < n; ++i) {
        // The remainder keeps the sign of i + s: negative only for a negative stored phase.
        const int64_t j = (i + s) % n;
        const float fj = float(j);
        float& v = content_[size_t(i)];
        switch (kind) {
        case TableType::sine: v = std::sin(float(i + s) * kTwoPi / fn); break;
        case TableType::triangle: v = j < half ? fj * 4 / fn - 1 : 3 - fj * 4 / fn; break;
        case TableType::square: v = j < half ? -1.0f : 1.0f; break;
        case TableType::sawtooth: v = 2 * fj / fn - 1; break;
        case TableType::reverseSawtooth: v = 1 - 2 * fj / fn; break;
        case TableType::positiveSine: v = std::sin(float(i + s) * kTwoPi / fn) * 0.5f + 0.5f; break;
        case TableType::positiveTriangle: v = j < half ? fj * 2 / fn : 2 - fj * 2 / fn; break;
        case TableType::positiveSquare: v = j < half ? 0.0f : 1.0f; break;
        case TableType::positiveSawtooth: v = fj / fn; break;
        case TableType::positiveReverseSawtooth: v = 1 - fj / fn; break;
        case TableType::harmonic: {
            // The partial number multiplies the index but not the offset, as the shape was designed.
            float sum = std::sin(float(i + s) * kTwoPi / fn);
            const auto& partials = type_.partials();
            for (size_t k = 0; k < partials.size(); ++k) {
                int64_t scaled = 0;
                if (__builtin_mul_overflow(int64_t(k) + 2, i, &scaled) || __builtin_add_overflow(scaled, s, &scaled))
                    throw std::invalid_argument("Table: partial " + std::to_string(k + 2) + " overflows the index");
                sum += partials[k] * std::sin(float(scaled) * kTwoPi / fn);
            }
            v = sum;
            break;
        }
        case TableType::zero:
        case TableType::custom: break;
        }
    }
}

std::shared_ptr<Table> Table::make(platform::AVAudioFile& file) {
    const int64_t length = file.length();
    std::shared_ptr<AVAudioPCMBuffer> buffer;
    try {
        buffer = toAVAudioPCMBuffer(file);
    } catch (const platform::NSErrorException&) {
        buffer = nullptr;
    }
    if (!buffer || length < 0) return nullptr;
    const auto channels = toFloatChannelData(*buffer);
    if (!channels || channels->empty()) return nullptr;
    auto table = std::make_shared<Table>(TableType::sine, 0.0f, length);
    const std::vector<float>& first = channels->front();
    std::copy_n(first.begin(), std::min(first.size(), table->content_.size()), table->content_.begin());
    return table;
}

std::shared_ptr<Table> Table::make(const platform::URL& url) {
    std::shared_ptr<AVAudioPCMBuffer> buffer;
    try {
        buffer = makeBuffer(url);
    } catch (const platform::NSErrorException&) {
        buffer = nullptr;
    }
    if (!buffer) return nullptr;
    auto channels = toFloatChannelData(*buffer);
    if (!channels || channels->empty()) return nullptr;
    auto table = std::make_shared<Table>(TableType::sine, 0.0f, int64_t(buffer->frameLength()));
    table->content_ = std::move(channels->front());
    return table;
}

float Table::operator[](size_t index) const {
    checkRange(index, index + 1, content_.size());
    return content_[index];
}

float& Table::operator[](size_t index) {
    checkRange(index, index + 1, content_.size());
    return content_[index];
}

std::vector<float> Table::slice(size_t from, size_t to) const {
    checkRange(from, to, content_.size());
    return {content_.begin() + long(from), content_.begin() + long(to)};
}

void Table::replaceSubrange(size_t from, size_t to, const std::vector<float>& values) {
    checkRange(from, to, content_.size());
    if (values.size() != to - from)
        throw std::invalid_argument("Table: " + std::to_string(values.size()) + " values for a range of " +
                                    std::to_string(to - from));
    std::copy(values.begin(), values.end(), content_.begin() + long(from));
}

}  // namespace sonora
