// midi-fuzz: feeds mutated bytes to the MIDI parsers and reports crashes, hangs and exceptions.
//
//   midi-fuzz TARGET [--seconds S | --runs N] [--seed N] [PATH...]
//
// TARGET: smf (bytes → MIDIFile and every view of it), smfload (bytes → a platform music sequence
// through AppleSequencer, every track's listings and dump, written out and loaded again with the
// same number of notes), packets (bytes as a packet list of that
// size → packets → events), ump (bytes as Universal MIDI Packet words), ble (bytes as a MIDI over
// Bluetooth LE payload), aupreset (bytes as a sampler preset; its own errors are the expected
// outcome of bad input, anything else fails). PATHs are seed files or folders of them, each run once first. An input
// that throws, crashes or runs longer than a second of CPU time (five under the sanitizers) is
// saved as midi-fuzz-TARGET-N.bin in the working folder. Prints "midi-fuzz TARGET: R runs, S s,
// F failures"; exits 0 when F is 0.
//
// Built with -DMIDI_FUZZ_LIBFUZZER (clang, -fsanitize=fuzzer) the same targets become one
// libFuzzer entry point; MIDI_FUZZ_TARGET in the environment picks the target.

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/MIDI/MIDI.h"
#include "Sonora/MIDI/MIDIFile/MIDIFile.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileTrackNoteMap.h"
#include "Sonora/MIDI/MIDIPacketSequence.h"
#include "Sonora/Sequencing/AppleSequencer/AppleSequencer.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

// Keeps results observable so that the optimiser cannot drop the work.
volatile size_t sink = 0;

void fuzzSMF(const Bytes& bytes) {
    const sonora::MIDIFile file(bytes, "fuzz.mid");
    sink = sink + file.format() + file.numberOfTracks() + size_t(file.timeDivision());
    sink = sink + size_t(file.ticksPerBeat().value_or(0) + file.framesPerSecond().value_or(0) +
                         file.ticksPerFrame().value_or(0));
    sink = sink + (file.timeFormat() ? 1 : 0) + (file.headerChunk() ? 1 : 0);
    for (const auto& chunk : file.trackChunks()) {
        sink = sink + chunk.isValid() + chunk.length();
        for (const auto& event : chunk.parsedEvents()) {
            sink = sink + event.messageBytes().size() + event.typeByte().value_or(0) +
                   size_t(chunk.positionInBeats(event).value_or(0));
            if (const auto midiEvent = sonora::MIDIEvent::fileEvent(event, chunk.timeFormat(), chunk.timeDivision()))
                sink = sink + midiEvent->description().size();
        }
    }
    const auto tracks = file.tracks();
    for (const auto& track : tracks) {
        sink = sink + (track.name() ? track.name()->size() : 0) + track.events().size() + track.channelEvents().size();
        for (const auto& meta : track.metaEvents()) sink = sink + meta.description().size();
        sink = sink + size_t(track.length());
    }
    if (const auto tempo = file.tempoTrack()) sink = sink + size_t(std::isfinite(tempo->tempo()));
    for (size_t i = 0; i < std::max<size_t>(tracks.size(), 1); ++i) {
        const sonora::MIDIFileTrackNoteMap map(file, int64_t(i));
        sink = sink + map.notes().size() + size_t(map.noteSpan());
        sink = sink + size_t(std::isfinite(map.trackEnd()));
    }
}

size_t noteCount(const sonora::AppleSequencer& sequencer) {
    size_t notes = 0;
    for (const auto& track : sequencer.tracks) notes += track->noteData().value_or(std::vector<sonora::AppleMIDIEvent>{}).size();
    return notes;
}

void fuzzSMFLoad(const Bytes& bytes) {
    const auto sequencer = sonora::AppleSequencer::fromData(bytes);
    for (const auto& [beat, bpm] : sequencer->allTempoEvents()) sink = sink + size_t(std::isfinite(beat + bpm));
    for (const auto& [beat, signature] : sequencer->allTimeSignatureEvents())
        sink = sink + signature.description().size() + size_t(std::isfinite(beat));
    sink = sink + size_t(std::isfinite(sequencer->getTempo(1))) + sequencer->timeResolution();
    for (const auto& track : sequencer->tracks) {
        for (const auto& line : track->debugLines()) sink = sink + line.size();
        sink = sink + track->programChangeEvents().size() + track->getMIDINoteData().size();
    }
    const auto data = sequencer->genData();
    // A save fails only for what a file cannot hold (at 480 PPQ, a gap beyond 0x0FFFFFFF ticks, or
    // more than 65535 tracks), which a mutated file easily asks for.
    if (!data) return;
    const auto again = sonora::AppleSequencer::fromData(*data);
    if (noteCount(*again) != noteCount(*sequencer))
        throw std::runtime_error("notes " + std::to_string(noteCount(*sequencer)) + " became " +
                                 std::to_string(noteCount(*again)) + " through a write and a load");
}

void fuzzPackets(const Bytes& bytes) {
    sonora::MIDI::sharedInstance().resetSysExStateForTesting();
    // The list in memory of exactly its size, aligned as the platform hands it over.
    std::vector<uint64_t> storage(bytes.size() / 8 + 1);
    if (!bytes.empty()) std::memcpy(storage.data(), bytes.data(), bytes.size());
    const auto* list = reinterpret_cast<const platform::MIDIPacketList*>(storage.data());
    sonora::MIDIPacketListIterator packets(list, bytes.size());
    while (const auto packet = packets.next())
        for (const auto& event : sonora::packetEvents(*packet)) sink = sink + event.description().size();
    for (const auto& event : sonora::MIDIEvent::eventsFromPacketList(list, bytes.size()))
        sink = sink + event.data.size();
    sonora::MIDI::sharedInstance().resetSysExStateForTesting();
}

void fuzzUMP(const Bytes& bytes) {
    static sonora::MIDI midi;
    midi.resetSysExStateForTesting();
    std::vector<uint32_t> words(bytes.size() / 4);
    if (!words.empty()) std::memcpy(words.data(), bytes.data(), words.size() * 4);
    for (const auto& event : midi.processUMPMessages(words, 1)) sink = sink + event.data.size();
    // The same bytes as one event packet whose word count may lie.
    platform::MIDIEventPacket packet{};
    if (!bytes.empty()) std::memcpy(&packet, bytes.data(), std::min(bytes.size(), sizeof packet));
    for (const auto& event : midi.processUMPMessages(packet)) sink = sink + event.data.size();
}

void fuzzBLE(const Bytes& bytes) {
    sonora::MIDI::sharedInstance().resetSysExStateForTesting();
    for (const auto& event : sonora::MIDIEvent::eventsFromTimestampedPayload(bytes))
        sink = sink + event.description().size();
}

void fuzzAUPreset(const Bytes& bytes) {
    try {
        const auto preset = platform::detail::parseAUPreset(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), "/nonexistent");
        for (const auto& layer : preset.layers) sink = sink + layer.zones.size() + size_t(layer.voiceCount);
    } catch (const platform::NSErrorException&) {
    }
}

using Target = void (*)(const Bytes&);

Target targetNamed(const std::string& name) {
    if (name == "smf") return fuzzSMF;
    if (name == "smfload") return fuzzSMFLoad;
    if (name == "packets") return fuzzPackets;
    if (name == "ump") return fuzzUMP;
    if (name == "ble") return fuzzBLE;
    if (name == "aupreset") return fuzzAUPreset;
    return nullptr;
}

void quiet() {
    platform::LogSink::setEchoToStderr(false);
    sonora::Settings::setEnableLogging(true);
}

}  // namespace

#ifdef MIDI_FUZZ_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Target target = [] {
        quiet();
        const char* name = std::getenv("MIDI_FUZZ_TARGET");
        return targetNamed(name ? name : "smf");
    }();
    if (target) target(Bytes(data, data + size));
    return 0;
}
#else

namespace {

// Seeds when no path is given: one small valid input per target.
Bytes builtInSeed(const std::string& target) {
    if (target == "smf" || target == "smfload")
        return {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0, 0x60, 'M', 'T', 'r', 'k', 0, 0, 0, 11, 0, 0xFF,
                0x51, 3, 7, 0xA1, 0x20, 0, 0xFF, 0x2F, 0, 'M', 'T', 'r', 'k', 0, 0, 0, 18, 0, 0x90, 60, 100,
                0x60, 60, 0, 0, 0xF0, 2, 0x43, 0xF7, 0, 0xF7, 1, 2, 0, 0xFF, 0x2F, 0};
    if (target == "packets")
        return {3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0xF0, 0x43, 0x12, 2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0x00,
                0xF7, 3, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0x90, 60, 100, 0xF8};
    if (target == "ump")
        return {0x64, 0x3C, 0x90, 0x20, 0x56, 0x34, 0x12, 0x30, 0x00, 0x00, 0x00, 0x56, 0x02, 0x01, 0x16, 0x30,
                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50};
    if (target == "aupreset") {
        const std::string preset =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Instrument</key><dict>"
            "<key>Layers</key><array><dict><key>Envelopes</key><array><dict><key>Stages</key><array><dict>"
            "<key>stage</key><integer>1</integer><key>time</key><real>0.01</real></dict></array></dict></array>"
            "<key>Zones</key><array><dict><key>loop enabled</key><true/><key>max key</key><integer>127</integer>"
            "<key>root key</key><integer>60</integer><key>waveform</key><integer>268435457</integer></dict></array>"
            "<key>trigger mode</key><integer>11</integer><key>voice count</key><integer>4</integer></dict></array>"
            "</dict><key>file-references</key><dict><key>Sample:268435457</key><string>a.wav</string></dict>"
            "<key>data</key><data>AAAA</data></dict></plist>\n";
        return Bytes(preset.begin(), preset.end());
    }
    return {0x80, 0x80, 0x90, 60, 100, 0x81, 62, 0, 0x82, 0xF0, 1, 2, 0xF7};
}

class Fuzzer {
public:
    // Call on the thread that runs the inputs: the watchdog reads that thread's CPU clock.
    Fuzzer(std::string target, Target run, uint64_t seed) : name_(std::move(target)), run_(run), random_(seed) {
        if (pthread_getcpuclockid(pthread_self(), &runnerClock_) != 0) runnerClock_ = CLOCK_MONOTONIC;
    }

    void addSeed(Bytes bytes) { pool_.push_back(std::move(bytes)); }

    // Runs one input under the watchdog; false when it failed.
    bool runOne(const Bytes& input) {
        current_ = &input;
        started_.store(runnerTime(), std::memory_order_release);
        ++runs_;
        bool ok = true;
        try {
            run_(input);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "midi-fuzz %s: exception: %s\n", name_.c_str(), e.what());
            ok = false;
        }
        started_.store(0, std::memory_order_release);
        if (!ok) save(input);
        return ok;
    }

    Bytes mutate() {
        Bytes input = pool_[pick(pool_.size())];
        const size_t steps = 1 + pick(8);
        for (size_t i = 0; i < steps; ++i) mutateOnce(input);
        if (input.size() > kMaximumSize) input.resize(kMaximumSize);
        // Keep a few mutants so that later mutations stack on earlier ones.
        if (pick(16) == 0 && pool_.size() < 4096) pool_.push_back(input);
        return input;
    }

    void startWatchdog() {
        std::thread([this] {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                // CPU time of the running input, so that a loaded machine does not look like a hang.
                const int64_t start = started_.load(std::memory_order_acquire);
                if (start != 0 && runnerTime() - start > kHangLimit) {
                    std::fprintf(stderr, "midi-fuzz %s: an input ran longer than %lld s of CPU time\n", name_.c_str(),
                                 static_cast<long long>(kHangLimit / 1'000'000'000));
                    crashed();
                }
            }
        }).detach();
    }

    // From a signal handler, the sanitizer's death callback or the watchdog: save the input in
    // flight and end with the summary.
    void crashed() {
        if (const Bytes* input = current_) save(*input);
        summary(current_ ? 0 : 1);
        std::_Exit(1);
    }

    void summary(int extraFailures) {
        const double seconds = double(now() - begin_) / 1e9;
        std::fprintf(stdout, "midi-fuzz %s: %llu runs, %.1f s, %llu failures\n", name_.c_str(),
                     static_cast<unsigned long long>(runs_.load()), seconds,
                     static_cast<unsigned long long>(failures_.load() + extraFailures));
        std::fflush(stdout);
    }

    uint64_t failures() const { return failures_; }
    double elapsed() const { return double(now() - begin_) / 1e9; }
    uint64_t runs() const { return runs_; }

private:
    static constexpr size_t kMaximumSize = 1 << 20;
    // An input that runs longer than this is a hang: 1 s, and 5 s under the sanitizers, which
    // make a large real file's every view take over a second on their own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__) || defined(__SANITIZE_THREAD__)
    static constexpr int64_t kHangLimit = 5'000'000'000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer) || __has_feature(thread_sanitizer)
    static constexpr int64_t kHangLimit = 5'000'000'000;
#else
    static constexpr int64_t kHangLimit = 1'000'000'000;
#endif
#else
    static constexpr int64_t kHangLimit = 1'000'000'000;
#endif

    static int64_t now() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    int64_t runnerTime() const {
        timespec t{};
        clock_gettime(runnerClock_, &t);
        return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec + 1;
    }

    size_t pick(size_t n) { return n ? size_t(random_() % n) : 0; }

    void save(const Bytes& input) {
        const std::string path = "midi-fuzz-" + name_ + "-" + std::to_string(failures_.load()) + ".bin";
        ++failures_;
        // open/write only: this may run in a signal handler.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            [[maybe_unused]] const auto written = ::write(fd, input.data(), input.size());
            ::close(fd);
        }
        std::fprintf(stderr, "midi-fuzz %s: failing input saved as %s\n", name_.c_str(), path.c_str());
    }

    // Offsets of chunk length fields ("MThd"/"MTrk"/any 4 letters followed by a length).
    std::vector<size_t> chunkLengthOffsets(const Bytes& b) {
        std::vector<size_t> offsets;
        for (size_t i = 0; i + 8 <= b.size(); ++i)
            if (b[i] == 'M' && b[i + 1] == 'T' && (b[i + 2] == 'h' || b[i + 2] == 'r')) offsets.push_back(i + 4);
        return offsets;
    }

    void mutateOnce(Bytes& b) {
        static constexpr uint8_t kInteresting[] = {0x00, 0x7F, 0x80, 0xFF, 0xF0, 0xF7, 0x90, 0x2F, 0x51};
        switch (pick(9)) {
        case 0:  // bit flip
            if (!b.empty()) b[pick(b.size())] ^= uint8_t(1u << pick(8));
            break;
        case 1:  // interesting byte
            if (!b.empty()) b[pick(b.size())] = kInteresting[pick(std::size(kInteresting))];
            break;
        case 2:  // truncation
            if (!b.empty()) b.resize(pick(b.size()));
            break;
        case 3: {  // splice with another input
            const Bytes& other = pool_[pick(pool_.size())];
            if (other.empty()) break;
            const size_t from = pick(other.size());
            const size_t at = pick(b.size() + 1);
            const size_t n = 1 + pick(std::min<size_t>(other.size() - from, 256));
            b.insert(b.begin() + at, other.begin() + from, other.begin() + from + n);
            break;
        }
        case 4: {  // rewritten chunk length
            const auto offsets = chunkLengthOffsets(b);
            if (offsets.empty()) break;
            const size_t at = offsets[pick(offsets.size())];
            static constexpr uint32_t kLengths[] = {0, 1, 5, 6, 0x7FFFFFFF, 0xFFFFFFFF, 0x0FFFFFFF};
            uint32_t length = pick(2) ? kLengths[pick(std::size(kLengths))] : uint32_t(random_());
            if (pick(2)) length = uint32_t((b[at] << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3]) +
                                  uint32_t(int(pick(9)) - 4);
            for (int k = 0; k < 4; ++k) b[at + k] = uint8_t(length >> (24 - 8 * k));
            break;
        }
        case 5: {  // a variable-length quantity: long, huge or unterminated
            static const Bytes kQuantities[] = {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, {0xFF, 0xFF, 0xFF, 0x7F},
                                                {0x81, 0x80, 0x80}, {0x7F}, {0x80}};
            const Bytes& q = kQuantities[pick(std::size(kQuantities))];
            const size_t at = pick(b.size() + 1);
            b.insert(b.begin() + at, q.begin(), q.end());
            break;
        }
        case 6: {  // delete a run
            if (b.empty()) break;
            const size_t at = pick(b.size());
            b.erase(b.begin() + at, b.begin() + at + 1 + pick(std::min<size_t>(b.size() - at, 16)));
            break;
        }
        case 7:  // insert a random byte
            b.insert(b.begin() + pick(b.size() + 1), uint8_t(random_()));
            break;
        default: {  // duplicate a run in place
            if (b.empty()) break;
            const size_t at = pick(b.size());
            const size_t n = 1 + pick(std::min<size_t>(b.size() - at, 64));
            const Bytes run(b.begin() + at, b.begin() + at + n);
            b.insert(b.begin() + at, run.begin(), run.end());
            break;
        }
        }
    }

    std::string name_;
    Target run_;
    std::mt19937_64 random_;
    std::vector<Bytes> pool_;
    std::atomic<const Bytes*> current_{nullptr};
    std::atomic<int64_t> started_{0};
    clockid_t runnerClock_ = CLOCK_MONOTONIC;
    const int64_t begin_ = now();
    // Counted by the runner, read by the watchdog when it reports a hang.
    std::atomic<uint64_t> runs_{0};
    std::atomic<uint64_t> failures_{0};
};

Fuzzer* activeFuzzer = nullptr;

extern "C" void onDeath() {
    if (activeFuzzer) activeFuzzer->crashed();
}

extern "C" void onSignal(int) { onDeath(); }

int usage() {
    std::fprintf(stderr, "usage: midi-fuzz smf|smfload|packets|ump|ble|aupreset [--seconds S | --runs N] [--seed N] [PATH...]\n");
    return 2;
}

bool readFile(const std::filesystem::path& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string name = argv[1];
    const Target target = targetNamed(name);
    if (!target) return usage();
    double seconds = 10;
    uint64_t runs = 0;
    uint64_t seed = 15;
    std::vector<std::filesystem::path> paths;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--runs" && hasValue) {
            runs = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--seed" && hasValue) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg.rfind("--", 0) == 0) {
            return usage();
        } else {
            paths.emplace_back(arg);
        }
    }
    quiet();

    Fuzzer fuzzer(name, target, seed);
    activeFuzzer = &fuzzer;
    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(onDeath);
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, onSignal);
    fuzzer.startWatchdog();

    // Seeds: every file given (folders read one level deep), each run once first.
    std::vector<std::filesystem::path> seedFiles;
    for (const auto& path : paths) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file()) seedFiles.push_back(entry.path());
        } else {
            seedFiles.push_back(path);
        }
    }
    std::sort(seedFiles.begin(), seedFiles.end());
    Bytes bytes;
    for (const auto& file : seedFiles) {
        if (!readFile(file, bytes)) {
            std::fprintf(stderr, "midi-fuzz: cannot read %s\n", file.c_str());
            continue;
        }
        fuzzer.runOne(bytes);
        fuzzer.addSeed(bytes);
    }
    const Bytes builtIn = builtInSeed(name);
    fuzzer.runOne(builtIn);
    fuzzer.addSeed(builtIn);

    while (runs ? fuzzer.runs() < runs : fuzzer.elapsed() < seconds) fuzzer.runOne(fuzzer.mutate());
    fuzzer.summary(0);
    return fuzzer.failures() == 0 ? 0 : 1;
}
#endif
