#include "platform/audiotoolbox/AVAudioUnitVarispeed.h"

#include "platform/audiotoolbox/AudioUnit.h"
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
        inputRead_ = inputFrames_ = 0;
        appliedRate_ = 0;
        owed_ = 0;
        supplied_ = 0;
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

    AUAudioUnitStatus renderCycle(const AudioTimeStamp* timestamp, AUAudioFrameCount frames, AudioBufferList* output,
                                  const AURenderPullInputBlock& pull) override {
        if (takeResetRequest()) {
            soxr_clear(resampler_);
            inputRead_ = inputFrames_ = 0;
            appliedRate_ = 0;
            owed_ = 0;
            supplied_ = 0;
        }
        // The ratio is set once per cycle; the resampler glides to it over 20 ms (it jumps there
        // before the first cycle).
        const float target = rate.load(std::memory_order_relaxed);
        if (target != appliedRate_) {
            soxr_set_io_ratio(resampler_, target, appliedRate_ == 0 ? 0 : glideFrames_);
            appliedRate_ = target;
        }

        const uint32_t channels = input_.channels();
        const uint32_t outputs = std::min(channels, output->mNumberBuffers);
        // The resampler takes all the input it is given, so it is given what this cycle's output
        // needs at the rate, and more only when it comes up short.
        owed_ += double(frames) * target;
        size_t produced = 0;
        int rounds = 0;
        while (produced < frames && rounds++ < kMaximumRounds) {
            if (inputRead_ == inputFrames_) {
                const double due = std::ceil(owed_) - double(supplied_);
                // Short of output after its share: what the rest of the cycle needs, in one piece
                // rather than frame by frame (the balance is kept in supplied_).
                const double shortfall = rounds > 1 ? std::max(16.0, std::ceil(double(frames - produced) * target)) : 0;
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
                outputAt_[c] = (c < outputs ? static_cast<float*>(output->mBuffers[c].mData) : spare_[c]) + produced;
            }
            size_t consumed = 0, made = 0;
            soxr_process(resampler_, inputAt_.data(), inputFrames_ - inputRead_, &consumed, outputAt_.data(),
                         frames - produced, &made);
            inputRead_ += consumed;
            produced += made;
        }
        for (uint32_t c = 0; c < outputs; ++c) {
            float* out = static_cast<float*>(output->mBuffers[c].mData);
            std::fill(out + produced, out + frames, 0.0f);
        }
        return noErr;
    }

    soxr_t resampler_ = nullptr;
    AUAudioFrameCount chunk_ = 0;
    size_t glideFrames_ = 0;
    detail::ChannelBuffers input_;
    detail::ChannelBuffers spare_;  // where channels go that the output list lacks
    std::vector<const float*> inputAt_;
    std::vector<float*> outputAt_;
    size_t inputRead_ = 0;
    size_t inputFrames_ = 0;
    double owed_ = 0;      // input frames the output so far stands for, at the rates asked
    uint64_t supplied_ = 0;  // input frames pulled
    float appliedRate_ = 0;
};

VarispeedUnit& varispeedUnit(const AVAudioUnit& node) { return static_cast<VarispeedUnit&>(*node.auAudioUnit()); }

}  // namespace

AVAudioUnitVarispeed::AVAudioUnitVarispeed()
    : AVAudioUnitTimeEffect(detail::effectDescription(kAudioUnitSubType_SonoraVarispeed)) {}

float AVAudioUnitVarispeed::rate() const { return varispeedUnit(*this).rate.load(); }
void AVAudioUnitVarispeed::setRate(float rate) {
    detail::storeClamped(varispeedUnit(*this).rate, rate, kMinimumRate, kMaximumRate);
}

void registerVarispeedUnit() {
    detail::StreamingEffectUnit::registerEffect<VarispeedUnit>(kAudioUnitSubType_SonoraVarispeed, "Varispeed");
}

}  // namespace platform
