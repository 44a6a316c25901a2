// One cycle of a waveform as 32-bit float samples, for oscillators that read it at audio rate.
// A table is made from a standard shape, a harmonic recipe, silence or given content, or from the
// first channel of a sound file. Misuse (a phase offset that cannot be formed, an index outside the
// content, mismatched lengths) throws std::invalid_argument or std::out_of_range.
//
//   auto square = std::make_shared<Table>(TableType::square, 0.0f, 4);  // −1 −1 1 1
#pragma once

#include "platform/foundation/URL.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {
class AVAudioFile;
}

namespace sonora {

// How a table's content was made. `harmonic` carries the amplitudes of the partials above the
// fundamental (partial 2, 3, ...).
class TableType {
public:
    enum Case {
        harmonic,
        sine,
        triangle,
        square,
        sawtooth,
        reverseSawtooth,
        positiveSine,
        positiveTriangle,
        positiveSquare,
        positiveSawtooth,
        positiveReverseSawtooth,
        zero,
        custom,
    };

    TableType(Case kind = sine) : kind_(kind) {}  // NOLINT: a case converts to its type
    // harmonic(_:) with the given partial amplitudes.
    static TableType harmonicPartials(std::vector<float> partials);

    Case kind() const { return kind_; }
    const std::vector<float>& partials() const { return partials_; }

    // The case's name as written above ("positiveSawtooth"); named() is its inverse (a `harmonic`
    // made from its name has no partials).
    std::string name() const;
    static std::optional<TableType> named(std::string_view name);

    bool operator==(const TableType& other) const = default;

private:
    Case kind_;
    std::vector<float> partials_;
};

class Table {
public:
    // init(type:phase:count:): N samples of the shape, starting `phase` (a fraction of the cycle)
    // into it. The phase is stored as given (see setPhase for the clamp).
    explicit Table(TableType type = TableType::sine, float phase = 0, int64_t count = 4096);
    // init(content:phase:): the given samples; the type is `custom`.
    explicit Table(std::vector<float> content, float phase = 0);

    // init(file:): the first channel of the whole file, as a table of type `sine` (as it always was);
    // null when it cannot be read.
    static std::shared_ptr<Table> make(platform::AVAudioFile& file);
    // init(url:): the same for the file at `url`; null when it cannot be opened or read.
    static std::shared_ptr<Table> make(const platform::URL& url);

    const std::vector<float>& content() const { return content_; }
    std::vector<float>& content() { return content_; }
    void setContent(std::vector<float> content) { content_ = std::move(content); }

    float phase() const { return phase_; }
    // At or below 0 stores 0, above 1 stores 1; NaN is kept.
    void setPhase(float phase);

    const TableType& type() const { return type_; }

    // Int(Float(count) × phase), truncated; throws std::invalid_argument when that is not finite or
    // outside the 64-bit range.
    int64_t phaseOffset() const;

    // The collection of samples: indexes 0 ..< count. Reading or writing outside throws
    // std::out_of_range.
    size_t count() const { return content_.size(); }
    size_t startIndex() const { return 0; }
    size_t endIndex() const { return content_.size(); }
    float operator[](size_t index) const;
    float& operator[](size_t index);
    std::vector<float>::iterator begin() { return content_.begin(); }
    std::vector<float>::iterator end() { return content_.end(); }
    std::vector<float>::const_iterator begin() const { return content_.begin(); }
    std::vector<float>::const_iterator end() const { return content_.end(); }
    // The samples from..<to; replaceSubrange writes as many values over them (std::invalid_argument
    // when the counts differ).
    std::vector<float> slice(size_t from, size_t to) const;
    void replaceSubrange(size_t from, size_t to, const std::vector<float>& values);

    // Additive synthesis (each sets the phase to 0 and takes a harmonic count of at least 1):
    // sums harmonics 1 ... count of a sawtooth, square or triangle into the content, zeroed first
    // when `clear` is true.
    void addSawtoothHarmonics(int harmonicCount, bool clear = true);
    void addSquareHarmonics(int harmonicCount, bool clear = true);
    void addTriangleHarmonics(int harmonicCount, bool clear = true);
    // A band-limited pulse of the given width (0 ... 1), replacing the content, in −1 ... 1.
    void setPulseHarmonics(int harmonicCount, float width);

    // Divides every sample by the largest magnitude when that is above 0.000001 (logged either way).
    void normalize();
    void reverse();
    void invert();
    // (minimum, maximum), from (999999, −999999).
    std::pair<float, float> extremes() const;
    // √(Σ (a − b)²) ÷ count over this table's samples; NaN for an empty table. The other table
    // must be at least as long (std::invalid_argument).
    float difference(const Table& other) const;

    // Tables for pitch ranges:
    // The signal cut into consecutive pieces of `size` samples (the tail dropped), one custom table each.
    static std::vector<std::shared_ptr<Table>> split(const std::vector<float>& signal, size_t size);
    // `count` tables stepping through the given ones (at least 2), blending neighbours where a step
    // falls between them; a step close to a table takes that very table.
    static std::vector<std::shared_ptr<Table>> interpolateFamily(const std::vector<std::shared_ptr<Table>>& tables,
                                                                 int count);
    // Every table decimated to about `size` samples, averaging each kept sample with the next.
    static std::vector<std::shared_ptr<Table>> downsampleFamily(const std::vector<std::shared_ptr<Table>>& tables,
                                                                size_t size);
    // The file's first channel split into tables of `size` samples, interpolated to 256 tables;
    // empty when the file cannot be read or holds fewer than two tables.
    static std::vector<std::shared_ptr<Table>> family(const platform::URL& url, size_t size);

private:
    void fill(int64_t count);

    std::vector<float> content_;
    float phase_ = 0;
    TableType type_;
};

}  // namespace sonora
