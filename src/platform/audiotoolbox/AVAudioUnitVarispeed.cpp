#include "platform/audiotoolbox/AVAudioUnitVarispeed.h"

#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/audiotoolbox/EffectAudioUnit.h"
#include "platform/audiotoolbox/TimeEffectSupport.h"
#include "platform/avfaudio/detail/RenderContext.h"

#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace platform {

namespace {

constexpr float kMinimumRate = 0.25f;
constexpr float kMaximumRate = 4.0f;
constexpr double kGlideSeconds = 0.02;
constexpr int kMaximumRounds = 4096;
// Silence that clears a settled resampler's memory (its filter is far shorter).
constexpr size_t kFlushFrames = 8192;
constexpr size_t kSettleGlideFrames = 1024;
constexpr size_t kWarmUpPiece = 8192;
constexpr size_t kSettlePiece = 256;

class VarispeedUnit final : public detail::StreamingEffectUnit {
public:
    explicit VarispeedUnit(const AudioComponentDescription& description) : StreamingEffectUnit(description) {
        audioUnitName = "Varispeed";
    }
    ~VarispeedUnit() override { release(); }

    std::atomic<float> rate{1.0f};

    bool allocateRenderResources(NSError* outError) override {
        if (!AUAudioUnit::allocateRenderResources(outError)) return false;
        release();
        const auto& format = outputBusses()[0]->format();
        const uint32_t channels = format.channelCount();
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_VR);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        // A variable-rate resampler is made for the largest input/output ratio it will see.
        resampler_ = soxr_create(kMaximumRate, 1.0, channels, &error, &io, &quality, &runtime);
        if (error || !resampler_) {
            release();
            AUAudioUnit::deallocateRenderResources();
            if (outError)
                *outError = makeOSStatusError(kAudioUnitErr_FormatNotSupported,
                                              std::string("No variable-rate resampler: ") + (error ? error : "unknown"));
            return false;
        }
        chunk_ = maximumFramesToRender();
        glideFrames_ = size_t(std::lround(kGlideSeconds * format.sampleRate()));
        input_ = detail::ChannelBuffers(channels, chunk_);
        spare_ = detail::ChannelBuffers(channels, chunk_);
        inputAt_.assign(channels, nullptr);
        outputAt_.assign(channels, nullptr);
        outputs_.assign(channels, nullptr);
        warmUp();
        return true;
    }

    void deallocateRenderResources() override {
        AUAudioUnit::deallocateRenderResources();
        release();
    }


private:
    void release() {
        if (resampler_) soxr_delete(resampler_);
        resampler_ = nullptr;
    }

    // The resampler's queues grow (realloc) to the most input and output they have held, and
    // soxr_clear() frees them and builds the resampler anew. So it is run here through pieces
    // larger than any cycle's at both ends of the rate range, and afterwards only ever flushed
    // with silence (settle()), never cleared. A settled resampler holds back holdBack_ input frames
    // more than a new one (measured here with an impulse through both); settling drops their
    // output. Everything here goes in pieces that do not depend on the cycle size (but for cycles
    // below kSettlePiece), so that offline and real-time renders start from the same state.
    void warmUp() {
        const size_t piece = std::max<size_t>(chunk_, kWarmUpPiece);
        detail::ChannelBuffers silence(input_.channels(), piece), sink(input_.channels(), piece);
        for (const float end : {kMaximumRate, kMinimumRate, kMaximumRate, 1.0f}) {
            soxr_set_io_ratio(resampler_, end, kSettleGlideFrames);
            for (int round = 0; round < 8; ++round) {
                process(silence.data(), piece, sink.data(), piece);
                while (process(silence.data(), 0, sink.data(), piece) > 0) {}
            }
        }
        // A reset settles at the rate of the moment, at either end too.
        settle(kMinimumRate);
        settle(kMaximumRate);
        settle(1.0f);
        const soxr_t settled = resampler_;
        const ptrdiff_t settledLag = impulseLag();
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_VR);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        resampler_ = soxr_create(kMaximumRate, 1.0, input_.channels(), nullptr, &io, &quality, &runtime);
        ptrdiff_t newLag = 0;
        if (resampler_) {
            soxr_set_io_ratio(resampler_, 1.0, 0);
            newLag = impulseLag();
            soxr_delete(resampler_);
        }
        resampler_ = settled;
        holdBack_ = size_t(std::max<ptrdiff_t>(settledLag - newLag, 0));
        settle(rate.load(std::memory_order_relaxed));
    }

    // Where an impulse comes out, at rate 1, fed and drained as settle() does.
    ptrdiff_t impulseLag() {
        const size_t piece = std::min<size_t>(chunk_, kSettlePiece);
        input_.clear();
        for (uint32_t c = 0; c < input_.channels(); ++c) input_[c][0] = 1.0f;
        size_t position = 0, peakAt = 0;
        float peak = 0;
        for (size_t fed = 0; fed < kFlushFrames; fed += piece) {
            for (size_t made = process(input_.data(), piece, spare_.data(), piece); made > 0;
                 made = process(input_.data(), 0, spare_.data(), piece)) {
                for (size_t i = 0; i < made; ++i)
                    if (std::abs(spare_[0][i]) > peak) peak = std::abs(spare_[0][i]), peakAt = position + i;
                position += made;
            }
            input_.clear();
        }
        return ptrdiff_t(peakAt);
    }

    // Silence through the resampler until nothing of what it held is left, its output thrown
    // away, while it glides to `target` (a jump, or a glide shorter than about 100 frames, leaves
    // the resampler filtering as for the rates before, aliasing when it slows down); the
    // next cycle starts at `target`, without what a settled resampler holds back.
    void settle(float target) {
        soxr_set_io_ratio(resampler_, target, kSettleGlideFrames);
        const size_t piece = std::min<size_t>(chunk_, kSettlePiece);
        input_.clear();
        drain(piece);
        for (size_t fed = 0; fed < kFlushFrames; fed += piece) {
            process(input_.data(), piece, spare_.data(), piece);
            drain(piece);
        }
        resetCounters();
        appliedRate_ = target;
        dropFrames_ = size_t(std::lround(double(holdBack_) / target));
        settled_ = true;
    }

    // Takes what the resampler can make without more input, `piece` frames at a time.
    void drain(size_t piece) {
        while (process(input_.data(), 0, spare_.data(), piece) > 0) {}
    }

    size_t process(float* const* in, size_t frames, float* const* out, size_t room) {
        for (uint32_t c = 0; c < input_.channels(); ++c) inputAt_[c] = in[c];
        size_t consumed = 0, made = 0;
        soxr_process(resampler_, inputAt_.data(), frames, &consumed, const_cast<float**>(out), room, &made);
        return made;
    }

    void resetCounters() {
        inputRead_ = inputFrames_ = 0;
        owed_ = 0;
        supplied_ = 0;
        dropFrames_ = 0;
    }

    AUAudioUnitStatus renderCycle(const AudioTimeStamp* timestamp, AUAudioFrameCount frames, AudioBufferList* output,
                                  const AURenderPullInputBlock& pull) override {
        // The ratio is set once per cycle; the resampler glides to it over 20 ms (a resampler
        // that has rendered nothing since it settled settles again at the new rate instead).
        const float target = rate.load(std::memory_order_relaxed);
        if (takeResetRequest() || (settled_ && target != appliedRate_)) {
            settle(target);
        } else if (target != appliedRate_) {
            soxr_set_io_ratio(resampler_, target, glideFrames_);
            appliedRate_ = target;
        }
        settled_ = false;
        while (dropFrames_ > 0) {
            const size_t dropped = std::min<size_t>(dropFrames_, chunk_);
            const AUAudioUnitStatus status = run(pull, timestamp, dropped, target, spare_.data());
            if (status != noErr) return status;
            dropFrames_ -= dropped;
        }
        const uint32_t channels = input_.channels();
        const uint32_t outputs = std::min(channels, output->mNumberBuffers);
        for (uint32_t c = 0; c < channels; ++c)
            outputs_[c] = c < outputs ? static_cast<float*>(output->mBuffers[c].mData) : spare_[c];
        return run(pull, timestamp, frames, target, outputs_.data());
    }

    // `frames` frames at `rate` into `out`, the input pulled as it falls due; what the resampler
    // does not make is silence.
    AUAudioUnitStatus run(const AURenderPullInputBlock& pull, const AudioTimeStamp* timestamp, size_t frames,
                          float rate, float* const* out) {
        const uint32_t channels = input_.channels();
        // The resampler takes all the input it is given, so it is given what this output needs
        // at the rate, and more only when it comes up short.
        owed_ += double(frames) * rate;
        size_t produced = 0;
        int rounds = 0;
        while (produced < frames && rounds++ < kMaximumRounds) {
            if (inputRead_ == inputFrames_) {
                const double due = std::ceil(owed_) - double(supplied_);
                // Short of output after its share: what the rest needs, in one piece rather than
                // frame by frame (the balance is kept in supplied_).
                const double shortfall = rounds > 1 ? std::max(16.0, std::ceil(double(frames - produced) * rate)) : 0;
                const size_t wanted = std::min<size_t>(size_t(std::max(due, shortfall)), chunk_);
                if (wanted > 0) {
                    const AUAudioUnitStatus status = input_.pull(pull, timestamp, wanted);
                    if (status != noErr) return status;
                    supplied_ += wanted;
                }
                inputRead_ = 0;
                inputFrames_ = wanted;
            }
            for (uint32_t c = 0; c < channels; ++c) {
                inputAt_[c] = input_[c] + inputRead_;
                outputAt_[c] = out[c] + produced;
            }
            size_t consumed = 0, made = 0;
            soxr_process(resampler_, inputAt_.data(), inputFrames_ - inputRead_, &consumed, outputAt_.data(),
                         frames - produced, &made);
            inputRead_ += consumed;
            produced += made;
        }
        for (uint32_t c = 0; c < channels; ++c) std::fill(out[c] + produced, out[c] + frames, 0.0f);
        return noErr;
    }

    soxr_t resampler_ = nullptr;
    AUAudioFrameCount chunk_ = 0;
    size_t glideFrames_ = 0;
    size_t holdBack_ = 0;    // input frames a settled resampler holds back beyond a new one
    size_t dropFrames_ = 0;  // output frames still to throw away after settling
    detail::ChannelBuffers input_;
    detail::ChannelBuffers spare_;  // where channels go that the output list lacks, and dropped output
    std::vector<const float*> inputAt_;
    std::vector<float*> outputAt_;
    std::vector<float*> outputs_;  // the cycle's output channels
    size_t inputRead_ = 0;
    size_t inputFrames_ = 0;
    double owed_ = 0;      // input frames the output so far stands for, at the rates asked
    uint64_t supplied_ = 0;  // input frames pulled
    float appliedRate_ = 0;
    bool settled_ = false;  // nothing rendered since settle()
};

constexpr detail::UnitProperty<VarispeedUnit> kRate{&VarispeedUnit::rate, kMinimumRate, kMaximumRate};

}  // namespace

AVAudioUnitVarispeed::AVAudioUnitVarispeed()
    : AVAudioUnitTimeEffect(detail::effectDescription(kAudioUnitSubType_SonoraVarispeed)) {}

float AVAudioUnitVarispeed::rate() const { return kRate.get(*this); }
void AVAudioUnitVarispeed::setRate(float rate) { kRate.set(*this, rate); }

void registerVarispeedUnit() {
    registerEffectUnit<VarispeedUnit>(kAudioUnitSubType_SonoraVarispeed, "Varispeed", detail::effectDescription(kAudioUnitSubType_SonoraVarispeed));
}

}  // namespace platform
