// Sums any number of input buses into one output: each input is converted (channels and rate) to
// the output format, scaled by its source's volume and pan (AVAudioMixing) and added; the sum is
// scaled by outputVolume. A mixer feeding another mixer has its own volume and pan there too.
#pragma once

#include "platform/avfaudio/AVAudioMixing.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <memory>
#include <vector>

namespace platform {

namespace detail {
class PCMConverter;
}

class AVAudioMixerNode : public AVAudioNode, public AVAudioMixing {
public:
    // Most input buses a mixer can have.
    static constexpr AVAudioNodeBus maximumInputBusCount = 1024;

    AVAudioMixerNode();
    ~AVAudioMixerNode() override;

    // The gain of the mix (linear, not limited above; negative or not-a-number counts as 0).
    float outputVolume() const { return outputVolume_.load(std::memory_order_relaxed); }
    void setOutputVolume(float volume) { outputVolume_.store(sanitizedGain(volume), std::memory_order_relaxed); }

    // The lowest input bus with nothing connected (the bus count when all are taken).
    AVAudioNodeBus nextAvailableInputBus() const;

    std::string className() const override { return "AVAudioMixerNode"; }

protected:
    AVAudioFormat defaultOutputFormat(AVAudioNodeBus bus) const override;
    AVAudioFormat defaultInputFormat(AVAudioNodeBus bus) const override;
    void allocateRenderResources(const detail::RenderConfig& config) override;
    OSStatus render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                    AudioBufferList& output, detail::RenderInputs& inputs) override;

private:
    friend class AVAudioEngine;
    struct InputState;

    std::atomic<float> outputVolume_{1.0f};
    // Render resources, one per input bus (rebuilt only while no plan renders this mixer).
    std::vector<std::unique_ptr<InputState>> inputStates_;
    AVAudioFormat renderFormat_;
};

}  // namespace platform
