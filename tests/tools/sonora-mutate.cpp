// sonora-mutate: damages small audio files at random and checks that the file layer survives them.
//
//   sonora-mutate DIR [--cases N] [--seed S] [--seconds T] [--megabytes M]
//
// Makes one small seed file per format (WAV, AIFF, CAF, FLAC, Ogg, MP3, M4A, AU, W64) in DIR with
// sox and ffmpeg, then runs N cases, each a seed with one damage: bits flipped, the file cut short,
// a 32-bit field of the header set to 0 or 0xFFFFFFFF, or a byte overwritten. Every case runs in a
// child process of its own that opens the file, reads every frame it promises and feeds it through
// a player's converting reader (44.1 kHz stereo), as playback and export do. A case passes when the
// child ends normally within T seconds (10) and M megabytes of peak memory (1024), the file opened
// with a clear error or delivered exactly the frames its length gives (a length that shrinks when
// the data ends early, never more frames than promised). A failing case is kept as
// DIR/failed-<case>.<ext> and named on stderr.
//
// Exit status: 0 when every case passed, 1 when one failed, 2 on bad arguments or missing tools.

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/detail/FileFeed.h"
#include "platform/foundation/NSError.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeAll(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string q(const fs::path& path) {
    std::string quoted = "'";
    for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Half a second of a tone in every format the layer reads.
bool makeSeeds(const fs::path& dir, std::vector<fs::path>& seeds) {
    const fs::path source = dir / "source.wav";
    if (std::system(("sox -n -r 22050 -c 2 -b 16 " + q(source) + " synth 0.5 sine 440 sine 660 gain -6").c_str()) != 0)
        return false;
    const std::vector<std::pair<std::string, std::string>> made = {
        {"seed.wav", "sox"},        {"seed.aiff", "sox"},          {"seed.caf", "-c:a pcm_s24le"},
        {"seed.flac", "-c:a flac"}, {"seed.ogg", "-c:a libvorbis"}, {"seed.mp3", "-c:a libmp3lame -b:a 64k"},
        {"seed.m4a", "-c:a aac -b:a 64k"}, {"seed.au", "sox"},     {"seed.w64", "sox"},
    };
    for (const auto& [name, how] : made) {
        const fs::path out = dir / name;
        const std::string command =
            how == "sox" ? "sox " + q(source) + " " + q(out)
                         : "ffmpeg -nostdin -loglevel error -y -i " + q(source) + " " + how + " " + q(out);
        if (std::system(command.c_str()) != 0) {
            std::cerr << "sonora-mutate: cannot make " << name << "\n";
            return false;
        }
        seeds.push_back(out);
    }
    return true;
}

// One damage, chosen by the case's own generator.
std::string mutate(std::string bytes, std::mt19937& random) {
    auto pick = [&](size_t n) { return n == 0 ? size_t(0) : size_t(random() % n); };
    switch (random() % 4) {
    case 0: {  // bit flips, mostly in the header
        const int flips = 1 + int(random() % 8);
        for (int i = 0; i < flips && !bytes.empty(); ++i) {
            const size_t at = random() % 2 ? pick(std::min<size_t>(bytes.size(), 256)) : pick(bytes.size());
            bytes[at] = char(bytes[at] ^ (1 << (random() % 8)));
        }
        break;
    }
    case 1:  // cut short
        bytes.resize(pick(bytes.size()));
        break;
    case 2: {  // a 32-bit field of the header at 0 or all ones
        if (bytes.size() < 4) break;
        const size_t at = pick(std::min<size_t>(bytes.size() - 3, 128));
        const char value = random() % 2 ? '\xFF' : '\0';
        for (size_t i = 0; i < 4; ++i) bytes[at + i] = value;
        break;
    }
    default: {  // one byte anywhere
        if (bytes.empty()) break;
        bytes[pick(bytes.size())] = char(random());
        break;
    }
    }
    return bytes;
}

// The child's work. Exit codes: 0 fine, 3 fewer or more frames than promised.
[[noreturn]] void check(const fs::path& file) {
    std::shared_ptr<AVAudioFile> audio;
    try {
        audio = AVAudioFile::forReading(URL(file));
    } catch (const NSErrorException&) {
        std::_Exit(0);  // a clear refusal
    }
    try {
        const auto buffer = AVAudioPCMBuffer::make(audio->processingFormat(), 4096);
        const int64_t promised = audio->length();
        int64_t delivered = 0;
        for (;;) {
            audio->read(*buffer);
            if (buffer->frameLength() == 0) break;
            delivered += buffer->frameLength();
            if (delivered > promised) break;
        }
        // A decoder that gives out early is reconciled at the end: the length then says so.
        if (delivered > promised || delivered != audio->length()) {
            std::fprintf(stderr, "promised %lld frames, delivered %lld, length then %lld\n", (long long)promised,
                         (long long)delivered, (long long)audio->length());
            std::_Exit(3);
        }
        // A player's reader at the engine's usual format, over the whole file.
        const AVAudioFormat out = AVAudioFormat::standardFormatWithSampleRate(44100, 2);
        const auto frames = AVAudioFrameCount(std::min<int64_t>(promised, 0xFFFFFFFFLL));
        detail::FileFeed feed(URL(file), 0, frames, out, 8192);
        auto drain = AVAudioPCMBuffer::make(out, 4096);
        while (!feed.isFilled()) {
            if (feed.fill(4096) == 0 && !feed.isFilled()) break;
            feed.read(*drain->mutableAudioBufferList(), 0, AVAudioFrameCount(std::min<int64_t>(feed.available(), 4096)));
        }
    } catch (const NSErrorException&) {
        // Damage found while reading is reported as an error: fine.
    }
    std::_Exit(0);
}

struct Outcome {
    bool passed = true;
    std::string why;
};

Outcome runCase(const fs::path& file, double seconds, long megabytes) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return {false, "cannot fork"};
    if (child == 0) check(file);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            wait4(child, &status, 0, &usage);
            return {false, "took longer than " + std::to_string(seconds) + " s"};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFSIGNALED(status)) return {false, "killed by signal " + std::to_string(WTERMSIG(status))};
    if (WEXITSTATUS(status) != 0) return {false, "exit status " + std::to_string(WEXITSTATUS(status))};
    if (usage.ru_maxrss > megabytes * 1024) return {false, "peak memory " + std::to_string(usage.ru_maxrss / 1024) + " MB"};
    return {};
}

int usage() {
    std::cerr << "usage: sonora-mutate DIR [--cases N] [--seed S] [--seconds T] [--megabytes M]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const fs::path dir = argv[1];
    long cases = 500;
    unsigned seed = 1;
    double seconds = 10;
    long megabytes = 1024;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--cases") cases = std::atol(value);
        else if (option == "--seed") seed = unsigned(std::strtoul(value, nullptr, 10));
        else if (option == "--seconds") seconds = std::atof(value);
        else if (option == "--megabytes") megabytes = std::atol(value);
        else return usage();
    }
    if ((argc - 2) % 2 != 0 || cases < 0 || !(seconds > 0) || megabytes <= 0) return usage();
    std::error_code error;
    fs::create_directories(dir, error);

    std::vector<fs::path> seeds;
    if (!makeSeeds(dir, seeds)) return 2;
    std::vector<std::string> contents;
    for (const auto& path : seeds) contents.push_back(readAll(path));

    long failed = 0;
    for (long n = 0; n < cases; ++n) {
        std::mt19937 random(seed * 1000003u + unsigned(n));
        const size_t which = size_t(n) % seeds.size();
        const fs::path file = dir / ("case" + seeds[which].extension().string());
        writeAll(file, mutate(contents[which], random));
        const Outcome outcome = runCase(file, seconds, megabytes);
        if (!outcome.passed) {
            ++failed;
            const fs::path kept = dir / ("failed-" + std::to_string(n) + seeds[which].extension().string());
            fs::copy_file(file, kept, fs::copy_options::overwrite_existing, error);
            std::cerr << "sonora-mutate: case " << n << " (" << kept.string() << "): " << outcome.why << "\n";
        }
    }
    std::cout << cases << " cases, " << failed << " failed\n";
    return failed ? 1 : 0;
}
