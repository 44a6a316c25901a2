// sonora-tool's kernel-node commands (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool fx NODE IN OUT [--param NAME=VALUE]... [--automate NAME:POINT[,POINT]...]
//                  [--resolution R] [--tail S] [--cycle N] [--realtime] [--stop] [--meters]
//        IN (44100 Hz, mono or stereo) plays from frame 0 through NODE (a name of fx::makers()),
//        the engine's output; rendered offline in calls of N frames (default 512) for IN's length
//        plus S seconds into OUT (32-bit float, 44100 Hz stereo, container by extension). With
//        --realtime the graph plays on the output device (the null device) and OUT is what it
//        played, cut to the same length. A POINT is V@T[+R][^TAPER][~SKEW]; the points go through
//        AutomationCurve.evaluate(initialValue: the current value, resolution: R, default 0.05).
//        --param preset=N loads factory preset N on nodes that have them; --stop calls the node's
//        stop() before rendering; --meters prints "meters V7 V8 V9" (the dynamics meters) after it.
//   sonora-tool callback [--notes K]
//        K note-ons (note 60 + i mod 64, velocity 100) on a CallbackInstrument, one offline cycle,
//        50 ms of main loop; prints each message the closure receives as "STATUS D1 D2".
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolSupport.h"
#include "sonora-tool-fx.h"
#include "sonora-tool-fx-time.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Settings/Settings.h"
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
#include "Sonora/Nodes/Effects/RingModulator.h"
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
#include <functional>
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

constexpr double kRate = tool::kInputRate;

int fxUsage() {
    std::string names;
    for (const auto& [name, maker] : fx::makers()) names += (names.empty() ? "" : " | ") + name;
    const std::string text =
        "usage: sonora-tool fx NODE IN OUT [--param NAME=VALUE]... [--automate NAME:POINT[,POINT]...]\n"
        "                      [--resolution R] [--tail S] [--cycle N] [--realtime] [--stop] [--meters]\n"
        "       NODE: " + names + "\n"
        "       POINT: V@T[+R][^TAPER][~SKEW]\n";
    return tool::printUsage(text.c_str());
}

fx::Subject faderSubject(const std::shared_ptr<sonora::Node>& input) {
    auto fader = std::make_shared<sonora::Fader>(input);
    fx::Subject subject = fx::subjectOf(fader);
    subject.properties["gain"] = {[fader] { return fader->gain(); }, [fader](float v) { fader->setGain(v); },
                                  [fader](const auto& events) { fader->automateGain(events); }};
    subject.properties["gainDecibels"] = {[fader] { return fader->gainDecibels(); },
                                          [fader](float v) { fader->setGainDecibels(v); }, nullptr};
    return subject;
}

template <class N>
fx::Maker plain() {
    return [](const std::shared_ptr<sonora::Node>& input) { return fx::subjectOf(std::make_shared<N>(input)); };
}

// The dynamics nodes: with their three meters.
template <class N>
fx::Maker metered() {
    return [](const std::shared_ptr<sonora::Node>& input) {
        auto node = std::make_shared<N>(input);
        fx::Subject subject = fx::subjectOf(node);
        subject.meters = [node] {
            return std::array<float, 3>{node->allParametersValue7(), node->allParametersValue8(),
                                        node->allParametersValue9()};
        };
        return subject;
    };
}

// The reverb and time nodes: their properties are plain ones, set by name.
fx::Maker timeEffect(const std::string& name) {
    return [name](const std::shared_ptr<sonora::Node>& input) {
        auto made = makeTimeEffectNode(name, input);
        if (!made) throw std::invalid_argument("no node is called " + name);
        fx::Subject subject = fx::subjectOf(made->node);
        subject.stop = made->stop;
        subject.setByName = made->set;
        subject.loadFactoryPreset = [set = made->set](int preset) { set("preset", float(preset)); };
        return subject;
    };
}

void setProperty(fx::Subject& subject, const std::string& name, float value) {
    if (name == "preset" && subject.loadFactoryPreset) return subject.loadFactoryPreset(int(value));
    const auto it = subject.properties.find(name);
    if (it != subject.properties.end()) return it->second.set(value);
    if (subject.setByName) return subject.setByName(name, value);
    throw std::invalid_argument("the node has no property " + name);
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

void automate(fx::Subject& subject, const Automation& automation, float resolution) {
    const auto it = subject.properties.find(automation.name);
    if (it == subject.properties.end() || !it->second.automate)
        throw std::invalid_argument("the node has no automatable property " + automation.name);
    it->second.automate(automation.curve.evaluate(it->second.get(), resolution));
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

namespace fx {

Subject subjectOf(std::shared_ptr<sonora::Node> node) {
    Subject subject;
    for (const auto& parameter : node->parameters()) {
        subject.properties[parameter->def().identifier] = {
            [parameter] { return parameter->value(); }, [parameter](float v) { parameter->setValue(v); },
            [parameter](const std::vector<sonora::AutomationEvent>& events) { parameter->automate(events); }};
    }
    subject.stop = [node] { node->stop(); };
    subject.node = std::move(node);
    return subject;
}

const std::map<std::string, Maker>& makers() {
    static const std::map<std::string, Maker> table = {
        {"fader", faderSubject},
        {"stereoFieldLimiter", plain<sonora::StereoFieldLimiter>()},
        {"delay", plain<sonora::Delay>()},
        {"decimator", plain<sonora::Decimator>()},
        {"distortion", plain<sonora::Distortion>()},
        {"ringModulator", plain<sonora::RingModulator>()},
        {"compressor", metered<sonora::Compressor>()},
        {"dynamicsProcessor", metered<sonora::DynamicsProcessor>()},
        {"expander", metered<sonora::Expander>()},
        {"peakLimiter", plain<sonora::PeakLimiter>()},
        {"bandPassFilter", plain<sonora::BandPassFilter>()},
        {"highPassFilter", plain<sonora::HighPassFilter>()},
        {"highShelfFilter", plain<sonora::HighShelfFilter>()},
        {"lowPassFilter", plain<sonora::LowPassFilter>()},
        {"lowShelfFilter", plain<sonora::LowShelfFilter>()},
        {"parametricEQ", plain<sonora::ParametricEQ>()},
        {"reverb", timeEffect("reverb")},
        {"timePitch", timeEffect("timePitch")},
        {"variSpeed", timeEffect("variSpeed")},
    };
    return table;
}

}  // namespace fx

int fxCommand(int argc, char** argv) {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, float>> params;
    std::vector<Automation> automations;
    double resolution = 0.05;
    double tail = 0;
    uint32_t cycle = 512;
    bool realtime = false;
    bool stop = false;
    bool meters = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--realtime" || arg == "--stop" || arg == "--meters") {
            (arg == "--realtime" ? realtime : arg == "--stop" ? stop : meters) = true;
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

    // Offline, the input streams through the node as it renders; on the device the render thread
    // must not read files, so it plays from memory.
    std::shared_ptr<sonora::Node> source;
    std::shared_ptr<tool::FileSource> fileSource;
    platform::AVAudioFramePosition length = 0;
    if (realtime) {
        auto input = tool::readInput(positional[1]);
        length = platform::AVAudioFramePosition(input[0].size());
        source = std::make_shared<tool::BufferSource>(std::move(input));
    } else {
        fileSource = std::make_shared<tool::FileSource>(positional[1]);
        length = fileSource->length();
        source = fileSource;
    }
    const auto total = length + platform::AVAudioFramePosition(std::llround(tail * kRate));
    const auto maker = fx::makers().find(positional[0]);
    if (maker == fx::makers().end()) {
        tool::printError("no node is called " + positional[0]);
        return fxUsage();
    }
    fx::Subject subject = maker->second(source);
    for (const auto& [name, value] : params) setProperty(subject, name, value);
    if (stop) subject.stop();
    if (meters && !subject.meters) throw std::invalid_argument(positional[0] + " has no meters");

    sonora::AudioEngine engine;
    engine.setOutput(subject.node);
    for (const Automation& automation : automations) automate(subject, automation, float(resolution));
    if (realtime) {
        renderRealtime(engine, total, cycle, positional[2]);
    } else {
        const auto out = platform::AVAudioFile::forWriting(positional[2], tool::floatStereoSettings(kRate));
        renderOffline(engine, total, cycle, *out);
        // A tool's output need not wait for the disk; the system writes it back in its own time.
        out->closeWithoutSync();
        try {
            fileSource->checkReads();
        } catch (...) {
            std::filesystem::remove(positional[2]);
            throw;
        }
    }
    if (meters) {
        const auto values = subject.meters();
        std::cout << "meters " << values[0] << " " << values[1] << " " << values[2] << "\n";
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

    uint32_t printed = 0;
    auto instrument = std::make_shared<sonora::CallbackInstrument>([&printed](uint8_t status, uint8_t data1, uint8_t data2) {
        std::cout << int(status) << " " << int(data1) << " " << int(data2) << "\n";
        ++printed;
    });
    sonora::AudioEngine engine;
    engine.setOutput(instrument);
    const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    engine.avEngine()->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, 512);
    engine.start();
    for (uint32_t i = 0; i < notes; ++i) sonora::kernelAU(*instrument).sendNoteOn(uint8_t(60 + i % 64), 100);
    auto buffer = platform::AVAudioPCMBuffer::make(format, 512);
    engine.avEngine()->renderOffline(512, *buffer);
    // The instrument's timer hands over everything the render queued at once, when the main loop
    // next runs it (a loaded machine may take a while); a moment more shows whether anything follows.
    const auto pump = [](std::chrono::steady_clock::duration length, const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + length;
        while (!done() && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    if (notes > 0) pump(std::chrono::seconds(20), [&printed] { return printed > 0; });
    pump(std::chrono::milliseconds(50), [] { return false; });
    engine.stop();
    std::cout.flush();
    return 0;
}
