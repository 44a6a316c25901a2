// Damaged and unusual files through sonora-tool, each in a child process of its own: a clear error
// or exactly the frames the file holds, never a crash, and memory and disk bounded by what the file
// really holds rather than by what it claims.
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using testsupport::haveTool;
using testsupport::midiFile;
using testsupport::q;
using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::toolPath;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // shadow memory and quarantine count in the peak
#else
constexpr bool kSanitized = false;
#endif
constexpr long kPeakMegabytes = 200;
// The file-size limit of the tools that read huge claims: a safety net for the disk.
constexpr rlim_t kFileSizeLimit = 200u << 20;

struct Child {
    int status = -1;  // exit status; -1 when killed by a signal
    int signal = 0;
    long peakMegabytes = 0;
    std::string out, err;
};

// Runs a tool with its arguments; stdout and stderr go to files in `dir`, and no file it writes may
// pass `fileSizeLimit` bytes (a tool that meant to write more is killed).
Child runTool(const ScratchDir& dir, const std::vector<std::string>& args, rlim_t fileSizeLimit = RLIM_INFINITY) {
    const fs::path outPath = dir / "child.out", errPath = dir / "child.err";
    std::vector<std::string> argv{toolPath(args[0]).string()};
    argv.insert(argv.end(), args.begin() + 1, args.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    const std::string state = (dir / "state").string();
    const pid_t pid = fork();
    if (pid == 0) {
        // The tool logs into the scratch folder.
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        const rlimit fileSize{fileSizeLimit, fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    Child child;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        if (WIFEXITED(status)) child.status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) child.signal = WTERMSIG(status);
        child.peakMegabytes = usage.ru_maxrss / 1024;
    }
    child.out = readFile(outPath);
    child.err = readFile(errPath);
    return child;
}

void put32(std::string& bytes, size_t at, uint32_t value, bool bigEndian = false) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = char(value >> (bigEndian ? 24 - 8 * i : 8 * i));
}
void put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char(value >> 8);
}

// Makes `path` with a shell command, then changes its bytes.
void made(const std::string& command, const fs::path& path, const std::function<void(std::string&)>& change) {
    ASSERT_EQ(run(command), 0) << command;
    std::string bytes = readFile(path);
    ASSERT_FALSE(bytes.empty());
    if (change) change(bytes);
    writeFile(path, bytes);
}

std::string sox(const fs::path& p, const std::string& format) {
    return "sox -n " + format + " " + q(p) + " synth 0.5 sine 440";
}
std::string ffmpeg(const fs::path& p, const std::string& codec) {
    return "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.5 -ac 2 " +
           codec + " " + q(p);
}

enum class Expect { either, refused, opens };

struct Damaged {
    std::string name, file;
    std::function<void(const fs::path&)> make;
    Expect expect;
    int64_t mostFrames;  // a file that opens holds at most this many frames
};

const std::vector<Damaged>& damagedFiles() {
    static const std::vector<Damaged> cases = {
        // The packet size of the description (byte 39) no longer matches the samples.
        {"24-bit CAF, bytes per packet 16", "a.caf",
         [](const fs::path& p) { made(ffmpeg(p, "-c:a pcm_s24le"), p, [](std::string& b) { b[39] = 0x10; }); },
         Expect::either, 44100},
        {"16-bit CAF, bytes per packet 5", "b.caf",
         [](const fs::path& p) { made(sox(p, "-r 44100 -c 2 -b 16"), p, [](std::string& b) { b[39] = 0x05; }); },
         Expect::either, 44100},
        {"RF64 tagged MS-ADPCM, block align 62", "c.wav",
         [](const fs::path& p) {
             made(ffmpeg(p, "-c:a pcm_s16le -rf64 always"), p, [](std::string& b) {
                 const size_t fmt = b.find("fmt ");
                 ASSERT_NE(fmt, std::string::npos);
                 put16(b, fmt + 8, 2);    // format tag
                 put16(b, fmt + 20, 62);  // block align
             });
         },
         Expect::either, 44100},
        // The first time-to-sample delta claims a gap of 13.5 hours of silence.
        {"M4A with a huge first sample delta", "d.m4a",
         [](const fs::path& p) {
             made(ffmpeg(p, "-c:a aac -b:a 64k"), p, [](std::string& b) {
                 const size_t stts = b.find("stts");
                 ASSERT_NE(stts, std::string::npos);
                 put32(b, stts + 16, 0x7FFF0400, true);
             });
         },
         Expect::either, 44100},
        {"WAV at 2147483647 Hz", "e.wav",
         [](const fs::path& p) { made(sox(p, "-r 8000 -c 1 -b 16"), p, [](std::string& b) { put32(b, 24, 0x7FFFFFFF); }); },
         Expect::refused, 0},
        {"WAV at 3 Hz", "f.wav",
         [](const fs::path& p) { made(sox(p, "-r 8000 -c 1 -b 16"), p, [](std::string& b) { put32(b, 24, 3); }); },
         Expect::opens, 4000},
        {"22 KB WAV claiming 1024 channels", "g.wav",
         [](const fs::path& p) { made(sox(p, "-r 22050 -c 1 -b 16"), p, [](std::string& b) { put16(b, 22, 1024); }); },
         Expect::refused, 0},
        {"WAV whose RIFF tag is damaged", "h.wav",
         [](const fs::path& p) { made(sox(p, "-r 44100 -c 2 -b 16"), p, [](std::string& b) { b[3] = 'X'; }); },
         Expect::refused, 0},
        // Damaged RIFF tag over samples whose bytes resemble AMR frames: FFmpeg's guess is weak.
        {"WAV without its RIFF tag, AMR-like content", "k.wav",
         [](const fs::path& p) {
             std::string data;
             for (int i = 0; i < 88200; ++i) data += std::string("\x04\0", 2);
             std::string header = "XIFF    WAVEfmt ";
             header.resize(44);
             writeFile(p, header + data);
             made("true", p, [&](std::string& b) {
                 put32(b, 4, uint32_t(36 + data.size()));
                 put32(b, 16, 16);
                 put16(b, 20, 1);
                 put16(b, 22, 2);
                 put32(b, 24, 44100);
                 put32(b, 28, 44100 * 4);
                 put16(b, 32, 4);
                 put16(b, 34, 16);
                 b.replace(36, 4, "data");
                 put32(b, 40, uint32_t(data.size()));
             });
         },
         Expect::refused, 0},
        {"65 channels", "i.wav", [](const fs::path& p) { made(sox(p, "-r 8000 -c 65 -b 16"), p, nullptr); },
         Expect::opens, 4000},
        {"100 channels", "j.wav", [](const fs::path& p) { made(sox(p, "-r 8000 -c 100 -b 16"), p, nullptr); },
         Expect::opens, 4000},
    };
    return cases;
}

// A "name: N" line of `sonora-tool info`; -1 when there is none.
int64_t field(const std::string& info, const std::string& name) {
    const auto at = info.find("\n" + name + ": ");
    return at == std::string::npos ? -1 : std::stoll(info.substr(at + name.size() + 3));
}

const char* const kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

const std::string kNote("\0\x90\x3C\x40\x60\x80\x3C\x40", 8);

}  // namespace

TEST(DamagedInput, EachFileIsRefusedClearlyOrReadsTheFramesItHolds) {
    if (!haveTool("sox") || !haveTool("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg missing";
    for (const Damaged& c : damagedFiles()) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const fs::path file = dir / c.file;
        c.make(file);
        if (testing::Test::HasFatalFailure()) return;

        const Child info = runTool(dir, {"sonora-tool", "info", file.string()});
        const Child dump = runTool(dir, {"sonora-tool", "dump", file.string(), (dir / "dump.raw").string()});
        const Child mix = runTool(dir, {"sonora-tool", "mix", (dir / "mix.wav").string(), "--clip", file.string() + "@0"});
        for (const Child* child : {&info, &dump, &mix}) {
            EXPECT_EQ(child->signal, 0) << child->err;
            EXPECT_TRUE(child->status == 0 || child->status == 1) << child->status << " " << child->err;
            if (child->status == 1) {
                EXPECT_EQ(child->err.rfind("sonora-tool: ", 0), 0u) << child->err;
            }
            if (!kSanitized) {
                EXPECT_LT(child->peakMegabytes, kPeakMegabytes) << child->err;
            }
        }
        if (info.status != 0) {
            EXPECT_NE(c.expect, Expect::opens) << info.err;
            EXPECT_NE(dump.status, 0);
            continue;
        }
        EXPECT_NE(c.expect, Expect::refused) << info.out;
        const int64_t length = field(info.out, "length");
        const int64_t channels = field(info.out, "channels");
        ASSERT_GE(length, 0) << info.out;
        ASSERT_GT(channels, 0) << info.out;
        EXPECT_LE(length, c.mostFrames);
        // Exactly the promised frames come out, and the mix takes them.
        EXPECT_EQ(dump.status, 0) << dump.err;
        EXPECT_EQ(int64_t(readFile(dir / "dump.raw").size()), length * channels * 4);
        EXPECT_EQ(mix.status, 0) << mix.err;
    }
}

TEST(DamagedInput, ShortMutationRunSurvivesEveryCase) {
    if (!haveTool("sox") || !haveTool("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg missing";
    ScratchDir dir;
    const Child mutate = runTool(dir, {"sonora-mutate", (dir / "cases").string(), "--cases", "360", "--seed", "1"});
    EXPECT_EQ(mutate.signal, 0);
    EXPECT_EQ(mutate.status, 0) << mutate.out << mutate.err;
    EXPECT_NE(mutate.out.find("360 cases, 0 failed"), std::string::npos) << mutate.out << mutate.err;
}

TEST(DamagedInput, ConvertingOntoAFolderFailsAndKeepsIt) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox missing";
    ScratchDir dir;
    ASSERT_EQ(run(sox(dir / "in.wav", "-r 44100 -c 2 -b 16")), 0);
    for (const char* name : {"out.wav", "out.caf", "out.m4a"}) {
        SCOPED_TRACE(name);
        fs::create_directories(dir / name);
        writeFile(dir / name / "keep.txt", "mine");
        const Child convert = runTool(dir, {"sonora-tool", "convert", (dir / "in.wav").string(), (dir / name).string()});
        EXPECT_EQ(convert.status, 1) << convert.err;
        EXPECT_TRUE(fs::is_directory(dir / name));
        EXPECT_EQ(readFile(dir / name / "keep.txt"), "mine");
    }
}

TEST(DamagedInput, AThousandTracksShareOneSoundFont) {
    if (!fs::exists(kSoundFont)) GTEST_SKIP() << "no SoundFont";
    ScratchDir dir;
    // Every tenth track plays a note, the others send nothing: 1,000 samplers, 100 of them sounding.
    std::vector<std::string> tracks(1000);
    for (size_t t = 1; t < tracks.size(); t += 10) tracks[t] = kNote;
    writeFile(dir / "many.mid", midiFile(tracks));
    const Child sequence = runTool(
        dir, {"sonora-tool", "sequence", (dir / "many.mid").string(), (dir / "many.wav").string(), "--soundfont", kSoundFont},
        kFileSizeLimit);
    EXPECT_EQ(sequence.signal, 0);
    EXPECT_EQ(sequence.status, 0) << sequence.err;
    EXPECT_EQ(sequence.out.rfind("tracks 999 ", 0), 0u) << sequence.out;
    // A copy of the bank per sampler would take 100 × 6 MB on top.
    if (!kSanitized) {
        EXPECT_LT(sequence.peakMegabytes, 450);
    }
}

TEST(DamagedInput, ARenderPastTheFreeSpaceIsRefusedBeforeWritingAndSecondsCutIt) {
    if (!fs::exists(kSoundFont)) GTEST_SKIP() << "no SoundFont";
    ScratchDir dir;
    // 5,000 notes, each 0x0FFFFFFF ticks after the last: 44 years of sound, about 493 TB of float
    // stereo, more than any disk holds.
    std::string notes;
    for (int i = 0; i < 5000; ++i) notes += std::string("\xFF\xFF\xFF\x7F\x90\x3C\x40\x60\x80\x3C\x40", 11);
    writeFile(dir / "long.mid", midiFile({"", notes}));
    for (const std::string command : {"sequence", "midiplayer"}) {
        SCOPED_TRACE(command);
        const std::string out = (dir / (command + ".wav")).string();
        const std::vector<std::string> args{"sonora-tool", command, (dir / "long.mid").string(), out, "--soundfont", kSoundFont};
        const Child refused = runTool(dir, args, kFileSizeLimit);
        EXPECT_EQ(refused.signal, 0);
        EXPECT_EQ(refused.status, 1) << refused.err;
        EXPECT_EQ(refused.err.rfind("sonora-tool: a render of 1398101830 s (493 TB) does not fit in the ", 0), 0u) << refused.err;
        EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
        EXPECT_FALSE(fs::exists(out));

        auto cutArgs = args;
        cutArgs.insert(cutArgs.end(), {"--seconds", "0.5"});
        const Child cut = runTool(dir, cutArgs, kFileSizeLimit);
        EXPECT_EQ(cut.status, 0) << cut.err;
        EXPECT_EQ(field(runTool(dir, {"sonora-tool", "info", out}).out, "length"), 22050);
    }
}

TEST(DamagedInput, ALogAtTheFileSizeLimitDoesNotEndTheTool) {
    ScratchDir dir;
    writeFile(dir / "one.mid", midiFile({kNote}));
    // The shared log has grown to the limit of the tool's file size (a sparse file: no disk taken).
    const fs::path log = dir / "state" / "Tamberlo" / "Tamberlo.log";
    fs::create_directories(log.parent_path());
    writeFile(log, "");
    fs::resize_file(log, kFileSizeLimit);
    const Child info = runTool(dir, {"sonora-tool", "seq-info", (dir / "one.mid").string()}, kFileSizeLimit);
    EXPECT_EQ(info.signal, 0);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.rfind("resolution 480\n", 0), 0u) << info.out;
    EXPECT_EQ(fs::file_size(log), kFileSizeLimit);
}

TEST(DamagedInput, OneSoundFileUnderEightSpellingsIsDecodedOnce) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox missing";
    ScratchDir dir;
    // 2^22 frames: 16 MB once decoded.
    ASSERT_EQ(run("sox -n -r 44100 -c 1 -b 16 " + q(dir / "s.wav") + " synth 4194304s sine 440"), 0);
    const std::string folder = dir.path().string();
    const std::string name = dir.path().filename().string();
    const std::string spellings[] = {folder + "/s.wav",    folder + "//s.wav",           folder + "/./s.wav",
                                     folder + "/.//s.wav", folder + "/../" + name + "/s.wav", folder + "/././s.wav",
                                     folder + "///s.wav",  folder + "/./../" + name + "/./s.wav"};
    const auto peak = [&](size_t count) {
        const fs::path preset = dir / ("p" + std::to_string(count) + ".aupreset");
        std::vector<std::string> args{"sonora-tool", "preset", preset.string(), "--name", "s", "--attack", "0", "--release", "0"};
        for (size_t i = 0; i < count; ++i) args.insert(args.end(), {"--sample", std::to_string(60 + i) + ":0:127:-:" + spellings[i]});
        EXPECT_EQ(runTool(dir, args).status, 0);
        const Child render = runTool(dir, {"sonora-tool", "sampler-render", (dir / "o.wav").string(), "--seconds", "0.1",
                                           "--preset", preset.string(), "--note", "60"});
        EXPECT_EQ(render.status, 0) << render.err;
        return render.peakMegabytes;
    };
    const long one = peak(1), eight = peak(std::size(spellings));
    if (!kSanitized) {
        EXPECT_LT(eight - one, 8) << one << " MB for one spelling, " << eight << " MB for eight";
    }
}
