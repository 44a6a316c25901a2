// The audio graph against peers and budgets measured in the same run:
//   - offline mix-down of 8 and 64 stereo 3-minute clips through player nodes and a Mixer into a
//     float file, against `sox -m` of the same clips (all at 44.1 kHz, then half of them at 48 kHz,
//     resampled by us and by sox); ratio = ours / sox wall time (below 1.0: we are faster), with the
//     CPU-time ratio beside it (sox resamples in pipe processes running in parallel);
//   - real-time cost of 128 clip players on the null output at 512-frame cycles, as a share of the
//     cycle's time (average and worst cycle; goal: average ≤ 10 %, no overrun), 10 s by default,
//     60 s with --long; then the same with a Fader after every player (the Faders' own share is
//     the difference; goal ≤ 5 %);
//   - building, connecting and starting a 32-clip graph (goal ≤ 20 ms), with open file descriptors
//     and memory over 100 rebuilds.
//
// Fixtures: 4 distinct clips per rate made with sox (3 minutes of stereo 16-bit noise-and-sine WAV);
// N clips use them round-robin, each clip with a reader of its own, every clip at gain 1/N.
#include "BenchSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "SonoraEX/Nodes/Fader.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;
using namespace bench;

namespace {

constexpr double kRate = 44100;
constexpr int kClipSeconds = 180;
constexpr int kDistinctClips = 4;
constexpr AVAudioFrameCount kChunk = 4096;

struct Timing {
    double wall = 0;
    double cpu = 0;  // user + system, of this process or of the children
};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

Timing measure(const std::function<void()>& work, int who) {
    const double cpu0 = cpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), cpuSeconds(who) - cpu0};
}

// A clip: a platform player node scheduled at frame 0 of the mix.
class ClipPlayer : public sonora::Node {
public:
    ClipPlayer(const fs::path& path, float gain) : file_(AVAudioFile::forReading(URL(path))) { player_->setVolume(gain); }
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<AVAudioNode> avAudioNode() const override { return player_; }
    void schedule(std::optional<AVAudioTime> when) {
        player_->scheduleFile(file_, when);
        player_->play();
    }

private:
    std::shared_ptr<AVAudioPlayerNode> player_ = std::make_shared<AVAudioPlayerNode>();
    std::shared_ptr<AVAudioFile> file_;
};

std::vector<fs::path> clipPaths(const std::vector<fs::path>& at44, const std::vector<fs::path>& at48, int count,
                                bool mixedRates) {
    std::vector<fs::path> paths;
    for (int i = 0; i < count; ++i) {
        const bool use48 = mixedRates && i % 2 == 1;
        paths.push_back((use48 ? at48 : at44)[size_t(i / (mixedRates ? 2 : 1)) % kDistinctClips]);
    }
    return paths;
}

Timing oursMix(const std::vector<fs::path>& paths, const fs::path& out) {
    return measure(
        [&] {
            std::vector<std::shared_ptr<ClipPlayer>> clips;
            std::vector<std::shared_ptr<sonora::Node>> inputs;
            for (const auto& path : paths) {
                clips.push_back(std::make_shared<ClipPlayer>(path, 1.0f / float(paths.size())));
                inputs.push_back(clips.back());
            }
            sonora::AudioEngine engine;
            engine.setOutput(std::make_shared<sonora::Mixer>(inputs));
            auto file = AVAudioFile::forWriting(
                URL(out), AVAudioFormat::standardFormatWithSampleRate(kRate, 2).settings());
            engine.renderToFile(*file, kChunk, kClipSeconds, [&] {
                for (auto& clip : clips) clip->schedule(AVAudioTime(int64_t(0), kRate));
            });
            file->close();
        },
        RUSAGE_SELF);
}

Timing soxMix(const std::vector<fs::path>& paths, const fs::path& out) {
    // Every clip at 1/N, as ours, so that neither side clips.
    const std::string gain = std::to_string(1.0 / double(paths.size()));
    std::string command = "sox -V1 -m";
    for (const auto& path : paths) {
        const bool resample = path.filename().string().starts_with("r48");
        command += " -v " + gain + " " + (resample ? "\"|sox " + q(path) + " -p rate 44100\"" : q(path));
    }
    command += " -e floating-point -b 32 " + q(out);
    return measure([&] { mustRun(command); }, RUSAGE_CHILDREN);
}

void mixRow(const std::string& what, const Timing& ours, const Timing& sox) {
    std::printf("%-40s ratio %6.3f (cpu %6.3f)   ours %7.2f s   sox -m %7.2f s   (goal <= 1.0)\n", what.c_str(),
                ours.wall / sox.wall, ours.cpu / sox.cpu, ours.wall, sox.wall);
    std::fflush(stdout);
}

// An effect-like unit at the top of the graph that passes its input through and notes, per cycle,
// how long after the cycle's due time the graph below it finished.
class CycleTimer : public AUAudioUnit {
public:
    explicit CycleTimer(size_t capacity) : AUAudioUnit({}, 1, 1), costs_(capacity) {
        setInternalRenderBlock([this](AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timestamp,
                                      AUAudioFrameCount frames, NSInteger, AudioBufferList* output,
                                      const AURenderEvent*, AURenderPullInputBlock pull) {
            if (pull) pull(flags, timestamp, frames, 0, output);
            const size_t n = count_.load(std::memory_order_relaxed);
            if (n < costs_.size() && (timestamp->mFlags & kAudioTimeStampHostTimeValid)) {
                costs_[n] = int64_t(mach_absolute_time()) - int64_t(timestamp->mHostTime);
                count_.store(n + 1, std::memory_order_release);
            }
            return noErr;
        });
    }
    std::vector<int64_t> costs() const {
        return {costs_.begin(), costs_.begin() + int64_t(count_.load(std::memory_order_acquire))};
    }

private:
    std::vector<int64_t> costs_;
    std::atomic<size_t> count_{0};
};

class TimerNode : public sonora::Node {
public:
    TimerNode(std::shared_ptr<sonora::Node> input, size_t capacity)
        : input_(std::move(input)), unit_(std::make_shared<CycleTimer>(capacity)),
          node_(std::make_shared<AVAudioUnit>(unit_)) {}
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {input_}; }
    std::shared_ptr<AVAudioNode> avAudioNode() const override { return node_; }
    const CycleTimer& timer() const { return *unit_; }

private:
    std::shared_ptr<sonora::Node> input_;
    std::shared_ptr<CycleTimer> unit_;
    std::shared_ptr<AVAudioUnit> node_;
};

void realtimeCost(const std::vector<fs::path>& paths, int seconds, bool faders) {
    const double period = 512.0 / kRate;
    std::vector<std::shared_ptr<ClipPlayer>> clips;
    std::vector<std::shared_ptr<sonora::Node>> inputs;
    for (const auto& path : paths) {
        clips.push_back(std::make_shared<ClipPlayer>(path, 1.0f / float(paths.size())));
        if (faders) inputs.push_back(std::make_shared<sonora::Fader>(clips.back(), 0.5f));
        else inputs.push_back(clips.back());
    }
    auto timer = std::make_shared<TimerNode>(std::make_shared<sonora::Mixer>(inputs),
                                             size_t(seconds / period) + 1000);
    sonora::AudioEngine engine;
    engine.setOutput(timer);
    const auto stream = engine.avEngine()->outputNode()->deviceStream();
    stream->open(stream->deviceID(), kRate, 2, 512);
    engine.start();
    for (auto& clip : clips) clip->schedule(std::nullopt);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    engine.stop();

    auto costs = timer->timer().costs();
    // The first cycles include the players' start (reader warm-up); they are reported apart.
    const size_t warmup = std::min<size_t>(costs.size(), 20);
    std::vector<int64_t> steady(costs.begin() + int64_t(warmup), costs.end());
    double sum = 0;
    int64_t worst = 0;
    for (int64_t c : steady) {
        sum += double(c);
        worst = std::max(worst, c);
    }
    std::sort(steady.begin(), steady.end());
    const double mean = steady.empty() ? 0 : sum / double(steady.size()) * 1e-9;
    const double p99 = steady.empty() ? 0 : double(steady[steady.size() * 99 / 100]) * 1e-9;
    int64_t warmWorst = 0;
    for (size_t i = 0; i < warmup; ++i) warmWorst = std::max(warmWorst, costs[i]);
    std::printf("%-40s share %5.1f %% average, %5.1f %% p99, %5.1f %% worst (first %zu cycles: %.1f %%)   "
                "%zu cycles, %llu overruns on %s   (goal: average <= 10 %%, no overrun)\n",
                ("real time, " + std::to_string(paths.size()) + " players" + (faders ? " + Faders" : "") +
                 ", 512-frame cycles").c_str(),
                100 * mean / period, 100 * p99 / period, 100 * double(worst) * 1e-9 / period, warmup,
                100 * double(warmWorst) * 1e-9 / period, costs.size(),
                static_cast<unsigned long long>(stream->overrunCount()),
                stream->deviceID() == 2 ? "the null output" : "a real device");
    std::fflush(stdout);
}

size_t openDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

double residentMB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void buildCost(const std::vector<fs::path>& paths) {
    std::vector<double> times;
    size_t fdsAt10 = 0;
    double memAt10 = 0;
    for (int i = 0; i < 100; ++i) {
        std::vector<std::shared_ptr<ClipPlayer>> clips;
        std::vector<std::shared_ptr<sonora::Node>> inputs;
        sonora::AudioEngine* built = nullptr;
        std::unique_ptr<sonora::AudioEngine> engine;
        // Opening the clip files is part of the build; stopping and tearing down are not.
        const auto t = measure(
            [&] {
                for (const auto& path : paths) {
                    clips.push_back(std::make_shared<ClipPlayer>(path, 1.0f / float(paths.size())));
                    inputs.push_back(clips.back());
                }
                engine = std::make_unique<sonora::AudioEngine>();
                engine->setOutput(std::make_shared<sonora::Mixer>(inputs));
                engine->start();
                for (auto& clip : clips) clip->schedule(std::nullopt);
                built = engine.get();
            },
            RUSAGE_SELF);
        times.push_back(t.wall);
        built->stop();
        engine.reset();
        inputs.clear();
        clips.clear();
        if (i == 9) {
            fdsAt10 = openDescriptors();
            memAt10 = residentMB();
        }
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-40s ratio %6.3f   median %6.2f ms, worst %6.2f ms   (goal <= 20 ms)\n",
                ("build+connect+start, " + std::to_string(paths.size()) + " clips").c_str(), median / 0.020,
                1e3 * median, 1e3 * times.back());
    std::printf("%-40s fds %zu -> %zu, resident %.1f MB -> %.1f MB (after teardown of build 10 -> 100)\n",
                "over 100 rebuilds", fdsAt10, openDescriptors(), memAt10, residentMB());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 0);
    if (!std::getenv("TAMBERLO_LOG_STDERR")) LogSink::setEchoToStderr(false);
    int realtimeSeconds = 10;
    bool skipMix = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--long") == 0) {
            realtimeSeconds = 60;
        } else if (std::strcmp(argv[i], "--no-mix") == 0) {
            skipMix = true;
        } else {
            std::fprintf(stderr, "usage: engine_bench [--long] [--no-mix]\n");
            return 2;
        }
    }
    if (!haveTool("sox")) {
        std::fprintf(stderr, "engine_bench: sox is needed\n");
        return 1;
    }

    const fs::path dir = makeFixtureFolder();
    std::vector<fs::path> at44, at48;
    for (int i = 0; i < kDistinctClips; ++i) {
        at44.push_back(dir / ("r44_" + std::to_string(i) + ".wav"));
        at48.push_back(dir / ("r48_" + std::to_string(i) + ".wav"));
        const std::string synth = " synth " + std::to_string(kClipSeconds) + " sine " + std::to_string(300 + 70 * i) +
                                  " pinknoise gain -12";
        mustRun("sox -n -r 44100 -c 2 -b 16 " + q(at44.back()) + synth);
        mustRun("sox -n -r 48000 -c 2 -b 16 " + q(at48.back()) + synth);
    }
    std::printf("engine_bench: %d-second stereo clips, offline chunks of %u frames\n", kClipSeconds, kChunk);

    if (!skipMix) {
        for (int count : {8, 64}) {
            for (bool mixed : {false, true}) {
                const auto paths = clipPaths(at44, at48, count, mixed);
                // Warm the page cache for both sides.
                soxMix(paths, dir / "sox.wav");
                const Timing sox = soxMix(paths, dir / "sox.wav");
                const Timing ours = oursMix(paths, dir / "ours.caf");
                mixRow("offline mix, " + std::to_string(count) + " clips" + (mixed ? ", half at 48 kHz" : ""), ours,
                       sox);
                fs::remove(dir / "sox.wav");
                fs::remove(dir / "ours.caf");
            }
        }
    }
    realtimeCost(clipPaths(at44, at48, 128, false), realtimeSeconds, false);
    realtimeCost(clipPaths(at44, at48, 128, false), realtimeSeconds, true);
    buildCost(clipPaths(at44, at48, 32, false));
    fs::remove_all(dir);
    return 0;
}
