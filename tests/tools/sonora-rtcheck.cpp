// sonora-rtcheck [--cycles N] [--realtime S]
//
// Renders the check graph (every node kind of the audio layer, with parameters and automation
// changing on another thread) 200 cycles to warm up, then N offline cycles (default 2000) and S
// seconds (default 0) on the null output device, all at 512 frames, counting what the render
// thread calls while the engine's render mark is set. Prints
//   cycles C allocations A frees F locks L waits W syscalls Y overruns O
// and, when anything was counted, the first such call: its function, the node being rendered and
// the stack. Exit status: 0 when nothing was counted, 1 when something was (or the run failed, or
// a stage did not do its work: a tap that delivered nothing, a recorder that recorded nothing),
// 2 on bad arguments. Overruns are reported, not judged: they depend on the machine's load.

#include "RenderCallCounter.h"
#include "RtCheckGraph.h"
#include "ToolSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include <execinfo.h>
#include <unistd.h>

namespace {

constexpr platform::AVAudioFrameCount kFrames = 512;
constexpr uint64_t kWarmUpCycles = 200;

int usage() {
    std::fputs("usage: sonora-rtcheck [--cycles N] [--realtime S]\n", stderr);
    return 2;
}

void runEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 1); }

void renderOffline(platform::AVAudioEngine& engine, rtcheck::RtCheckGraph& graph, platform::AVAudioPCMBuffer& buffer,
                   uint64_t first, uint64_t count) {
    for (uint64_t cycle = first; cycle < first + count; ++cycle) {
        graph.beforeOfflineCycle(cycle);
        if (engine.renderOffline(kFrames, buffer) != platform::AVAudioEngineManualRenderingStatus::success)
            throw std::runtime_error("the offline render failed at cycle " + std::to_string(cycle));
        // The instrument's closure runs on this thread's event loop.
        if (cycle % 8 == 0) runEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t cycles = 2000;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        if (arg == "--cycles") {
            const auto value = tool::parseCount(argv[++i]);
            if (!value) return usage();
            cycles = *value;
        } else if (arg == "--realtime") {
            const auto value = tool::parseNonNegative(argv[++i]);
            if (!value) return usage();
            seconds = *value;
        } else {
            return usage();
        }
    }
    // Real time means the null device here, whatever the machine has.
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    int qtArgc = 1;
    char name[] = "sonora-rtcheck";
    char* qtArgv[] = {name, nullptr};
    QCoreApplication application(qtArgc, qtArgv);

    uint64_t overruns = 0;
    uint64_t rendered = 0;
    try {
        QTemporaryDir folder;
        if (!folder.isValid()) throw std::runtime_error("cannot make a temporary folder");
        rtcheck::RtCheckGraph graph(folder.path().toStdString());
        sonora::AudioEngine engine;
        engine.setOutput(graph.output());
        platform::AVAudioEngine& avEngine = *engine.avEngine();
        graph.addLabel(avEngine.outputNode().get(), "output node");
        graph.addLabel(engine.mainMixerNode()->avAudioNode().get(), "engine mixer");
        graph.addLabel(avEngine.inputNode().get(), "input node");

        const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(44100, 2);
        avEngine.enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, kFrames);
        engine.start();
        graph.start();
        const auto buffer = platform::AVAudioPCMBuffer::make(format, kFrames);
        graph.startControl(false);
        renderOffline(avEngine, graph, *buffer, 0, kWarmUpCycles);
        const uint64_t warmUp = graph.renderedCycles();
        rtcheck::arm();
        renderOffline(avEngine, graph, *buffer, kWarmUpCycles, cycles);
        graph.stopControl();
        rendered = graph.renderedCycles() - warmUp;

        if (seconds > 0) {
            engine.stop();
            avEngine.disableManualRenderingMode();
            const auto stream = avEngine.outputNode()->deviceStream();
            stream->open(stream->deviceID(), 44100, 2, kFrames);
            const uint64_t overrunsBefore = stream->overrunCount();
            const uint64_t before = graph.renderedCycles();
            engine.start();
            graph.start();
            graph.startControl(true);
            const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
            while (std::chrono::steady_clock::now() < end) {
                runEvents();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            graph.stopControl();
            engine.stop();
            overruns = stream->overrunCount() - overrunsBefore;
            rendered += graph.renderedCycles() - before;
        }
        rtcheck::disarm();

        using rtcheck::CallKind;
        std::printf("cycles %llu allocations %llu frees %llu locks %llu waits %llu syscalls %llu overruns %llu\n",
                    (unsigned long long)rendered, (unsigned long long)rtcheck::count(CallKind::allocation),
                    (unsigned long long)rtcheck::count(CallKind::free), (unsigned long long)rtcheck::count(CallKind::lock),
                    (unsigned long long)rtcheck::count(CallKind::wait), (unsigned long long)rtcheck::count(CallKind::syscall),
                    (unsigned long long)overruns);
        const auto first = rtcheck::firstCall();
        if (first.function) {
            std::printf("first: %s, rendering %s\n", first.function,
                        first.node ? graph.label(first.node).c_str() : "no node");
            std::fflush(stdout);
            backtrace_symbols_fd(first.frames, first.depth, STDOUT_FILENO);
        }
        // A stage that did nothing (a tap that delivered no buffer, an empty recording) audited nothing.
        const std::string failures = graph.check();
        if (!failures.empty()) std::fprintf(stderr, "sonora-rtcheck: %s", failures.c_str());
        return rtcheck::total() == 0 && failures.empty() ? 0 : 1;
    } catch (const std::exception& e) {
        rtcheck::disarm();
        std::fprintf(stderr, "sonora-rtcheck: %s\n", e.what());
        return 1;
    }
}
