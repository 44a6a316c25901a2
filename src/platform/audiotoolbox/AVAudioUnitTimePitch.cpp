#include "platform/audiotoolbox/AVAudioUnitTimePitch.h"

#include "platform/audiotoolbox/EffectAudioUnit.h"
#include "platform/audiotoolbox/TimeEffectSupport.h"
#include "platform/avfaudio/detail/RenderContext.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

namespace platform {

namespace {

using RubberBand::RubberBandStretcher;

constexpr float kMinimumRate = 1.0f / 32.0f;
constexpr float kMaximumRate = 32.0f;
constexpr float kPitchRange = 2400.0f;
// A cycle that needs more rounds than this with the stretcher gives up and fills with silence.
constexpr int kMaximumRounds = 4096;
// Silence through the stretcher at a warm-up setting: enough for several analysis windows.
constexpr size_t kWarmUpFrames = 8192;
constexpr size_t kWarmUpBlock = 256;

// The stretcher's messages would be written to the standard error stream, from the render thread.
struct SilentLogger final : RubberBandStretcher::Logger {
    void log(const char*) override {}
    void log(const char*, double) override {}
    void log(const char*, double, double) override {}
};

class TimePitchUnit final : public detail::StreamingEffectUnit {
public:
    explicit TimePitchUnit(const AudioComponentDescription& description) : StreamingEffectUnit(description) {
        audioUnitName = "TimePitch";
    }

    std::atomic<float> rate{1.0f};
    std::atomic<float> pitch{0.0f};
    std::atomic<float> overlap{8.0f};

    bool allocateRenderResources(NSError* outError) override {
        if (!AUAudioUnit::allocateRenderResources(outError)) return false;
        const auto& format = outputBusses()[0]->format();
        const uint32_t channels = format.channelCount();
        chunk_ = maximumFramesToRender();
        stretcher_ = std::make_unique<RubberBandStretcher>(
            size_t(format.sampleRate()), channels, std::make_shared<SilentLogger>(),
            // Smooth transients keep steady tones at their pitch and level (crisp ones beat); the
            // short window keeps onsets from smearing ahead of their time.
            RubberBandStretcher::OptionProcessRealTime | RubberBandStretcher::OptionThreadingNever |
                RubberBandStretcher::OptionTransientsSmooth | RubberBandStretcher::OptionWindowShort,
            1.0, 1.0);
        // The stretcher takes at most chunk_ frames per process() call: the pulls of one cycle are
        // each at most that, however many a cycle makes.
        stretcher_->setMaxProcessSize(chunk_);
        input_ = detail::ChannelBuffers(channels, chunk_);
        silence_ = detail::ChannelBuffers(channels, chunk_);
        // Room for a cycle plus what one retrieval adds beyond it.
        fifo_ = detail::ChannelBuffers(channels, 2 * size_t(chunk_) + 8192);
        tail_.assign(channels, nullptr);
        warmUp();
        fifoFrames_ = 0;
        restart_ = true;
        return true;
    }

    void deallocateRenderResources() override {
        AUAudioUnit::deallocateRenderResources();
        stretcher_.reset();
    }

    // What the stretcher held from before the bypass is stale when it ends.
    void setShouldBypassEffect(bool bypass) override {
        AUAudioUnit::setShouldBypassEffect(bypass);
        if (!bypass) requestReset();
    }


private:
    AUAudioUnitStatus renderCycle(const AudioTimeStamp* timestamp, AUAudioFrameCount frames, AudioBufferList* output,
                                  const AURenderPullInputBlock& pull) override {
        // The targets are taken once, at the start of the cycle.
        const float r = rate.load(std::memory_order_relaxed);
        const float p = pitch.load(std::memory_order_relaxed);
        if (r == 1.0f && p == 0.0f) {
            // Nothing to change: the input as it came, and a fresh start when stretching resumes.
            restart_ = true;
            AudioUnitRenderActionFlags flags = 0;
            const AUAudioUnitStatus status = pull ? pull(&flags, timestamp, frames, 0, output) : kAudioUnitErr_NoConnection;
            if (!pull) detail::zeroFill(*output, 0, frames);
            return status == kAudioUnitErr_NoConnection ? noErr : status;
        }
        if (takeResetRequest()) restart_ = true;
        const double timeRatio = 1.0 / r;
        const double pitchScale = std::exp2(p / 1200.0);
        if (restart_) start(timeRatio, pitchScale);
        else setRatios(timeRatio, pitchScale);

        const uint32_t channels = input_.channels();
        int rounds = 0;
        while (fifoFrames_ < frames && rounds++ < kMaximumRounds) {
            const int available = stretcher_->available();
            if (available > 0) {
                for (uint32_t c = 0; c < channels; ++c) tail_[c] = fifo_[c] + fifoFrames_;
                const size_t space = fifo_.capacity() - fifoFrames_;
                if (dropFrames_ > 0) {
                    // The start delay: retrieved into the free space and forgotten.
                    const size_t dropped =
                        stretcher_->retrieve(tail_.data(), std::min({size_t(available), dropFrames_, space}));
                    dropFrames_ -= std::min(dropFrames_, dropped);
                } else {
                    fifoFrames_ += stretcher_->retrieve(tail_.data(), std::min(size_t(available), space));
                }
                continue;
            }
            const size_t wanted = std::clamp<size_t>(stretcher_->getSamplesRequired(), 1, chunk_);
            const AUAudioUnitStatus status = input_.pull(pull, timestamp, wanted);
            if (status != noErr) return status;
            stretcher_->process(input_.data(), wanted, false);
        }

        const size_t taken = std::min<size_t>(frames, fifoFrames_);
        for (uint32_t c = 0; c < std::min(channels, output->mNumberBuffers); ++c) {
            float* out = static_cast<float*>(output->mBuffers[c].mData);
            std::copy_n(fifo_[c], taken, out);
            std::fill(out + taken, out + frames, 0.0f);
            std::copy(fifo_[c] + taken, fifo_[c] + fifoFrames_, fifo_[c]);
        }
        fifoFrames_ -= taken;
        return noErr;
    }

    // Silence through the stretcher at each warm-up setting, its output thrown away, then back to
    // the unit's ratios (the render starts afresh).
    // The stretcher sizes its buffers for the largest ratios it has met, and its resampler makes
    // a filter, in one of two states that grow to the largest filter they have held, for each new
    // pitch. Taken once here, where allocating is allowed, to the corners of the ranges, with
    // silence through it at the fastest rate (little output for its input) and the pitch at each
    // end twice, it has them all as large as they will need to be.
    void warmUp() {
        for (const float p : {-kPitchRange, kPitchRange}) setRatios(1.0 / kMinimumRate, std::exp2(p / 1200.0));
        for (const float p : {-kPitchRange, kPitchRange, -kPitchRange, kPitchRange, 0.0f}) {
            setRatios(1.0 / kMaximumRate, std::exp2(p / 1200.0));
            // In the same blocks whatever the cycle size: the stretcher keeps something of them
            // through reset(), and offline and real-time renders must come out the same.
            const size_t block = std::min<size_t>(chunk_, kWarmUpBlock);
            for (size_t fed = 0; fed < kWarmUpFrames; fed += block) {
                stretcher_->process(silence_.data(), block, false);
                for (int available; (available = stretcher_->available()) > 0;)
                    stretcher_->retrieve(fifo_.data(), std::min<size_t>(size_t(available), fifo_.capacity()));
            }
        }
        stretcher_->reset();
        setRatios(1.0 / rate.load(), std::exp2(pitch.load() / 1200.0));
    }

    // The ratios, and the pitch method to go with the pitch: at pitch 1 the stretcher does not
    // resample at all; any other pitch takes the method that changes pitch on one resampler path
    // (the others switch paths, and filters, as the pitch moves). The method is set before the
    // pitch leaves 1 and after it gets there.
    void setRatios(double timeRatio, double pitchScale) {
        if (timeRatio != stretcher_->getTimeRatio()) stretcher_->setTimeRatio(timeRatio);
        if (pitchScale == stretcher_->getPitchScale()) return;
        if (pitchScale != 1.0) stretcher_->setPitchOption(RubberBandStretcher::OptionPitchHighConsistency);
        stretcher_->setPitchScale(pitchScale);
        if (pitchScale == 1.0) stretcher_->setPitchOption(RubberBandStretcher::OptionPitchHighSpeed);
    }

    // Fresh stretcher state at the given ratios, with its start padded with silence so that the
    // output, once the start delay is dropped, lines up with the input.
    void start(double timeRatio, double pitchScale) {
        stretcher_->reset();
        setRatios(timeRatio, pitchScale);
        for (size_t pad = stretcher_->getPreferredStartPad(); pad > 0;) {
            const size_t n = std::min<size_t>(pad, chunk_);
            stretcher_->process(silence_.data(), n, false);
            pad -= n;
        }
        dropFrames_ = stretcher_->getStartDelay();
        fifoFrames_ = 0;
        restart_ = false;
    }

    // Render state, made when render resources are allocated.
    std::unique_ptr<RubberBandStretcher> stretcher_;
    AUAudioFrameCount chunk_ = 0;
    detail::ChannelBuffers input_;
    detail::ChannelBuffers silence_;
    detail::ChannelBuffers fifo_;
    std::vector<float*> tail_;
    size_t fifoFrames_ = 0;
    size_t dropFrames_ = 0;
    bool restart_ = true;
};

constexpr detail::UnitProperty<TimePitchUnit> kRate{&TimePitchUnit::rate, kMinimumRate, kMaximumRate};
constexpr detail::UnitProperty<TimePitchUnit> kPitch{&TimePitchUnit::pitch, -kPitchRange, kPitchRange};
constexpr detail::UnitProperty<TimePitchUnit> kOverlap{&TimePitchUnit::overlap, 3.0f, 32.0f};

}  // namespace

AVAudioUnitTimePitch::AVAudioUnitTimePitch()
    : AVAudioUnitTimeEffect(detail::effectDescription(kAudioUnitSubType_SonoraTimePitch)) {}

float AVAudioUnitTimePitch::rate() const { return kRate.get(*this); }
void AVAudioUnitTimePitch::setRate(float rate) { kRate.set(*this, rate); }
float AVAudioUnitTimePitch::pitch() const { return kPitch.get(*this); }
void AVAudioUnitTimePitch::setPitch(float pitch) { kPitch.set(*this, pitch); }
float AVAudioUnitTimePitch::overlap() const { return kOverlap.get(*this); }
void AVAudioUnitTimePitch::setOverlap(float overlap) { kOverlap.set(*this, overlap); }

void registerTimePitchUnit() {
    registerEffectUnit<TimePitchUnit>(kAudioUnitSubType_SonoraTimePitch, "TimePitch", detail::effectDescription(kAudioUnitSubType_SonoraTimePitch));
}

}  // namespace platform
