// The audio layer's engine: one platform engine, an on-demand main mixer "Sonora Engine Mixer"
// feeding the platform output, the `output` node the user plugs into it, and an input mixer over
// the microphone. Starts, stops and pauses the platform engine, renders offline and chooses the
// output device. Use from one thread (the main thread).
#pragma once

#include "Sonora/Internals/Hardware/Device.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class AVAudioEngine;
class AVAudioFile;
}  // namespace platform

namespace sonora {

class AudioEngine {
public:
    // The microphone's mixer; connected to the platform input node at its first use.
    class InputNode : public Mixer {
    public:
        using Mixer::Mixer;
        bool isNotConnected = true;
    };

    // A stopped engine with no output, no main mixer and an unconnected input mixer.
    AudioEngine();
    virtual ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // The wrapped platform engine (never replaced).
    virtual const std::shared_ptr<platform::AVAudioEngine>& avEngine() const { return avEngine_; }
    // The microphone input mixer, connected on first use; null without the microphone usage key.
    virtual std::shared_ptr<InputNode> input();

    // The node last set as output (null for none).
    virtual std::shared_ptr<Node> output() const { return output_; }
    // Rewires the graph below the main mixer, every time (also for the same node); a running
    // engine is stopped and started again.
    virtual void setOutput(std::shared_ptr<Node> output);

    // The main mixer "Sonora Engine Mixer" (null until an output is set).
    std::shared_ptr<Mixer> mainMixerNode() const { return mainMixerNode_; }

    virtual void createEngineMixer();
    virtual void removeEngineMixer();
    // Rebuilds the platform connections of the whole graph below the output.
    virtual void reconnectOutput();

    // Starts the platform engine; throws its NSErrorException. Without output: logs and returns.
    virtual void start();
    virtual void stop();
    virtual void pause();

    // Enters offline manual rendering and starts; returns an empty buffer for that many seconds.
    virtual std::shared_ptr<platform::AVAudioPCMBuffer> startTest(double totalDuration);
    // Renders that many seconds (in manual rendering) into a new buffer, in chunks of
    // maximumFrameCount; on a render error logs and returns what was rendered. Null (logged) when
    // the engine is not in manual rendering.
    virtual std::shared_ptr<platform::AVAudioPCMBuffer> render(double duration);

    // The engine's current output device, with its channel counts.
    virtual Device device();
    // Plays through the device's identifier (name and counts are ignored).
    virtual void setDevice(const Device& device);

    // The graph rendered offline into `file` for `duration` seconds (see sonora::render).
    virtual void renderToFile(platform::AVAudioFile& file, platform::AVAudioFrameCount maximumFrameCount,
                              double duration, const std::function<void()>& prerender = {},
                              const std::function<void(double)>& progress = {});

    // The node tree below the main mixer, one line per node.
    std::string connectionTreeDescription() const;

    // Devices with at least one input, with at least one output, and every device.
    static std::vector<Device> inputDevices();
    static std::vector<Device> outputDevices();
    static std::vector<Device> allDevices();

    // Frames per render call of startTest and render(duration:).
    platform::AVAudioFrameCount maximumFrameCount = 1024;

private:
    void replaceOutput(const std::shared_ptr<Node>& oldOutput);

    std::shared_ptr<platform::AVAudioEngine> avEngine_;
    std::shared_ptr<Mixer> mainMixerNode_;
    std::shared_ptr<InputNode> input_;
    std::shared_ptr<Node> output_;
};

}  // namespace sonora
