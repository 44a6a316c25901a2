#include "Sonora/Nodes/Generators/PlaygroundOscillator.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioSourceNode.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace sonora {

namespace {
// One cycle in radians, as the oscillator has always spelled it (a hair below the float nearest 2π).
constexpr float kTwoPi = 6.2831850f;
}  // namespace

// What the render block reads and writes; shared with the block so that it outlives neither.
struct PlaygroundOscillator::RenderState {
    std::vector<float> samples;
    std::atomic<float> frequency{440};
    std::atomic<float> amplitude{1};
    std::atomic<float> phase{0};
    const platform::AUAudioUnit* unit = nullptr;

    platform::OSStatus render(platform::AVAudioFrameCount frames, platform::AudioBufferList* output) {
        if (!output) return platform::noErr;
        // Bypassed: the buffers stay as they were handed over.
        if (unit && unit->shouldBypassEffect()) return platform::noErr;

        const float rate = float(Settings::sampleRate());
        const float amp = amplitude.load(std::memory_order_relaxed);
        float increment = (kTwoPi / rate) * frequency.load(std::memory_order_relaxed);
        const int64_t count = int64_t(samples.size());
        if (count == 0 || !std::isfinite(increment) || !std::isfinite(amp)) {
            for (uint32_t b = 0; b < output->mNumberBuffers; ++b) writeSilence(output->mBuffers[b], frames);
            return platform::noErr;
        }
        // A cycle or more per frame: only the part of a cycle moves the phase, so one wrap suffices.
        if (std::fabs(increment) >= kTwoPi) increment = std::fmod(increment, kTwoPi);

        float* first = nullptr;
        platform::AVAudioFrameCount firstFrames = 0;
        for (uint32_t b = 0; b < output->mNumberBuffers && !first; ++b) {
            first = static_cast<float*>(output->mBuffers[b].mData);
            firstFrames = std::min(frames, platform::AVAudioFrameCount(output->mBuffers[b].mDataByteSize / sizeof(float)));
        }
        if (!first) return platform::noErr;

        float p = phase.load(std::memory_order_relaxed);
        const float* table = samples.data();
        for (platform::AVAudioFrameCount i = 0; i < firstFrames; ++i) {
            // A phase that rounds up to exactly 2π would read one past the end.
            const int64_t index = std::min(int64_t(float(count) * (p / kTwoPi)), count - 1);
            first[i] = table[std::max<int64_t>(index, 0)] * amp;
            p += increment;
            if (p >= kTwoPi) p -= kTwoPi;
            if (p < 0) p += kTwoPi;
        }
        phase.store(p, std::memory_order_relaxed);

        for (uint32_t b = 0; b < output->mNumberBuffers; ++b) {
            auto* data = static_cast<float*>(output->mBuffers[b].mData);
            if (!data || data == first) continue;
            const size_t n = std::min(firstFrames, platform::AVAudioFrameCount(output->mBuffers[b].mDataByteSize / sizeof(float)));
            std::memcpy(data, first, n * sizeof(float));
        }
        return platform::noErr;
    }

    static void writeSilence(platform::AudioBuffer& buffer, platform::AVAudioFrameCount frames) {
        if (!buffer.mData) return;
        const size_t n = std::min(frames, platform::AVAudioFrameCount(buffer.mDataByteSize / sizeof(float)));
        std::memset(buffer.mData, 0, n * sizeof(float));
    }
};

PlaygroundOscillator::PlaygroundOscillator(std::shared_ptr<Table> waveform, float frequency, float amplitude)
    : waveform_(waveform ? std::move(waveform) : std::make_shared<Table>(TableType::zero, 0.0f, 0)),
      state_(std::make_shared<RenderState>()) {
    state_->samples = waveform_->content();
    state_->frequency.store(frequency);
    state_->amplitude.store(amplitude);
    sourceNode_ = std::make_shared<platform::AVAudioSourceNode>(
        [state = state_](bool&, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames,
                         platform::AudioBufferList* output) { return state->render(frames, output); });
    state_->unit = sourceNode_->auAudioUnit().get();
    stop();
}

PlaygroundOscillator::~PlaygroundOscillator() = default;

std::shared_ptr<platform::AVAudioNode> PlaygroundOscillator::avAudioNode() const { return sourceNode_; }

float PlaygroundOscillator::frequency() const { return state_->frequency.load(std::memory_order_relaxed); }
void PlaygroundOscillator::setFrequency(float frequency) { state_->frequency.store(frequency, std::memory_order_relaxed); }
float PlaygroundOscillator::amplitude() const { return state_->amplitude.load(std::memory_order_relaxed); }
void PlaygroundOscillator::setAmplitude(float amplitude) { state_->amplitude.store(amplitude, std::memory_order_relaxed); }
float PlaygroundOscillator::currentPhase() const { return state_->phase.load(std::memory_order_relaxed); }

}  // namespace sonora
