#include "platform/media/PCMConverter.h"

#include "platform/foundation/OSLog.h"

#include <soxr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <numeric>
#include <optional>
#include <vector>

namespace platform::detail {

namespace {

void logError(const std::string& message) {
    os_log(OSLog{"platform", "PCMConverter"}, OSLogType::error, message);
}

// How one channel's samples sit in memory.
struct SampleLayout {
    enum class Kind { floating, signedInt, unsignedInt } kind = Kind::floating;
    // Native little-endian packed types get tight loops; everything else goes through the general path.
    enum class Fast { none, f32, f64, s16, s24, s32 } fast = Fast::none;
    uint32_t bits = 0;
    uint32_t containerBytes = 0;
    bool bigEndian = false;
    bool alignedHigh = false;
    bool interleaved = true;
    uint32_t channels = 0;
    uint32_t bytesPerFrame = 0;
};

std::optional<SampleLayout> layoutOf(const AudioStreamBasicDescription& d) {
    if (d.mFormatID != kAudioFormatLinearPCM || !std::isfinite(d.mSampleRate) || d.mSampleRate <= 0 ||
        d.mChannelsPerFrame == 0 || d.mBitsPerChannel == 0 || d.mBytesPerFrame == 0)
        return std::nullopt;
    SampleLayout l;
    const AudioFormatFlags f = d.mFormatFlags;
    l.kind = (f & kAudioFormatFlagIsFloat)           ? SampleLayout::Kind::floating
             : (f & kAudioFormatFlagIsSignedInteger) ? SampleLayout::Kind::signedInt
                                                     : SampleLayout::Kind::unsignedInt;
    l.bits = d.mBitsPerChannel;
    l.interleaved = !(f & kAudioFormatFlagIsNonInterleaved);
    l.channels = d.mChannelsPerFrame;
    l.bytesPerFrame = d.mBytesPerFrame;
    if (l.interleaved && l.bytesPerFrame % l.channels != 0) return std::nullopt;
    l.containerBytes = l.interleaved ? l.bytesPerFrame / l.channels : l.bytesPerFrame;
    l.bigEndian = (f & kAudioFormatFlagIsBigEndian) && l.containerBytes > 1;
    l.alignedHigh = (f & kAudioFormatFlagIsAlignedHigh) != 0;
    if (l.containerBytes > 8 || l.containerBytes * 8 < l.bits) return std::nullopt;
    if (l.kind == SampleLayout::Kind::floating) {
        if (!((l.bits == 32 && l.containerBytes == 4) || (l.bits == 64 && l.containerBytes == 8))) return std::nullopt;
    } else if (l.bits > 32) {
        return std::nullopt;
    }
    if constexpr (std::endian::native == std::endian::little) {
        if (!l.bigEndian && l.containerBytes * 8 == l.bits) {
            if (l.kind == SampleLayout::Kind::floating) l.fast = l.bits == 32 ? SampleLayout::Fast::f32 : SampleLayout::Fast::f64;
            if (l.kind == SampleLayout::Kind::signedInt && l.bits == 16) l.fast = SampleLayout::Fast::s16;
            if (l.kind == SampleLayout::Kind::signedInt && l.bits == 24) l.fast = SampleLayout::Fast::s24;
            if (l.kind == SampleLayout::Kind::signedInt && l.bits == 32) l.fast = SampleLayout::Fast::s32;
        }
    }
    return l;
}

// Where channel c's samples start and how far apart frames are, in bytes.
struct Plane {
    unsigned char* base = nullptr;
    size_t stride = 0;
};

// Fills one plane per channel from a buffer list; returns the frames every plane can hold (0 when
// the list does not describe the layout).
size_t planesOf(const SampleLayout& l, const AudioBufferList* list, Plane* planes) {
    if (!list) return 0;
    if (l.interleaved) {
        if (list->mNumberBuffers < 1 || !list->mBuffers[0].mData) return 0;
        auto* base = static_cast<unsigned char*>(list->mBuffers[0].mData);
        for (uint32_t c = 0; c < l.channels; ++c) planes[c] = Plane{base + size_t(c) * l.containerBytes, l.bytesPerFrame};
        return list->mBuffers[0].mDataByteSize / l.bytesPerFrame;
    }
    if (list->mNumberBuffers < l.channels) return 0;
    size_t frames = SIZE_MAX;
    for (uint32_t c = 0; c < l.channels; ++c) {
        if (!list->mBuffers[c].mData) return 0;
        planes[c] = Plane{static_cast<unsigned char*>(list->mBuffers[c].mData), l.bytesPerFrame};
        frames = std::min<size_t>(frames, list->mBuffers[c].mDataByteSize / l.bytesPerFrame);
    }
    return frames;
}

uint64_t readRaw(const unsigned char* p, uint32_t bytes, bool bigEndian) {
    uint64_t raw = 0;
    if (bigEndian) {
        for (uint32_t b = 0; b < bytes; ++b) raw = (raw << 8) | p[b];
    } else {
        for (uint32_t b = bytes; b-- > 0;) raw = (raw << 8) | p[b];
    }
    return raw;
}

void writeRaw(unsigned char* p, uint64_t raw, uint32_t bytes, bool bigEndian) {
    if (bigEndian) {
        for (uint32_t b = bytes; b-- > 0; raw >>= 8) p[b] = uint8_t(raw);
    } else {
        for (uint32_t b = 0; b < bytes; ++b, raw >>= 8) p[b] = uint8_t(raw);
    }
}

template <class V>
V load(const unsigned char* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
void store(unsigned char* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

// Round half to even: adding and removing 1.5 * 2^52 leaves the nearest integer under the default
// rounding mode, for every value an integer sample can take.
inline double roundEven(double x) {
    constexpr double magic = 6755399441055744.0;
    return (x + magic) - magic;
}

// One sample from the full scale of `bits` to a clipped integer, rounded half to even. NaN is silence.
inline int64_t toInteger(double x, uint32_t bits) {
    const double top = std::ldexp(1.0, int(bits) - 1);
    x *= top;
    if (!(x == x)) return 0;
    x = std::clamp(x, -top, top - 1);
    return int64_t(roundEven(x));
}

// Calls f with the stride as a compile-time constant where it is one of the common ones (a sample
// of a mono or a stereo frame), so that the loop vectorises; otherwise as a run-time value.
template <size_t Bytes, class F>
inline void withStride(size_t stride, F&& f) {
    if (stride == Bytes) {
        f(std::integral_constant<size_t, Bytes>{});
    } else if (stride == 2 * Bytes) {
        f(std::integral_constant<size_t, 2 * Bytes>{});
    } else {
        f(stride);
    }
}

template <class T>
void unpack(const SampleLayout& l, const Plane& plane, size_t frames, T* dst) {
    const unsigned char* p = plane.base;
    const size_t s = plane.stride;
    switch (l.fast) {
    case SampleLayout::Fast::f32:
        if (s == 4 && std::is_same_v<T, float>) {
            std::memcpy(dst, p, frames * 4);
        } else {
            withStride<4>(s, [&](auto stride) {
                for (size_t i = 0; i < frames; ++i) dst[i] = T(load<float>(p + i * stride));
            });
        }
        return;
    case SampleLayout::Fast::f64:
        for (size_t i = 0; i < frames; ++i) dst[i] = T(load<double>(p + i * s));
        return;
    case SampleLayout::Fast::s16:
        withStride<2>(s, [&](auto stride) {
            for (size_t i = 0; i < frames; ++i) dst[i] = T(load<int16_t>(p + i * stride)) * T(1.0 / 32768.0);
        });
        return;
    case SampleLayout::Fast::s24:
        for (size_t i = 0; i < frames; ++i) {
            const unsigned char* b = p + i * s;
            // The three bytes go to the top of an int32; the arithmetic shift extends the sign.
            const int32_t v = int32_t(uint32_t(b[0]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 24) >> 8;
            dst[i] = T(v) * T(1.0 / 8388608.0);
        }
        return;
    case SampleLayout::Fast::s32:
        for (size_t i = 0; i < frames; ++i) dst[i] = T(double(load<int32_t>(p + i * s)) * (1.0 / 2147483648.0));
        return;
    case SampleLayout::Fast::none: break;
    }
    const uint32_t containerBits = l.containerBytes * 8;
    const uint32_t shift = l.alignedHigh ? containerBits - l.bits : 0;
    const uint64_t mask = l.bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << l.bits) - 1;
    const double scale = std::ldexp(1.0, 1 - int(l.bits));
    const int64_t half = int64_t(1) << (std::min(l.bits, 63u) - 1);
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t raw = readRaw(p + i * s, l.containerBytes, l.bigEndian);
        double v;
        if (l.kind == SampleLayout::Kind::floating) {
            v = l.bits == 32 ? double(std::bit_cast<float>(uint32_t(raw))) : std::bit_cast<double>(raw);
        } else {
            const uint64_t bitsValue = (raw >> shift) & mask;
            int64_t n;
            if (l.kind == SampleLayout::Kind::unsignedInt) {
                n = int64_t(bitsValue) - half;
            } else {
                n = (bitsValue & uint64_t(half)) ? int64_t(bitsValue | ~mask) : int64_t(bitsValue);
            }
            v = double(n) * scale;
        }
        dst[i] = T(v);
    }
}

// Writes `frames` samples of `src` (silence when src is null) into one plane.
template <class T>
void pack(const SampleLayout& l, const T* src, size_t frames, const Plane& plane) {
    unsigned char* p = plane.base;
    const size_t s = plane.stride;
    switch (l.fast) {
    case SampleLayout::Fast::f32:
        if (!src) {
            for (size_t i = 0; i < frames; ++i) store<float>(p + i * s, 0.0f);
        } else if (s == 4 && std::is_same_v<T, float>) {
            std::memcpy(p, src, frames * 4);
        } else {
            withStride<4>(s, [&](auto stride) {
                for (size_t i = 0; i < frames; ++i) store<float>(p + i * stride, float(src[i]));
            });
        }
        return;
    case SampleLayout::Fast::f64:
        for (size_t i = 0; i < frames; ++i) store<double>(p + i * s, src ? double(src[i]) : 0.0);
        return;
    case SampleLayout::Fast::s16:
        if (!src) {
            for (size_t i = 0; i < frames; ++i) store<int16_t>(p + i * s, 0);
            return;
        }
        withStride<2>(s, [&](auto stride) {
            for (size_t i = 0; i < frames; ++i) {
                // 1.5 * 2^23 rounds half to even in single precision for |x| < 2^22.
                float x = float(src[i]) * 32768.0f;
                x = x > 32767.0f ? 32767.0f : x;
                x = x >= -32768.0f ? x : (x == x ? -32768.0f : 0.0f);
                store<int16_t>(p + i * stride, int16_t((x + 12582912.0f) - 12582912.0f));
            }
        });
        return;
    case SampleLayout::Fast::s24:
        for (size_t i = 0; i < frames; ++i) {
            // Double precision: a float cannot round a 24-bit sample half to even for every value.
            double x = src ? double(src[i]) * 8388608.0 : 0.0;
            x = x > 8388607.0 ? 8388607.0 : x;
            x = x >= -8388608.0 ? x : (x == x ? -8388608.0 : 0.0);
            const auto v = uint32_t(int32_t(roundEven(x)));
            unsigned char* b = p + i * s;
            b[0] = uint8_t(v);
            b[1] = uint8_t(v >> 8);
            b[2] = uint8_t(v >> 16);
        }
        return;
    default: break;
    }
    const uint32_t containerBits = l.containerBytes * 8;
    const uint32_t shift = l.alignedHigh ? containerBits - l.bits : 0;
    const uint64_t mask = l.bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << l.bits) - 1;
    const int64_t half = int64_t(1) << (std::min(l.bits, 63u) - 1);
    for (size_t i = 0; i < frames; ++i) {
        const double v = src ? double(src[i]) : 0.0;
        uint64_t raw;
        if (l.kind == SampleLayout::Kind::floating) {
            raw = l.bits == 32 ? std::bit_cast<uint32_t>(float(v)) : std::bit_cast<uint64_t>(v);
        } else {
            int64_t n = toInteger(v, l.bits);
            if (l.kind == SampleLayout::Kind::unsignedInt) n += half;
            raw = (uint64_t(n) & mask) << shift;
        }
        writeRaw(p + i * s, raw, l.containerBytes, l.bigEndian);
    }
}

// Integer samples to integer samples at the same rate, without going through floats. Only where
// the float path is exact before its final rounding (16- and 24-bit inputs, which a float holds
// whole), so both give the same samples: widening shifts up, 24 -> 16 rounds half to even and
// clips at the top, as the float path's packing does.
bool integerToInteger(const SampleLayout& in, const SampleLayout& out) {
    const bool input = in.fast == SampleLayout::Fast::s16 || in.fast == SampleLayout::Fast::s24;
    const bool output = out.fast == SampleLayout::Fast::s16 || out.fast == SampleLayout::Fast::s24 ||
                        out.fast == SampleLayout::Fast::s32;
    // Averaging down to mono is done in floats.
    return input && output && !(out.channels == 1 && in.channels > 1);
}

template <int Bytes>
inline int32_t loadInteger(const unsigned char* p) {
    if constexpr (Bytes == 2) return load<int16_t>(p);
    if constexpr (Bytes == 3)
        return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
}

template <int Bytes>
inline void storeInteger(unsigned char* p, int32_t v) {
    if constexpr (Bytes == 2) store<int16_t>(p, int16_t(v));
    if constexpr (Bytes == 3) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(uint32_t(v) >> 8);
        p[2] = uint8_t(uint32_t(v) >> 16);
    }
    if constexpr (Bytes == 4) store<int32_t>(p, v);
}

template <int InBytes, int OutBytes>
inline int32_t rescale(int32_t v) {
    if constexpr (OutBytes >= InBytes) {
        return int32_t(uint32_t(v) << (8 * (OutBytes - InBytes)));
    } else {
        constexpr int drop = 8 * (InBytes - OutBytes);
        constexpr int32_t top = (int32_t(1) << (8 * OutBytes - 1)) - 1;
        // Half to even: the half rounds up only when the kept part is odd.
        const int32_t rounded = (v + ((int32_t(1) << (drop - 1)) - 1) + ((v >> drop) & 1)) >> drop;
        return rounded > top ? top : rounded;
    }
}

// `count` samples `step` bytes apart in both directions (one channel of a plane), or the whole of
// an interleaved run when the steps are one frame of one sample each.
template <int InBytes, int OutBytes>
void rescaleRun(const unsigned char* in, size_t inStep, unsigned char* out, size_t outStep, size_t count) {
    if constexpr (InBytes == 3 && OutBytes == 2) {
        if (inStep == 3 && outStep == 2) {
            // The top two bytes are the sample divided by 256 rounded down; the low byte says
            // whether to round up (past the half, or at it towards even, short of the top).
            for (size_t i = 0; i < count; ++i) {
                const unsigned char* b = in + 3 * i;
                const int32_t high = int16_t(uint16_t(b[1] | b[2] << 8));
                const int32_t up = int32_t(b[0]) + (high & 1) > 128 && high < 32767;
                store<int16_t>(out + 2 * i, int16_t(high + up));
            }
            return;
        }
    }
    for (size_t i = 0; i < count; ++i)
        storeInteger<OutBytes>(out + i * outStep, rescale<InBytes, OutBytes>(loadInteger<InBytes>(in + i * inStep)));
}

template <int InBytes, int OutBytes>
void rescaleFrames(const SampleLayout& in, const Plane* inPlanes, const SampleLayout& out, const Plane* outPlanes,
                   size_t frames) {
    if (in.interleaved && out.interleaved && in.channels == out.channels) {
        // Frames are contiguous in both: one run over every sample.
        rescaleRun<InBytes, OutBytes>(inPlanes[0].base, InBytes, outPlanes[0].base, OutBytes, frames * in.channels);
        return;
    }
    const uint32_t carried = std::min(in.channels, out.channels);
    for (uint32_t c = 0; c < out.channels; ++c) {
        unsigned char* o = outPlanes[c].base;
        const size_t os = outPlanes[c].stride;
        // One input channel goes to every output; a wider input keeps its first channels; more
        // outputs than a wider input has are silent.
        const int source = c < carried ? int(c) : (carried == 1 ? 0 : -1);
        if (source < 0) {
            for (size_t i = 0; i < frames; ++i) storeInteger<OutBytes>(o + i * os, 0);
            continue;
        }
        rescaleRun<InBytes, OutBytes>(inPlanes[source].base, inPlanes[source].stride, o, os, frames);
    }
}

template <int InBytes>
void rescaleFrom(const SampleLayout& in, const Plane* inPlanes, const SampleLayout& out, const Plane* outPlanes,
                 size_t frames) {
    switch (out.fast) {
    case SampleLayout::Fast::s16: return rescaleFrames<InBytes, 2>(in, inPlanes, out, outPlanes, frames);
    case SampleLayout::Fast::s24: return rescaleFrames<InBytes, 3>(in, inPlanes, out, outPlanes, frames);
    case SampleLayout::Fast::s32: return rescaleFrames<InBytes, 4>(in, inPlanes, out, outPlanes, frames);
    default: return;
    }
}

// `frames` frames from the input planes to the output planes (their bases already at the frames).
void rescaleIntegers(const SampleLayout& in, const Plane* inPlanes, const SampleLayout& out, const Plane* outPlanes,
                     size_t frames) {
    if (in.fast == SampleLayout::Fast::s16) rescaleFrom<2>(in, inPlanes, out, outPlanes, frames);
    if (in.fast == SampleLayout::Fast::s24) rescaleFrom<3>(in, inPlanes, out, outPlanes, frames);
}

// The most frames one soxr call may hand out beyond the steady ratio (it works in blocks).
constexpr size_t kResamplerBurst = 8192;
// Held output reserved up front, at most (per channel, before doubling).
constexpr size_t kPendingFramesAtMost = 65536;

}  // namespace

class PCMConverterCore {
public:
    virtual ~PCMConverterCore() = default;
    virtual size_t convert(const AudioBufferList* in, size_t frames, AudioBufferList* out, size_t outCapacity) = 0;
    virtual size_t pull(AudioBufferList* out, size_t outFrames, PCMConverter::InputBlock& input) = 0;
    virtual size_t flush(AudioBufferList* out, size_t outCapacity) = 0;
    virtual void reset() = 0;
    virtual size_t maximumOutputFrames(size_t inputFrames) const = 0;
    virtual bool resamples() const = 0;
    virtual bool convertsInIntegers() const = 0;
    virtual void prepareForRender() = 0;
};

namespace {

// The work happens in planar samples of T: float where that keeps every bit, double for 32-bit
// integers and 64-bit floats.
template <class T>
class Core final : public PCMConverterCore {
public:
    Core(const SampleLayout& in, const SampleLayout& out, double inRate, double outRate, size_t maxFrames)
        : in_(in), out_(out), maxFrames_(std::max<size_t>(maxFrames, 1)), core_(std::min(in.channels, out.channels)),
          ratio_(outRate / inRate), inRate_(inRate), outRate_(outRate), inPlanes_(in.channels), outPlanes_(out.channels),
          shiftedIn_(in.channels), shiftedOut_(out.channels) {
        if (inRate != outRate) {
            soxr_error_t error = nullptr;
            const soxr_datatype_t type = std::is_same_v<T, float> ? SOXR_FLOAT32_S : SOXR_FLOAT64_S;
            const soxr_io_spec_t io = soxr_io_spec(type, type);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
            soxr_ = soxr_create(inRate, outRate, core_, &error, &io, &quality, &runtime);
            if (error || !soxr_) {
                logError(std::string("Cannot create the sample-rate converter: ") + (error ? error : "unknown"));
                if (soxr_) soxr_delete(soxr_);
                soxr_ = nullptr;
                failed_ = true;
                return;
            }
            mapped_.assign(size_t(core_) * maxFrames_, T(0));
            mappedPtrs_.resize(core_);
            for (uint32_t c = 0; c < core_; ++c) mappedPtrs_[c] = mapped_.data() + size_t(c) * maxFrames_;
        }
        integers_ = inRate == outRate && integerToInteger(in, out);
        if (out.channels < in.channels && out.channels == 1) scratch_.assign(size_t(in.channels) * maxFrames_, T(0));
        // Room for what a call makes at ordinary ratios; a steep one (a file at a few hertz) grows
        // it with the frames really converted rather than reserving for a full input chunk.
        pendingCapacity_ = std::min(maximumOutputFrames(maxFrames_), std::max<size_t>(maxFrames_, kPendingFramesAtMost)) * 2 +
                           (soxr_ ? kResamplerBurst : 0);
        pending_.assign(size_t(core_) * pendingCapacity_, T(0));
        tailPtrs_.resize(core_);
        targetPtrs_.resize(core_);
    }
    ~Core() override {
        if (soxr_) soxr_delete(soxr_);
    }
    bool failed() const { return failed_; }

    bool resamples() const override { return soxr_ != nullptr; }
    bool convertsInIntegers() const override { return integers_; }

    size_t maximumOutputFrames(size_t inputFrames) const override {
        if (!soxr_ && ratio_ == 1.0) return inputFrames;
        return size_t(std::ceil(double(inputFrames) * ratio_)) + 1;
    }

    size_t convert(const AudioBufferList* in, size_t frames, AudioBufferList* out, size_t outCapacity) override {
        size_t inAvailable = planesOf(in_, in, inPlanes_.data());
        size_t outAvailable = planesOf(out_, out, outPlanes_.data());
        frames = std::min(frames, inAvailable);
        outCapacity = std::min(outCapacity, outAvailable);
        size_t produced = drainTo(0, outCapacity);
        size_t direct = 0;
        if (integers_ && read_ == write_) {
            // Nothing held: what fits goes straight across; only the rest is held.
            direct = std::min(frames, outCapacity - produced);
            rescaleAt(0, produced, direct);
            produced += direct;
        }
        for (size_t done = direct; done < frames;) {
            const size_t chunk = std::min(frames - done, maxFrames_);
            ingest(done, chunk);
            done += chunk;
            produced += drainTo(produced, outCapacity - produced);
        }
        if (soxr_ && produced < outCapacity) {
            takeFromResampler(false);
            produced += drainTo(produced, outCapacity - produced);
        }
        return produced;
    }

    size_t pull(AudioBufferList* out, size_t outFrames, PCMConverter::InputBlock& input) override {
        outFrames = std::min(outFrames, planesOf(out_, out, outPlanes_.data()));
        size_t produced = drainTo(0, outFrames);
        while (produced < outFrames) {
            if (soxr_) {
                takeFromResampler(false);
                produced += drainTo(produced, outFrames - produced);
                if (produced == outFrames) break;
            }
            const size_t missing = outFrames - produced;
            size_t want = soxr_ ? size_t(std::ceil(double(missing) / ratio_)) : missing;
            want = std::clamp<size_t>(want, 1, maxFrames_);
            const AudioBufferList* data = nullptr;
            size_t got = input(want, data);
            if (got == 0 || !data) break;
            got = std::min({got, want, planesOf(in_, data, inPlanes_.data())});
            if (got == 0) break;
            if (integers_ && read_ == write_) {
                rescaleAt(0, produced, got);  // got <= missing: nothing to hold
                produced += got;
                continue;
            }
            ingest(0, got);
            produced += drainTo(produced, outFrames - produced);
        }
        return produced;
    }

    size_t flush(AudioBufferList* out, size_t outCapacity) override {
        outCapacity = std::min(outCapacity, planesOf(out_, out, outPlanes_.data()));
        size_t produced = drainTo(0, outCapacity);
        while (produced < outCapacity && soxr_ && !drained_) {
            if (takeFromResampler(true) == 0) drained_ = true;
            produced += drainTo(produced, outCapacity - produced);
        }
        return produced;
    }

    void reset() override {
        read_ = write_ = 0;
        drained_ = false;
        silenceAhead_ = 0;
        if (soxr_) soxr_clear(soxr_);
    }

    // The resampler grows its internal queues (realloc) the first times it sees larger amounts,
    // which must not happen on the render thread. Silence of a whole number of rate periods, in
    // calls as large as any later one, grows them now; the output it gives is dropped, so the
    // stream that follows keeps its phase and its length.
    void prepareForRender() override {
        if (!soxr_ || write_ != 0 || inRate_ != std::floor(inRate_) || outRate_ != std::floor(outRate_)) return;
        const auto inRate = uint64_t(inRate_);
        const auto outRate = uint64_t(outRate_);
        const uint64_t divisor = std::gcd(inRate, outRate);
        const uint64_t period = inRate / divisor;  // input frames that give a whole number of output frames
        const uint64_t frames = std::max<uint64_t>(4 * maxFrames_ + kResamplerBurst, 1);
        if (period > frames) return;
        const uint64_t input = (frames / period + 1) * period;
        silenceAhead_ = size_t(input / period * (outRate / divisor));
        std::fill(mapped_.begin(), mapped_.end(), T(0));
        for (uint64_t done = 0; done < input;) {
            const size_t chunk = size_t(std::min<uint64_t>(input - done, maxFrames_));
            for (uint32_t c = 0; c < core_; ++c) tailPtrs_[c] = pendingChannel(c);
            size_t made = 0;
            soxr_process(soxr_, reinterpret_cast<soxr_in_t>(mappedPtrs_.data()), chunk, nullptr,
                         reinterpret_cast<soxr_out_t>(tailPtrs_.data()), pendingCapacity_, &made);
            silenceAhead_ -= std::min(silenceAhead_, made);
            done += chunk;
        }
    }

private:
    // Integer input frames from `inAt` straight to the output at `outAt`.
    void rescaleAt(size_t inAt, size_t outAt, size_t frames) {
        if (frames == 0) return;
        for (uint32_t c = 0; c < in_.channels; ++c) {
            shiftedIn_[c] = inPlanes_[c];
            shiftedIn_[c].base += inAt * inPlanes_[c].stride;
        }
        for (uint32_t c = 0; c < out_.channels; ++c) {
            shiftedOut_[c] = outPlanes_[c];
            shiftedOut_[c].base += outAt * outPlanes_[c].stride;
        }
        rescaleIntegers(in_, shiftedIn_.data(), out_, shiftedOut_.data(), frames);
    }

    T* pendingChannel(uint32_t c) { return pending_.data() + size_t(c) * pendingCapacity_; }

    // Makes room for n frames after the held output; grows only when a caller leaves output unread.
    void reserveTail(size_t n) {
        if (pendingCapacity_ - write_ >= n) return;
        const size_t held = write_ - read_;
        if (read_ > 0) {
            for (uint32_t c = 0; c < core_; ++c) std::memmove(pendingChannel(c), pendingChannel(c) + read_, held * sizeof(T));
            read_ = 0;
            write_ = held;
        }
        if (pendingCapacity_ - write_ >= n) return;
        const size_t capacity = std::max(held + n, pendingCapacity_ * 2);
        std::vector<T> grown(size_t(core_) * capacity, T(0));
        for (uint32_t c = 0; c < core_; ++c)
            std::memcpy(grown.data() + size_t(c) * capacity, pendingChannel(c), held * sizeof(T));
        pending_.swap(grown);
        pendingCapacity_ = capacity;
    }

    // Reads `frames` (at most maxFrames_) input frames from the input planes starting at `offset`,
    // maps channels and resamples into the held output.
    void ingest(size_t offset, size_t frames) {
        T** targets = targetPtrs_.data();
        if (soxr_) {
            for (uint32_t c = 0; c < core_; ++c) targets[c] = mappedPtrs_[c];
        } else {
            reserveTail(frames);
            for (uint32_t c = 0; c < core_; ++c) targets[c] = pendingChannel(c) + write_;
        }
        auto plane = [&](uint32_t c) {
            Plane p = inPlanes_[c];
            p.base += offset * p.stride;
            return p;
        };
        if (out_.channels == 1 && in_.channels > 1) {
            for (uint32_t c = 0; c < in_.channels; ++c) unpack(in_, plane(c), frames, scratch_.data() + size_t(c) * maxFrames_);
            const T scale = T(1) / T(in_.channels);
            for (size_t i = 0; i < frames; ++i) {
                T sum = 0;
                for (uint32_t c = 0; c < in_.channels; ++c) sum += scratch_[size_t(c) * maxFrames_ + i];
                targets[0][i] = sum * scale;
            }
        } else {
            for (uint32_t c = 0; c < core_; ++c) unpack(in_, plane(c), frames, targets[c]);
        }
        if (!soxr_) {
            write_ += frames;
            return;
        }
        reserveTail(maximumOutputFrames(frames) + kResamplerBurst / 2);
        for (uint32_t c = 0; c < core_; ++c) tailPtrs_[c] = pendingChannel(c) + write_;
        size_t done = 0;
        soxr_process(soxr_, reinterpret_cast<soxr_in_t>(mappedPtrs_.data()), frames, nullptr,
                     reinterpret_cast<soxr_out_t>(tailPtrs_.data()), pendingCapacity_ - write_, &done);
        write_ += keepAfterSilence(done);
    }

    // Of `made` frames just written at write_, drops those that still belong to the silence of
    // prepareForRender; returns the frames kept.
    size_t keepAfterSilence(size_t made) {
        const size_t dropped = std::min(silenceAhead_, made);
        if (dropped == 0) return made;
        silenceAhead_ -= dropped;
        for (uint32_t c = 0; c < core_; ++c)
            std::memmove(pendingChannel(c) + write_, pendingChannel(c) + write_ + dropped, (made - dropped) * sizeof(T));
        return made - dropped;
    }

    // Moves what the resampler holds into the held output; at the end of the stream its tail too.
    size_t takeFromResampler(bool endOfInput) {
        reserveTail(kResamplerBurst / 2);
        for (uint32_t c = 0; c < core_; ++c) tailPtrs_[c] = pendingChannel(c) + write_;
        size_t done = 0;
        // A null input tells soxr the stream has ended; an empty non-null one only drains.
        soxr_process(soxr_, endOfInput ? nullptr : reinterpret_cast<soxr_in_t>(mappedPtrs_.data()), 0, nullptr,
                     reinterpret_cast<soxr_out_t>(tailPtrs_.data()), pendingCapacity_ - write_, &done);
        const size_t kept = keepAfterSilence(done);
        write_ += kept;
        return endOfInput ? done : kept;
    }

    // Packs up to `count` held frames into the output planes at frame `at`; returns frames packed.
    size_t drainTo(size_t at, size_t count) {
        const size_t n = std::min(count, write_ - read_);
        if (n == 0) return 0;
        for (uint32_t c = 0; c < out_.channels; ++c) {
            const T* src = c < core_ ? pendingChannel(c) + read_ : (core_ == 1 ? pendingChannel(0) + read_ : nullptr);
            Plane p = outPlanes_[c];
            p.base += at * p.stride;
            pack(out_, src, n, p);
        }
        read_ += n;
        if (read_ == write_) read_ = write_ = 0;
        return n;
    }

    SampleLayout in_, out_;
    size_t maxFrames_;
    uint32_t core_;  // channels carried between the two channel maps
    double ratio_;
    double inRate_, outRate_;
    size_t silenceAhead_ = 0;  // output frames of prepareForRender's silence still to drop
    soxr_t soxr_ = nullptr;
    bool failed_ = false;
    bool drained_ = false;
    std::vector<Plane> inPlanes_, outPlanes_;
    std::vector<Plane> shiftedIn_, shiftedOut_;
    bool integers_ = false;  // integer to integer at one rate: no floats in between
    std::vector<T> scratch_;  // all input channels, for averaging down to mono
    std::vector<T> mapped_;   // resampler input
    std::vector<T*> mappedPtrs_;
    std::vector<T*> tailPtrs_;
    std::vector<T*> targetPtrs_;
    std::vector<T> pending_;  // converted output not yet handed out, one run per channel
    size_t pendingCapacity_ = 0;
    size_t read_ = 0, write_ = 0;
};

// Single precision holds every bit of samples up to 24 bits; wider ones take double.
bool needsDouble(const SampleLayout& l) { return l.bits > 24; }

}  // namespace

PCMConverter::PCMConverter(const AudioStreamBasicDescription& input, const AudioStreamBasicDescription& output,
                           size_t maximumFrameCount)
    : input_(input), output_(output) {
    const auto in = layoutOf(input);
    const auto out = layoutOf(output);
    if (!in || !out) {
        logError("Cannot convert between these formats: only linear PCM is supported");
        return;
    }
    const bool wide = needsDouble(*in) && needsDouble(*out);
    if (wide) {
        auto core = std::make_unique<Core<double>>(*in, *out, input.mSampleRate, output.mSampleRate, maximumFrameCount);
        if (!core->failed()) core_ = std::move(core);
    } else {
        auto core = std::make_unique<Core<float>>(*in, *out, input.mSampleRate, output.mSampleRate, maximumFrameCount);
        if (!core->failed()) core_ = std::move(core);
    }
}

PCMConverter::PCMConverter(const AVAudioFormat& input, const AVAudioFormat& output, size_t maximumFrameCount)
    : PCMConverter(input.streamDescription(), output.streamDescription(), maximumFrameCount) {}

PCMConverter::~PCMConverter() = default;

bool PCMConverter::resamples() const { return core_ && core_->resamples(); }

bool PCMConverter::convertsInIntegers() const { return core_ && core_->convertsInIntegers(); }

size_t PCMConverter::maximumOutputFrames(size_t inputFrames) const {
    return core_ ? core_->maximumOutputFrames(inputFrames) : 0;
}

size_t PCMConverter::convert(const AudioBufferList* in, size_t frames, AudioBufferList* out, size_t outCapacity) {
    return core_ ? core_->convert(in, frames, out, outCapacity) : 0;
}

size_t PCMConverter::convert(AudioBufferList* out, size_t outFrames, InputBlock input) {
    return core_ ? core_->pull(out, outFrames, input) : 0;
}

size_t PCMConverter::flush(AudioBufferList* out, size_t outCapacity) {
    return core_ ? core_->flush(out, outCapacity) : 0;
}

void PCMConverter::prepareForRender() {
    if (core_) core_->prepareForRender();
}

void PCMConverter::reset() {
    if (core_) core_->reset();
}

size_t PCMConverter::convert(const AVAudioPCMBuffer& in, AVAudioPCMBuffer& out) {
    if (AVAudioFormat(input_) != in.format() || AVAudioFormat(output_) != out.format()) {
        logError("The buffers' formats differ from the converter's");
        out.setFrameLength(0);
        return 0;
    }
    const size_t n = convert(in.audioBufferList(), in.frameLength(), out.mutableAudioBufferList(), out.frameCapacity());
    out.setFrameLength(AVAudioFrameCount(n));
    return n;
}

size_t PCMConverter::flush(AVAudioPCMBuffer& out) {
    if (AVAudioFormat(output_) != out.format()) {
        logError("The buffer's format differs from the converter's");
        out.setFrameLength(0);
        return 0;
    }
    const size_t n = flush(out.mutableAudioBufferList(), out.frameCapacity());
    out.setFrameLength(AVAudioFrameCount(n));
    return n;
}

}  // namespace platform::detail
