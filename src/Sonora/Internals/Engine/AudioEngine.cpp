#include "Sonora/Internals/Engine/AudioEngine.h"

#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"
#include "Sonora/Internals/Engine/AVAudioEngineRender.h"
#include "Sonora/Internals/Engine/AVAudioNodeConnections.h"
#include "Sonora/Internals/Hardware/AVAudioEngineDevice.h"
#include "Sonora/Internals/Hardware/DeviceUtils.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/foundation/Bundle.h"

#include <algorithm>

namespace sonora {

using namespace platform;

namespace {

constexpr const char* kEngineMixerName = "Sonora Engine Mixer";
constexpr const char* kNoOutputMessage = "🛑 Error: Attempt to start engine with no output.";

// Seconds at the settings' rate as a frame count that fits a buffer (callers keep within it).
AVAudioFrameCount frameCountFor(double seconds) {
    const auto frames = secondsToFrame(seconds, Settings::audioFormat().sampleRate());
    if (!frames) return seconds > 0 ? 4294967295u : 0;
    return AVAudioFrameCount(std::clamp<int64_t>(*frames, 0, 4294967295));
}

}  // namespace

AudioEngine::AudioEngine()
    : avEngine_(AVAudioEngine::make()), input_(std::make_shared<InputNode>(1.0f, std::nullopt)) {}

AudioEngine::~AudioEngine() = default;

std::shared_ptr<AudioEngine::InputNode> AudioEngine::input() {
    if (!Bundle::main().objectForInfoDictionaryKey("NSMicrophoneUsageDescription")) {
        Log({"To use the microphone, you must include the NSMicrophoneUsageDescription in your Info.plist"},
            OSLog::general(), OSLogType::error);
        return nullptr;
    }
    if (input_->isNotConnected) {
        avEngine_->attach(input_->avAudioNode());
        avEngine_->connect(avEngine_->inputNode(), input_->avAudioNode(), std::nullopt);
        input_->isNotConnected = false;
    }
    return input_;
}

void AudioEngine::setOutput(std::shared_ptr<Node> output) {
    const auto old = std::move(output_);
    output_ = std::move(output);
    replaceOutput(old);
}

void AudioEngine::replaceOutput(const std::shared_ptr<Node>& oldOutput) {
    const bool wasRunning = avEngine_->isRunning();
    if (wasRunning) avEngine_->stop();

    if (oldOutput) {
        if (mainMixerNode_) mainMixerNode_->removeInput(oldOutput);
        oldOutput->detach();
        if (const auto oldNode = oldOutput->avAudioNode()) disconnect(avEngine_->outputNode(), oldNode);
    }

    if (output_) {
        if (const auto node = output_->avAudioNode()) avEngine_->attach(node);
        if (mainMixerNode_) {
            const double mixerRate = mainMixerNode_->avAudioNode()->outputFormat(0).sampleRate();
            const double wantedRate = Settings::audioFormat().sampleRate();
            if (!(mixerRate == wantedRate)) {
                Log({"Sample Rate has changed, creating new mainMixerNode at", wantedRate});
                removeEngineMixer();
            }
        }
        createEngineMixer();
        mainMixerNode_->addInput(output_);
        mainMixerNode_->makeAVConnections();
    }

    if (wasRunning) {
        try {
            start();
        } catch (const NSErrorException&) {
            // A restart after rewiring is best effort; the engine stays stopped.
        }
    }
}

void AudioEngine::createEngineMixer() {
    if (mainMixerNode_) return;
    auto mixer = std::make_shared<Mixer>(1.0f, kEngineMixerName);
    avEngine_->attach(mixer->avAudioNode());
    avEngine_->connect(mixer->avAudioNode(), avEngine_->outputNode(), Settings::audioFormat());
    mainMixerNode_ = std::move(mixer);
}

void AudioEngine::removeEngineMixer() {
    if (!mainMixerNode_) return;
    const auto mixerNode = mainMixerNode_->avAudioNode();
    disconnect(avEngine_->outputNode(), mixerNode);
    if (!mainMixerNode_->inputs().empty()) {
        for (const auto& input : mainMixerNode_->inputs())
            if (input && input->avAudioNode()) disconnect(mixerNode, input->avAudioNode());
        mainMixerNode_->removeAllInputs();
    }
    mainMixerNode_->detach();
    mainMixerNode_.reset();
}

void AudioEngine::reconnectOutput() {
    if (output_) output_->disconnect();
    setOutput(output_);
}

void AudioEngine::start() {
    if (!output_) {
        Log({kNoOutputMessage});
        return;
    }
    avEngine_->start();
}

void AudioEngine::stop() { avEngine_->stop(); }

void AudioEngine::pause() { avEngine_->pause(); }

std::shared_ptr<AVAudioPCMBuffer> AudioEngine::startTest(double totalDuration) {
    const AVAudioFrameCount samples = frameCountFor(totalDuration);
    avEngine_->reset();
    try {
        avEngine_->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, Settings::audioFormat(), 1024);
        start();
    } catch (const NSErrorException& e) {
        Log({"🛑 Start Test Error: " + e.error().description()});
    }
    if (output_) output_->touchLastRenderTime();
    return AVAudioPCMBuffer::make(avEngine_->manualRenderingFormat(), samples);
}

std::shared_ptr<AVAudioPCMBuffer> AudioEngine::render(double duration) {
    const AVAudioFrameCount samples = frameCountFor(duration);
    const AVAudioFramePosition startTime = avEngine_->manualRenderingSampleTime();
    const auto& format = avEngine_->manualRenderingFormat();
    auto result = AVAudioPCMBuffer::make(format, samples);
    const auto chunk = AVAudioPCMBuffer::make(format, maximumFrameCount);
    if (!result || !chunk) {
        Log({"🛑 Could not render offline: no buffer in", format});
        return result;
    }
    const AVAudioFramePosition target = startTime + samples;
    while (avEngine_->manualRenderingSampleTime() < target) {
        const auto frames = AVAudioFrameCount(
            std::min<AVAudioFramePosition>(maximumFrameCount, target - avEngine_->manualRenderingSampleTime()));
        try {
            avEngine_->renderOffline(frames, *chunk);
        } catch (const NSErrorException& e) {
            Log({"🛑 Could not render offline " + e.error().description()});
            break;
        }
        // A call that rendered nothing would never reach the target.
        if (chunk->frameLength() == 0) break;
        append(*result, *chunk, 0, chunk->frameLength());
    }
    return result;
}

Device AudioEngine::device() { return Device(getDevice(*avEngine_)); }

void AudioEngine::setDevice(const Device& device) { sonora::setDevice(*avEngine_, device.deviceID); }

void AudioEngine::renderToFile(AVAudioFile& file, AVAudioFrameCount maximumFrameCount, double duration,
                               const std::function<void()>& prerender, const std::function<void(double)>& progress) {
    sonora::render(*avEngine_, file, maximumFrameCount, duration, false, 0.00005f, prerender, progress);
}

std::string AudioEngine::connectionTreeDescription() const {
    if (!mainMixerNode_) return "Sonora | mainMixerNode is nil";
    return mainMixerNode_->connectionTreeDescription();
}

namespace {
std::vector<Device> devicesWith(AudioObjectPropertyScope scope) {
    std::vector<Device> result;
    for (AudioDeviceID id : DeviceUtils::devices()) {
        const auto channels = DeviceUtils::channelCount(id, scope);
        if (!channels || *channels < 1) continue;
        result.emplace_back(DeviceUtils::name(id), DeviceUtils::inputChannelCount(id),
                            DeviceUtils::outputChannelCount(id), id);
    }
    return result;
}
}  // namespace

std::vector<Device> AudioEngine::inputDevices() { return devicesWith(kAudioObjectPropertyScopeInput); }
std::vector<Device> AudioEngine::outputDevices() { return devicesWith(kAudioObjectPropertyScopeOutput); }

std::vector<Device> AudioEngine::allDevices() {
    std::vector<Device> result;
    for (AudioDeviceID id : DeviceUtils::devices()) result.emplace_back(id);
    return result;
}

}  // namespace sonora
