// Small nodes for the engine-layer tests: signal sources, an audio-unit node with parameters and a
// MIDI recorder, and helpers to read the log and render offline.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioSourceNode.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testnodes {

inline platform::AVAudioFormat stereo(double rate = 44100) {
    return platform::AVAudioFormat::standardFormatWithSampleRate(rate, 2);
}

// A source whose samples are f(channel, frame), frames counted from its first render.
class SourceNode : public sonora::Node {
public:
    using Signal = std::function<float(uint32_t channel, int64_t frame)>;
    explicit SourceNode(Signal signal, platform::OSStatus status = platform::noErr);
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return node_; }
    // Frames rendered so far.
    int64_t framesRendered() const { return frames_->load(); }

private:
    std::shared_ptr<std::atomic<int64_t>> frames_ = std::make_shared<std::atomic<int64_t>>(0);
    std::shared_ptr<platform::AVAudioSourceNode> node_;
};

// A constant level on every channel.
std::shared_ptr<SourceNode> constant(float level);

// A gain unit: gain 0…2 at address 0 (rampable), two input buses, a MIDI block that records, a
// reset counter and the parameter events its render received.
class GainUnit : public platform::AUAudioUnit {
public:
    GainUnit();
    // Allocates (when not yet) and renders one cycle of `frames` frames from sample time 0 without
    // input; returns the parameter events handed to the render.
    std::vector<platform::AUParameterEvent> renderScheduledEvents(platform::AUAudioFrameCount frames);
    std::vector<platform::AUParameterEvent> renderedEvents;
    std::shared_ptr<platform::AUParameter> gain;
    std::vector<uint8_t> midiBytes;
    std::vector<platform::AUEventSampleTime> midiTimes;
    int resets = 0;
};

// A node over a GainUnit (an AVAudioUnit) with inputs of its own choosing.
class GainNode : public sonora::Node {
public:
    GainNode();
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return inputs; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return node; }

    std::vector<std::shared_ptr<sonora::Node>> inputs;
    std::shared_ptr<GainUnit> unit = std::make_shared<GainUnit>();
    std::shared_ptr<platform::AVAudioUnit> node;
};

// A node that declares two parameters, built on a unit without a tree (setupParameterTree makes it).
class ParameterNode : public sonora::Node {
public:
    ParameterNode();
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return node; }

    sonora::Parameter<float> cutoff{{"cutoff", "Cutoff", 3, 1000, {20, 20000}, platform::kAudioUnitParameterUnit_Hertz,
                                     sonora::nodeParameterDefaultFlags}};
    sonora::Parameter<bool> enabled{{"enabled", "Enabled", 7, 1, {0, 1}, platform::kAudioUnitParameterUnit_Boolean,
                                     platform::kAudioUnitParameterFlag_IsReadable |
                                         platform::kAudioUnitParameterFlag_IsWritable}};
    std::shared_ptr<platform::AVAudioUnit> node;

protected:
    std::vector<const sonora::ParameterBase*> parameterProperties() const override { return {&cutoff, &enabled}; }
};

// How many log entries since the last LogSink::clear() contain the text.
size_t logCount(const std::string& text);

// Renders `frames` frames offline (the engine in manual mode and running), in chunks of `chunk`,
// one vector per channel.
std::vector<std::vector<float>> renderFrames(platform::AVAudioEngine& engine, int64_t frames,
                                             platform::AVAudioFrameCount chunk = 512);

}  // namespace testnodes
