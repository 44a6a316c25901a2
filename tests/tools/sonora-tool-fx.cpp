// sonora-tool's kernel-node commands (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool fx NODE IN OUT [--param NAME=VALUE]... [--automate NAME:POINT[,POINT]...]
//                  [--resolution R] [--tail S] [--cycle N] [--realtime] [--stop]
//        IN (44100 Hz, mono or stereo) plays from frame 0 through NODE (fader, stereoFieldLimiter,
//        reverb, timePitch, variSpeed; `--param preset=N` loads a reverb preset; --stop calls the
//        node's stop() before rendering),
//        the engine's output; rendered offline in calls of N frames (default 512) for IN's length
//        plus S seconds into OUT (32-bit float, 44100 Hz stereo, container by extension). With
//        --realtime the graph plays on the output device (the null device) and OUT is what it
//        played, cut to the same length. A POINT is V@T[+R][^TAPER][~SKEW]; the points go through
//        AutomationCurve.evaluate(initialValue: the current value, resolution: R, default 0.05).
//   sonora-tool callback [--notes K]
//        K note-ons (note 60 + i mod 64, velocity 100) on a CallbackInstrument, one offline cycle,
//        50 ms of main loop; prints each message the closure receives as "STATUS D1 D2".
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolSupport.h"
#include "sonora-tool-fx-time.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "SonoraEX/AutomationCurve.h"
#include "SonoraEX/Node+SonoraAU.h"
#include "SonoraEX/Nodes/CallbackInstrument.h"
#include "SonoraEX/Nodes/Fader.h"
#include "SonoraEX/Nodes/StereoFieldLimiter.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

int fxCommand(int argc, char** argv);
int callbackCommand(int argc, char** argv);

namespace {

constexpr double kRate = 44100;

int fxUsage() {
    return tool::printUsage(
        "usage: sonora-tool fx NODE IN OUT [--param NAME=VALUE]... [--automate NAME:POINT[,POINT]...]\n"
        "                      [--resolution R] [--tail S] [--cycle N] [--realtime] [--stop]\n"
        "       NODE: fader | stereoFieldLimiter | reverb | timePitch | variSpeed; POINT: V@T[+R][^TAPER][~SKEW]\n");
}

// IN as two channels of samples.
std::vector<std::vector<float>> readInput(const std::string& path) {
    const auto file = platform::AVAudioFile::forReading(path);
    const auto& format = file->processingFormat();
    if (format.sampleRate() != kRate || format.channelCount() < 1 || format.channelCount() > 2)
        throw std::runtime_error(path + " is not 44100 Hz mono or stereo: " + format.description());
    const auto frames = platform::AVAudioFrameCount(file->length());
    auto buffer = platform::AVAudioPCMBuffer::make(format, std::max<platform::AVAudioFrameCount>(frames, 1));
    if (!buffer) throw std::runtime_error("cannot hold " + path + " in memory");
    file->read(*buffer, frames);
    std::vector<std::vector<float>> samples(2);
    for (uint32_t c = 0; c < 2; ++c) {
        const float* data = buffer->floatChannelData()[std::min(c, format.channelCount() - 1)];
        samples[c].assign(data, data + buffer->frameLength());
    }
    return samples;
}

// Plays its samples from its first render on, then silence.
class BufferSource : public sonora::Node {
public:
    explicit BufferSource(std::vector<std::vector<float>> samples) {
        auto data = std::make_shared<std::vector<std::vector<float>>>(std::move(samples));
        auto position = std::make_shared<size_t>(0);
        node_ = std::make_shared<platform::AVAudioSourceNode>(
            [data, position](bool&, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames,
                             platform::AudioBufferList* out) {
                for (uint32_t c = 0; c < out->mNumberBuffers; ++c) {
                    auto* channel = static_cast<float*>(out->mBuffers[c].mData);
                    const auto& source = (*data)[std::min<size_t>(c, data->size() - 1)];
                    for (platform::AVAudioFrameCount i = 0; i < frames; ++i) {
                        const size_t at = *position + i;
                        channel[i] = at < source.size() ? source[at] : 0.0f;
                    }
                }
                *position += frames;
                return platform::noErr;
            });
    }
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return node_; }

private:
    std::shared_ptr<platform::AVAudioSourceNode> node_;
};

struct NodeUnderTest {
    std::shared_ptr<sonora::Node> node;
    std::shared_ptr<sonora::Fader> fader;
    std::map<std::string, std::shared_ptr<sonora::NodeParameter>> parameters;
    std::optional<TimeEffectSubject> timeEffect;
};

NodeUnderTest makeNode(const std::string& name, const std::shared_ptr<sonora::Node>& input) {
    NodeUnderTest made;
    if (name == "fader") {
        made.fader = std::make_shared<sonora::Fader>(input);
        made.node = made.fader;
    } else if (name == "stereoFieldLimiter") {
        made.node = std::make_shared<sonora::StereoFieldLimiter>(input);
    } else if ((made.timeEffect = makeTimeEffectNode(name, input))) {
        made.node = made.timeEffect->node;
    } else {
        throw std::invalid_argument("NODE is fader, stereoFieldLimiter, reverb, timePitch or variSpeed, not " + name);
    }
    for (const auto& parameter : made.node->parameters()) made.parameters[parameter->def().identifier] = parameter;
    return made;
}

void setProperty(NodeUnderTest& made, const std::string& name, float value) {
    if (made.fader && name == "gain") return made.fader->setGain(value);
    if (made.fader && name == "gainDecibels") return made.fader->setGainDecibels(value);
    if (made.timeEffect) return made.timeEffect->set(name, value);
    const auto it = made.parameters.find(name);
    if (it == made.parameters.end()) throw std::invalid_argument("the node has no property " + name);
    it->second->setValue(value);
}

// V@T[+R][^TAPER][~SKEW].
std::optional<sonora::ParameterAutomationPoint> parsePoint(const std::string& text) {
    const auto at = text.find('@');
    if (at == std::string::npos) return std::nullopt;
    const auto value = tool::parseNumber(text.substr(0, at));
    std::string rest = text.substr(at + 1);
    auto take = [&rest](char marker) -> std::optional<std::string> {
        const auto p = rest.find(marker);
        if (p == std::string::npos) return std::string();
        std::string tail = rest.substr(p + 1);
        rest = rest.substr(0, p);
        return tail;
    };
    // Cut from the end: the markers come in the order +, ^, ~.
    const auto skew = take('~');
    const auto taper = take('^');
    const auto ramp = take('+');
    const auto start = tool::parseNonNegative(rest);
    if (!value || !start) return std::nullopt;
    sonora::ParameterAutomationPoint point(float(*value), float(*start), 0);
    for (const auto& [part, field] : {std::pair{ramp, &point.rampDuration}, std::pair{taper, &point.rampTaper},
                                      std::pair{skew, &point.rampSkew}}) {
        if (part->empty()) continue;
        const auto number = tool::parseNumber(*part);
        if (!number) return std::nullopt;
        *field = float(*number);
    }
    if (point.rampDuration < 0) return std::nullopt;
    return point;
}

struct Automation {
    std::string name;
    sonora::AutomationCurve curve;
};

std::optional<Automation> parseAutomation(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    Automation automation{text.substr(0, colon), {}};
    std::string points = text.substr(colon + 1);
    size_t from = 0;
    while (from <= points.size()) {
        const auto comma = points.find(',', from);
        const auto point = parsePoint(points.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (!point) return std::nullopt;
        automation.curve.points.push_back(*point);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return automation;
}

void automate(NodeUnderTest& made, const Automation& automation, float resolution) {
    const bool gain = made.fader && automation.name == "gain";
    const auto it = made.parameters.find(automation.name);
    if (!gain && it == made.parameters.end()) throw std::invalid_argument("the node has no property " + automation.name);
    const float current = gain ? made.fader->gain() : it->second->value();
    const auto events = automation.curve.evaluate(current, resolution);
    if (gain) made.fader->automateGain(events);
    else it->second->automate(events);
}

void renderOffline(sonora::AudioEngine& engine, platform::AVAudioFramePosition total, platform::AVAudioFrameCount cycle,
                   platform::AVAudioFile& out) {
    const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    engine.avEngine()->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, cycle);
    engine.start();
    auto buffer = platform::AVAudioPCMBuffer::make(format, cycle);
    // Cycles gather into large writes.
    constexpr platform::AVAudioFrameCount kWriteFrames = 65536;
    auto pending = platform::AVAudioPCMBuffer::make(format, kWriteFrames + cycle);
    auto flush = [&] {
        if (pending->frameLength() > 0) out.write(*pending);
        pending->setFrameLength(0);
    };
    for (platform::AVAudioFramePosition done = 0; done < total; done += cycle) {
        const auto n = platform::AVAudioFrameCount(std::min<platform::AVAudioFramePosition>(cycle, total - done));
        if (engine.avEngine()->renderOffline(n, *buffer) != platform::AVAudioEngineManualRenderingStatus::success)
            throw std::runtime_error("the offline render failed");
        const platform::AVAudioFrameCount at = pending->frameLength();
        for (uint32_t c = 0; c < 2; ++c)
            std::copy_n(buffer->floatChannelData()[c], n, pending->floatChannelData()[c] + at);
        pending->setFrameLength(at + n);
        if (pending->frameLength() >= kWriteFrames) flush();
    }
    flush();
    engine.stop();
}

void renderRealtime(sonora::AudioEngine& engine, platform::AVAudioFramePosition total, platform::AVAudioFrameCount cycle,
                    const std::string& outPath) {
    const auto capture = std::filesystem::path(outPath).parent_path() /
                         (std::filesystem::path(outPath).filename().string() + ".capture.wav");
    const auto stream = engine.avEngine()->outputNode()->deviceStream();
    stream->open(stream->deviceID(), kRate, 2, cycle);
    stream->startCapture(capture);
    engine.start();
    // A little more than the length, then the capture is cut to it.
    std::this_thread::sleep_for(std::chrono::duration<double>(double(total) / kRate + 0.2));
    engine.stop();
    {
        const auto played = platform::AVAudioFile::forReading(capture.string());
        const auto out = platform::AVAudioFile::forWriting(outPath, tool::floatStereoSettings(kRate));
        auto buffer = platform::AVAudioPCMBuffer::make(played->processingFormat(), 65536);
        platform::AVAudioFramePosition left = total;
        while (left > 0) {
            played->read(*buffer, platform::AVAudioFrameCount(std::min<platform::AVAudioFramePosition>(65536, left)));
            if (buffer->frameLength() == 0) break;
            out->write(*buffer);
            left -= buffer->frameLength();
        }
        out->close();
        if (left > 0) throw std::runtime_error("the device played less than the length asked for");
    }
    std::filesystem::remove(capture);
}

}  // namespace

int fxCommand(int argc, char** argv) {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, float>> params;
    std::vector<Automation> automations;
    double resolution = 0.05;
    double tail = 0;
    uint32_t cycle = 512;
    bool realtime = false;
    bool stop = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--realtime") {
            realtime = true;
            continue;
        }
        if (arg == "--stop") {
            stop = true;
            continue;
        }
        if (!arg.starts_with("--")) {
            positional.push_back(arg);
            continue;
        }
        if (i + 1 >= argc) return fxUsage();
        const std::string value = argv[++i];
        if (arg == "--param") {
            const auto eq = value.find('=');
            const auto number = eq == std::string::npos ? std::nullopt : tool::parseNumber(value.substr(eq + 1));
            if (!number || eq == 0) {
                tool::printError("--param takes NAME=VALUE, not " + value);
                return fxUsage();
            }
            params.emplace_back(value.substr(0, eq), float(*number));
        } else if (arg == "--automate") {
            const auto automation = parseAutomation(value);
            if (!automation) {
                tool::printError("--automate takes NAME:V@T[+R][^TAPER][~SKEW][,...], not " + value);
                return fxUsage();
            }
            automations.push_back(*automation);
        } else if (arg == "--resolution") {
            const auto r = tool::parseNumber(value);
            if (!r || !(*r > 0)) {
                tool::printError("--resolution takes a positive number of seconds, not " + value);
                return fxUsage();
            }
            resolution = *r;
        } else if (arg == "--tail") {
            const auto s = tool::parseNonNegative(value);
            if (!s) return fxUsage();
            tail = *s;
        } else if (arg == "--cycle") {
            const auto n = tool::parseCount(value);
            if (!n || *n == 0 || *n > 4096) {
                tool::printError("--cycle takes 1 to 4096 frames, not " + value);
                return fxUsage();
            }
            cycle = *n;
        } else {
            return fxUsage();
        }
    }
    if (positional.size() != 3) return fxUsage();

    auto input = readInput(positional[1]);
    const auto total = platform::AVAudioFramePosition(input[0].size()) + platform::AVAudioFramePosition(std::llround(tail * kRate));
    auto source = std::make_shared<BufferSource>(std::move(input));
    NodeUnderTest made = makeNode(positional[0], source);
    for (const auto& [name, value] : params) setProperty(made, name, value);
    if (stop) made.timeEffect ? made.timeEffect->stop() : made.node->stop();

    sonora::AudioEngine engine;
    engine.setOutput(made.node);
    for (const Automation& automation : automations) automate(made, automation, float(resolution));
    if (realtime) {
        renderRealtime(engine, total, cycle, positional[2]);
    } else {
        const auto out = platform::AVAudioFile::forWriting(positional[2], tool::floatStereoSettings(kRate));
        renderOffline(engine, total, cycle, *out);
        out->close();
    }
    return 0;
}

int callbackCommand(int argc, char** argv) {
    uint32_t notes = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg != "--notes" || i + 1 >= argc) return tool::printUsage("usage: sonora-tool callback [--notes K]\n");
        const auto k = tool::parseCount(argv[++i]);
        if (!k) return tool::printUsage("usage: sonora-tool callback [--notes K]\n");
        notes = *k;
    }
    int qtArgc = 1;
    char name[] = "sonora-tool";
    char* qtArgv[] = {name, nullptr};
    QCoreApplication application(qtArgc, qtArgv);

    auto instrument = std::make_shared<sonora::CallbackInstrument>([](uint8_t status, uint8_t data1, uint8_t data2) {
        std::cout << int(status) << " " << int(data1) << " " << int(data2) << "\n";
    });
    sonora::AudioEngine engine;
    engine.setOutput(instrument);
    const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    engine.avEngine()->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, 512);
    engine.start();
    for (uint32_t i = 0; i < notes; ++i) sonora::kernelAU(*instrument).sendNoteOn(uint8_t(60 + i % 64), 100);
    auto buffer = platform::AVAudioPCMBuffer::make(format, 512);
    engine.avEngine()->renderOffline(512, *buffer);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    engine.stop();
    std::cout.flush();
    return 0;
}
