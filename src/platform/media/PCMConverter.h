// A streaming converter between two linear PCM formats: sample type, channel count and sample rate.
// It serves the mixer inputs, the output node, the players and the file conversions alike.
//
// Sample types: signed 8/16/24/32-bit, unsigned 8-bit and float 32/64, either byte order, packed or
// aligned in a wider container, interleaved or not. Integers map to floats by 2^(bits-1); floats map
// back rounding half to even and clipping. Channels: 1 -> N duplicates at unity, N -> 1 averages,
// N -> M < N keeps the first M, N -> M > N (N > 1) adds silent channels. Rates go through libsoxr
// (high quality), with output frame 0 aligned to input frame 0.
//
// Nothing is allocated per call once constructed, as long as each call passes at most
// maximumFrameCount input frames and leaves room for the output they make.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <cstddef>
#include <memory>
#include <type_traits>

namespace platform::detail {

class PCMConverterCore;

// A non-owning reference to a callable, cheap to pass on the render thread.
template <class Signature>
class FunctionRef;
template <class R, class... Args>
class FunctionRef<R(Args...)> {
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
    FunctionRef(F&& f) noexcept  // NOLINT: converting on purpose
        : object_(const_cast<void*>(static_cast<const void*>(&f))),
          call_([](void* o, Args... args) -> R { return (*static_cast<std::remove_reference_t<F>*>(o))(args...); }) {}
    R operator()(Args... args) const { return call_(object_, args...); }

private:
    void* object_;
    R (*call_)(void*, Args...);
};

class PCMConverter {
public:
    // Supplies up to `frames` input frames: sets `data` to a list in the input format and returns the
    // frames it holds; 0 when no input is available now.
    using InputBlock = FunctionRef<size_t(size_t frames, const AudioBufferList*& data)>;

    // Any two linear PCM descriptions. isValid() is false when either is not usable PCM.
    PCMConverter(const AudioStreamBasicDescription& input, const AudioStreamBasicDescription& output,
                 size_t maximumFrameCount = 4096);
    PCMConverter(const AVAudioFormat& input, const AVAudioFormat& output, size_t maximumFrameCount = 4096);
    ~PCMConverter();
    PCMConverter(const PCMConverter&) = delete;
    PCMConverter& operator=(const PCMConverter&) = delete;

    bool isValid() const { return core_ != nullptr; }
    const AudioStreamBasicDescription& inputFormat() const { return input_; }
    const AudioStreamBasicDescription& outputFormat() const { return output_; }
    bool resamples() const;
    // Integer samples (16 or 24 bits in) to integer samples at the same rate: converted without
    // floats, with the same results as through them.
    bool convertsInIntegers() const;

    // The most output frames that `inputFrames` more input frames can make (for sizing buffers).
    size_t maximumOutputFrames(size_t inputFrames) const;

    // Push: takes all `frames` input frames and writes up to `outCapacity` frames from frame 0 of
    // `out`; output that does not fit is kept for the next call or flush. Returns frames written.
    // Frames beyond what a list's byte sizes hold are not read or written.
    size_t convert(const AudioBufferList* in, size_t frames, AudioBufferList* out, size_t outCapacity);

    // Pull: fills `out` with up to `outFrames` frames, asking `input` for frames as needed. Returns
    // fewer only when the input has nothing more to give now.
    size_t convert(AudioBufferList* out, size_t outFrames, InputBlock input);

    // End of stream: writes what is still held (the resampler's tail included). Call until it
    // returns 0; then reset() before converting another stream.
    size_t flush(AudioBufferList* out, size_t outCapacity);

    // Forgets all held state, ready for a new stream in the same formats. It rebuilds the resampler,
    // so call it off the render thread.
    void reset();

    // Before the first conversion of a stream the render thread will convert: grows the
    // resampler's internal buffers now, so that converting allocates nothing later. The output
    // stays the same stream, with the same length.
    void prepareForRender();

    // Buffer forms: `out` receives frames from 0 and its frameLength is set to the frames written.
    size_t convert(const AVAudioPCMBuffer& in, AVAudioPCMBuffer& out);
    size_t flush(AVAudioPCMBuffer& out);

private:
    AudioStreamBasicDescription input_;
    AudioStreamBasicDescription output_;
    std::unique_ptr<PCMConverterCore> core_;
};

}  // namespace platform::detail
