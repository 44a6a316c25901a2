#include "RtCheckGraph.h"

#include "Sonora/Internals/Table/Table.h"
#include "Sonora/Nodes/Generators/PlaygroundOscillator.h"
#include "Sonora/Nodes/Effects/BandPassFilter.h"
#include "Sonora/Nodes/Effects/Compressor.h"
#include "Sonora/Nodes/Effects/Decimator.h"
#include "Sonora/Nodes/Effects/Delay.h"
#include "Sonora/Nodes/Effects/Distortion.h"
#include "Sonora/Nodes/Effects/DynamicsProcessor.h"
#include "Sonora/Nodes/Effects/Expander.h"
#include "Sonora/Nodes/Effects/HighPassFilter.h"
#include "Sonora/Nodes/Effects/HighShelfFilter.h"
#include "Sonora/Nodes/Effects/LowPassFilter.h"
#include "Sonora/Nodes/Effects/LowShelfFilter.h"
#include "Sonora/Nodes/Effects/ParametricEQ.h"
#include "Sonora/Nodes/Effects/PeakLimiter.h"
#include "Sonora/Nodes/Effects/Reverb.h"
#include "Sonora/Nodes/Effects/RingModulator.h"
#include "Sonora/Nodes/Effects/TimePitch.h"
#include "Sonora/Nodes/Effects/VariSpeed.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Taps/AmplitudeTap.h"
#include "Sonora/Taps/FFTTap.h"
#include "Sonora/Taps/MultiChannelInputNodeTap.h"
#include "Sonora/Taps/NodeRecorder.h"
#include "Sonora/Taps/RawDataTap.h"
#include "SonoraEX/Node+SonoraAU.h"
#include "SonoraEX/Nodes/CallbackInstrument.h"
#include "SonoraEX/Nodes/Fader.h"
#include "SonoraEX/Nodes/StereoFieldLimiter.h"
#include "SonoraEX/SonoraAU.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/coreaudio/AudioDeviceRegistry.h"
#include "platform/coreaudio/CoreAudioTypes.h"
#include "platform/dispatch/DispatchQueue.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace rtcheck {

namespace {

// A clip: two seconds of a tone at its own rate, channel count and sample type.
struct ClipSpec {
    const char* name;
    double rate;
    uint32_t channels;
    int bits;  // 32: float
    bool buffered;
};

constexpr ClipSpec kClips[] = {
    {"clip0.wav", 44100, 2, 32, false}, {"clip1.wav", 48000, 2, 16, false}, {"clip2.wav", 22050, 1, 16, false},
    {"clip3.flac", 44100, 2, 24, false}, {"clip4.wav", 44100, 2, 16, true}, {"clip5.wav", 48000, 1, 32, true},
    {"clip6.wav", 96000, 2, 24, true},   {"clip7.aiff", 32000, 2, 16, true},
};
constexpr double kClipSeconds = 2;
constexpr int kAutomationEvents = 5000;

std::filesystem::path writeClip(const std::filesystem::path& folder, const ClipSpec& spec, int index) {
    using namespace platform;
    const auto path = folder / spec.name;
    AVAudioSettings settings{{AVFormatIDKey, double(kAudioFormatLinearPCM)},
                             {AVSampleRateKey, spec.rate},
                             {AVNumberOfChannelsKey, double(spec.channels)},
                             {AVLinearPCMBitDepthKey, double(spec.bits)},
                             {AVLinearPCMIsFloatKey, spec.bits == 32 ? 1.0 : 0.0}};
    const auto file = AVAudioFile::forWriting(path.string(), settings);
    const auto frames = AVAudioFrameCount(spec.rate * kClipSeconds);
    const auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), frames);
    const double frequency = 110.0 * (index + 1);
    for (uint32_t c = 0; c < spec.channels; ++c)
        for (AVAudioFrameCount i = 0; i < frames; ++i)
            buffer->floatChannelData()[c][i] = float(0.1 * std::sin(2 * M_PI * frequency * i / spec.rate + c));
    buffer->setFrameLength(frames);
    file->write(*buffer);
    file->close();
    return path;
}

std::vector<sonora::AutomationEvent> gainAutomation() {
    std::vector<sonora::AutomationEvent> events;
    events.reserve(kAutomationEvents);
    for (int i = 0; i < kAutomationEvents; ++i)
        events.push_back({i % 2 ? 1.0f : 0.5f, float(i) * 0.01f, i % 3 ? 0.005f : 0.0f});
    return events;
}

Stage clipsStage(const std::filesystem::path& folder) {
    auto mixer = std::make_shared<sonora::Mixer>(0.8f, std::string("clips"));
    std::vector<std::shared_ptr<sonora::AudioPlayer>> players;
    Stage stage;
    for (int i = 0; i < int(std::size(kClips)); ++i) {
        const auto& spec = kClips[i];
        const auto file = platform::AVAudioFile::forReading(writeClip(folder, spec, i).string());
        auto player = std::make_shared<sonora::AudioPlayer>(file, spec.buffered);
        player->setIsLooping(true);
        mixer->addInput(player);
        players.push_back(player);
        stage.labels.emplace_back(player->playerNode().get(), std::string("player ") + spec.name);
        stage.labels.emplace_back(player->mixerNode().get(), std::string("player mixer ") + spec.name);
    }
    stage.node = mixer;
    stage.labels.emplace_back(mixer->avAudioNode().get(), "clips mixer");
    stage.start = [players] {
        for (const auto& player : players) player->play();
    };
    // Offline the players do not replay by themselves: the host starts the file players again.
    const auto cyclesPerClip = uint64_t(kClipSeconds * 44100 / 512);
    stage.beforeOfflineCycle = [players, cyclesPerClip](uint64_t cycle) {
        if (cycle % cyclesPerClip != 0) return;
        for (const auto& player : players)
            if (!player->isBuffered()) player->play(0.0);
    };
    stage.control = [players, mixer](uint64_t tick, bool) {
        players[tick % players.size()]->setVolume(0.5f + 0.5f * float(tick % 7) / 7);
        mixer->setPan(float(tick % 21) / 10 - 1);
    };
    return stage;
}

Stage faderStage(const std::shared_ptr<sonora::Node>& input) {
    auto fader = std::make_shared<sonora::Fader>(input, 0.9f);
    auto limiter = std::make_shared<sonora::StereoFieldLimiter>(fader, 0.5f);
    auto events = std::make_shared<std::vector<sonora::AutomationEvent>>(gainAutomation());
    Stage stage;
    stage.node = limiter;
    stage.labels = {{fader->avAudioNode().get(), "fader"}, {limiter->avAudioNode().get(), "stereo field limiter"}};
    stage.start = [fader, limiter, events] {
        fader->start();
        limiter->start();
        fader->automateGain(*events);
    };
    stage.control = [fader, limiter, events](uint64_t tick, bool) {
        limiter->amount = float(tick % 10) / 10;
        fader->mixToMono = tick % 500 == 0;
        if (tick % 100 != 0) return;
        if (tick % 200 == 0) fader->automateGain(*events);
        else fader->stopAutomation();
    };
    return stage;
}

Stage instrumentStage() {
    auto received = std::make_shared<std::atomic<uint64_t>>(0);
    auto instrument = std::make_shared<sonora::CallbackInstrument>([received](uint8_t, uint8_t, uint8_t) { ++*received; });
    Stage stage;
    stage.node = instrument;
    stage.labels = {{instrument->avAudioNode().get(), "callback instrument"}};
    stage.start = [instrument] { instrument->start(); };
    stage.beforeOfflineCycle = [instrument](uint64_t cycle) {
        sonora::kernelAU(*instrument).sendNoteOn(uint8_t(60 + cycle % 12), 100);
    };
    stage.control = [instrument](uint64_t tick, bool realtime) {
        if (realtime) sonora::kernelAU(*instrument).sendNoteOn(uint8_t(60 + tick % 12), 100);
    };
    return stage;
}

Stage oscillatorStage() {
    auto oscillator = std::make_shared<sonora::PlaygroundOscillator>(std::make_shared<sonora::Table>(sonora::TableType::square),
                                                                      441, 0.2f);
    Stage stage;
    stage.node = oscillator;
    stage.labels = {{oscillator->avAudioNode().get(), "playground oscillator"}};
    stage.start = [oscillator] { oscillator->start(); };
    stage.control = [oscillator](uint64_t tick, bool) {
        oscillator->setFrequency(220 + float(tick % 440));
        oscillator->setAmplitude(0.1f + 0.1f * float(tick % 2));
    };
    return stage;
}

// The effects in one chain behind a tone (the time effects have a stage of their own).
Stage effectsStage() {
    auto tone = std::make_shared<sonora::PlaygroundOscillator>(std::make_shared<sonora::Table>(sonora::TableType::sine),
                                                                330, 0.1f);
    std::shared_ptr<sonora::Node> chain = tone;
    Stage stage;
    auto append = [&](std::shared_ptr<sonora::Node> node, const char* name) {
        stage.labels.emplace_back(node->avAudioNode().get(), name);
        chain = node;
    };
    std::vector<std::shared_ptr<sonora::EffectNode>> units;
    auto unit = [&](std::shared_ptr<sonora::EffectNode> node, const char* name) {
        units.push_back(node);
        append(node, name);
    };
    unit(std::make_shared<sonora::BandPassFilter>(chain), "band pass filter");
    unit(std::make_shared<sonora::Compressor>(chain), "compressor");
    unit(std::make_shared<sonora::Decimator>(chain), "decimator");
    append(std::make_shared<sonora::Delay>(chain, 0.1f), "delay");
    unit(std::make_shared<sonora::Distortion>(chain), "distortion");
    unit(std::make_shared<sonora::DynamicsProcessor>(chain), "dynamics processor");
    unit(std::make_shared<sonora::Expander>(chain), "expander");
    unit(std::make_shared<sonora::HighPassFilter>(chain, 40), "high pass filter");
    unit(std::make_shared<sonora::HighShelfFilter>(chain), "high shelf filter");
    unit(std::make_shared<sonora::LowPassFilter>(chain), "low pass filter");
    unit(std::make_shared<sonora::LowShelfFilter>(chain), "low shelf filter");
    unit(std::make_shared<sonora::ParametricEQ>(chain), "parametric EQ");
    unit(std::make_shared<sonora::PeakLimiter>(chain), "peak limiter");
    auto reverb = std::make_shared<sonora::Reverb>(chain);
    append(reverb, "reverb");
    unit(std::make_shared<sonora::RingModulator>(chain), "ring modulator");
    stage.node = chain;
    stage.start = [tone, units, reverb] {
        tone->start();
        for (const auto& node : units) node->start();
        reverb->start();
    };
    stage.control = [reverb](uint64_t tick, bool) {
        reverb->setDryWetMix(float(tick % 10) / 10);
    };
    return stage;
}

// Taps and recorders: amplitude, FFT and raw taps on three tones, a NodeRecorder writing their mix
// into a file in the folder, and a MultiChannelInputNodeTap recording two of the four channels of
// the engine's input node, fed by a file (offline through the manual rendering input, in real time
// by the null input device playing it); the taps mixer also plays the input node. The taps' blocks
// run on the tap thread, outside the render mark; every second the control thread has the main
// queue stop and start them all again.
class TapsStage : public sonora::MultiChannelInputNodeTapDelegate, public std::enable_shared_from_this<TapsStage> {
public:
    explicit TapsStage(const std::filesystem::path& folder) : folder_(folder) {
        mixer_ = std::make_shared<sonora::Mixer>(0.3f, std::string("taps"));
        const sonora::TableType tables[] = {sonora::TableType::sine, sonora::TableType::triangle, sonora::TableType::sawtooth};
        for (int i = 0; i < 3; ++i) {
            tones_.push_back(std::make_shared<sonora::PlaygroundOscillator>(std::make_shared<sonora::Table>(tables[i]),
                                                                            220 * float(i + 1), 0.1f));
            mixer_->addInput(tones_.back());
        }
        auto counter = [this](int i) { return [count = delivered_[i]](auto&&...) { ++*count; }; };
        taps_.push_back(std::make_shared<sonora::AmplitudeTap>(tones_[0], 1024, sonora::StereoMode::center,
                                                               sonora::AnalysisMode::rms, counter(0)));
        taps_.push_back(std::make_shared<sonora::FFTTap>(tones_[1], 2048, sonora::FFTValidBinCount::fiveHundredAndTwelve, counter(1)));
        taps_.push_back(std::make_shared<sonora::RawDataTap>(tones_[2], 512, counter(2)));
        recorder_ = std::make_shared<sonora::NodeRecorder>(
            mixer_, platform::AVAudioFile::forWriting((folder / "recording.caf").string(), sonora::Settings::audioFormat().settings()));

        // The input's file, whole, for the manual rendering input; the null input plays it too.
        const auto inputPath = writeClip(folder, kInput, 8);
        const auto file = platform::AVAudioFile::forReading(inputPath.string());
        input_ = platform::AVAudioPCMBuffer::make(file->processingFormat(), platform::AVAudioFrameCount(file->length()));
        file->read(*input_);
        inputBlock_ = platform::AVAudioPCMBuffer::make(file->processingFormat(), 4096);
        if (!platform::AudioDeviceRegistry::setNullInputFile(inputPath))
            throw std::runtime_error("the null input cannot play " + inputPath.string());
    }

    Stage stage() {
        Stage stage;
        stage.node = mixer_;
        stage.labels.emplace_back(mixer_->avAudioNode().get(), "taps mixer");
        for (int i = 0; i < 3; ++i) stage.labels.emplace_back(tones_[i]->avAudioNode().get(), "tapped tone " + std::to_string(i));
        auto self = shared_from_this();
        stage.start = [self] { self->start(); };
        stage.control = [weak = weak_from_this()](uint64_t tick, bool) {
            if (tick % 1000 != 0) return;
            platform::DispatchQueue::main().async([weak] {
                if (auto self = weak.lock()) self->restart();
            });
        };
        stage.check = [self] { return self->check(); };
        return stage;
    }

    void tapDidInstall(sonora::MultiChannelInputNodeTap&) override {}
    void tapDidRemove(sonora::MultiChannelInputNodeTap&) override {}
    void didProcess(sonora::MultiChannelInputNodeTap&, uint32_t, const platform::AVAudioTime&) override { ++inputBuffers_; }

private:
    static constexpr ClipSpec kInput{"input.wav", 48000, 4, 32, false};

    // The first start sets everything up; a later one (the real-time run) starts again.
    void start() {
        if (inputRecorder_) return restart();
        for (const auto& tone : tones_) tone->start();
        for (const auto& tap : taps_) tap->start();
        recorder_->record();
        const auto engine = mixer_->avAudioNode()->engine();
        const auto inputNode = engine->inputNode();
        if (engine->isInManualRenderingMode()) {
            inputNode->setManualRenderingInputPCMFormat(input_->format(), [this](platform::AVAudioFrameCount frames) {
                return feedInput(frames);
            });
        }
        inputRecorder_ = std::make_shared<sonora::MultiChannelInputNodeTap>(inputNode);
        inputRecorder_->directory = platform::URL(folder_);
        inputRecorder_->delegate = weak_from_this();
        inputRecorder_->prepare(std::vector<int32_t>{0, 2});
        // The graph pulls the input node as well, through the taps mixer (at the mapped channels).
        engine->connect(inputNode, mixer_->avAudioNode(), std::nullopt);
        inputRecorder_->record();
    }

    // Render thread (offline): the input file over and over.
    const platform::AudioBufferList* feedInput(platform::AVAudioFrameCount frames) {
        frames = std::min(frames, inputBlock_->frameCapacity());
        const auto length = input_->frameLength();
        for (uint32_t c = 0; c < kInput.channels; ++c) {
            const float* from = input_->floatChannelData()[c];
            float* to = inputBlock_->floatChannelData()[c];
            for (platform::AVAudioFrameCount i = 0; i < frames; ++i) to[i] = from[(inputAt_ + i) % length];
        }
        inputAt_ = (inputAt_ + frames) % length;
        return inputBlock_->audioBufferList();
    }

    // Main thread: every tap and recorder stops and starts again; the input recorder takes a new
    // take with its tap removed and installed again.
    void restart() {
        for (const auto& tap : taps_) {
            tap->stop();
            tap->start();
        }
        recorder_->stop();
        recorder_->record();
        inputRecorder_->stop();
        inputFramesWritten_ += takeFrames();
        inputRecorder_->setRecordEnabled(false);
        inputRecorder_->setRecordEnabled(true);
        inputRecorder_->record();
    }

    std::string check() const {
        std::string failures;
        auto fail = [&](const std::string& what) { failures += (failures.empty() ? "" : "; ") + what + " nothing"; };
        static const char* const kinds[] = {"amplitude", "FFT", "raw"};
        for (int i = 0; i < 3; ++i)
            if (*delivered_[i] == 0) fail(std::string("the ") + kinds[i] + " tap delivered");
        if (recorder_->recordedDuration() <= 0) fail("the node recorder recorded");
        if (inputBuffers_ == 0 || inputFramesWritten_ + takeFrames() == 0) fail("the input recorder recorded");
        return failures;
    }

    // The frames the input recorder's files of the current take hold.
    int64_t takeFrames() const {
        int64_t frames = 0;
        if (inputRecorder_)
            for (const auto& file : inputRecorder_->files()) {
                std::lock_guard lock(file->mutex());
                frames += file->totalFramesWritten;
            }
        return frames;
    }

    std::filesystem::path folder_;
    std::shared_ptr<sonora::Mixer> mixer_;
    std::vector<std::shared_ptr<sonora::PlaygroundOscillator>> tones_;
    // Buffers each tap's handler saw (the handlers outlive nothing but their counters).
    std::shared_ptr<std::atomic<uint64_t>> delivered_[3] = {std::make_shared<std::atomic<uint64_t>>(0),
                                                             std::make_shared<std::atomic<uint64_t>>(0),
                                                             std::make_shared<std::atomic<uint64_t>>(0)};
    std::vector<std::shared_ptr<sonora::BaseTap>> taps_;
    std::shared_ptr<sonora::NodeRecorder> recorder_;
    std::shared_ptr<platform::AVAudioPCMBuffer> input_;
    std::shared_ptr<platform::AVAudioPCMBuffer> inputBlock_;
    platform::AVAudioFramePosition inputAt_ = 0;
    std::shared_ptr<sonora::MultiChannelInputNodeTap> inputRecorder_;
    std::atomic<uint64_t> inputBuffers_{0};
    int64_t inputFramesWritten_ = 0;  // by the takes that ended
};

Stage tapsStage(const std::filesystem::path& folder) { return std::make_shared<TapsStage>(folder)->stage(); }

// The time effects, each behind its own tone: they pull their input in other frame counts than the
// cycle's, and the control thread moves their rates and pitch (to 1 and 0 as well, where time-pitch
// passes its input through and starts afresh), bypasses and resets them.
Stage timeEffectsStage() {
    auto tone = [](float frequency) {
        return std::make_shared<sonora::PlaygroundOscillator>(std::make_shared<sonora::Table>(sonora::TableType::sine),
                                                              frequency, 0.1f);
    };
    auto timePitchTone = tone(220);
    auto variSpeedTone = tone(660);
    auto timePitch = std::make_shared<sonora::TimePitch>(timePitchTone, 1.5f, 300.0f);
    auto variSpeed = std::make_shared<sonora::VariSpeed>(variSpeedTone, 0.8f);
    auto mixer = std::make_shared<sonora::Mixer>(1.0f, std::string("time effects"));
    mixer->addInput(timePitch);
    mixer->addInput(variSpeed);
    Stage stage;
    stage.node = mixer;
    stage.labels = {{timePitch->avAudioNode().get(), "time pitch"},
                    {variSpeed->avAudioNode().get(), "varispeed"},
                    {timePitchTone->avAudioNode().get(), "time pitch tone"},
                    {variSpeedTone->avAudioNode().get(), "varispeed tone"},
                    {mixer->avAudioNode().get(), "time effects mixer"}};
    stage.start = [timePitchTone, variSpeedTone, timePitch] {
        timePitchTone->start();
        variSpeedTone->start();
        timePitch->start();
    };
    // A new setting every 50 ms, mostly the first.
    struct Setting {
        float rate, pitch, speed;
    };
    static constexpr Setting kSettings[] = {{1.5f, 300, 0.8f}, {1.25f, -500, 1.3f}, {1.5f, 300, 0.8f},
                                            {0.75f, 0, 0.5f},  {1.5f, 300, 0.8f},   {1.0f, 0, 1.0f},
                                            {1.5f, 300, 0.8f}, {2.0f, 1200, 2.0f}};
    stage.control = [timePitch, variSpeed](uint64_t tick, bool) {
        // Now and then a bypass for a moment and a reset, after which both start afresh.
        if (tick % 700 == 0) timePitch->stop();
        if (tick % 700 == 20) timePitch->start();
        if (tick % 450 == 0) variSpeed->avAudioNode()->reset();
        if (tick % 50 != 0) return;
        const Setting& setting = kSettings[tick / 50 % std::size(kSettings)];
        timePitch->setRate(setting.rate);
        timePitch->setPitch(setting.pitch);
        variSpeed->setRate(setting.speed);
    };
    return stage;
}

// Counts the cycles: a silent source the top mixer pulls once per cycle.
class CycleCounter : public sonora::Node {
public:
    explicit CycleCounter(std::shared_ptr<std::atomic<uint64_t>> cycles) {
        node_ = std::make_shared<platform::AVAudioSourceNode>(
            [cycles](bool& isSilence, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames,
                     platform::AudioBufferList* out) {
                for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                    std::fill_n(static_cast<float*>(out->mBuffers[c].mData), frames, 0.0f);
                isSilence = true;
                cycles->fetch_add(1, std::memory_order_relaxed);
                return platform::noErr;
            });
    }
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return node_; }

private:
    std::shared_ptr<platform::AVAudioSourceNode> node_;
};

}  // namespace

RtCheckGraph::RtCheckGraph(const std::filesystem::path& folder)
    : folder_(folder), top_(std::make_shared<sonora::Mixer>(1.0f, std::string("rtcheck"))) {
    labels_[static_cast<const void*>(top_->avAudioNode().get())] = "top mixer";
    // The clips' mixer feeds the fader, not the top mixer.
    Stage clips = clipsStage(folder_);
    Stage fader = faderStage(clips.node);
    clips.node = nullptr;
    add(std::move(clips));
    add(std::move(fader));
    add(instrumentStage());
    add(oscillatorStage());
    add(effectsStage());
    add(tapsStage(folder_));
    add(timeEffectsStage());
    Stage counter;
    counter.node = std::make_shared<CycleCounter>(cycles_);
    counter.labels = {{counter.node->avAudioNode().get(), "cycle counter"}};
    add(std::move(counter));
}

RtCheckGraph::~RtCheckGraph() { stopControl(); }

void RtCheckGraph::add(Stage stage) {
    if (stage.node) top_->addInput(stage.node);
    for (const auto& [node, name] : stage.labels) labels_[static_cast<const void*>(node)] = name;
    stages_.push_back(std::move(stage));
}

void RtCheckGraph::start() {
    for (const auto& stage : stages_)
        if (stage.start) stage.start();
}

void RtCheckGraph::beforeOfflineCycle(uint64_t cycle) {
    for (const auto& stage : stages_)
        if (stage.beforeOfflineCycle) stage.beforeOfflineCycle(cycle);
}

void RtCheckGraph::startControl(bool realtime) {
    stopControl();
    controlRunning_ = true;
    control_ = std::thread([this, realtime] {
        auto next = std::chrono::steady_clock::now();
        for (uint64_t tick = 1; controlRunning_.load(); ++tick) {
            for (const auto& stage : stages_)
                if (stage.control) stage.control(tick, realtime);
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
    });
}

void RtCheckGraph::stopControl() {
    controlRunning_ = false;
    if (control_.joinable()) control_.join();
}

std::string RtCheckGraph::check() const {
    std::string failures;
    for (const auto& stage : stages_)
        if (stage.check)
            if (const std::string failure = stage.check(); !failure.empty()) failures += failure + "\n";
    return failures;
}

std::string RtCheckGraph::label(const void* node) const {
    if (const auto it = labels_.find(node); it != labels_.end()) return it->second;
    char text[32];
    std::snprintf(text, sizeof text, "%p", node);
    return text;
}

}  // namespace rtcheck
