// sonora-tool checked against sox and ffmpeg from the shell.
#include "main/TestSupport.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"
#include "platform/media/FFmpegSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using testsupport::capture;
using testsupport::q;
using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::toolPath;

namespace {

std::string tool() { return q(toolPath("sonora-tool")); }

// The `length: N` line of `sonora-tool info`.
std::string lengthLine(const std::filesystem::path& file) {
    const std::string out = capture(tool() + " info " + q(file));
    const auto at = out.find("length: ");
    if (at == std::string::npos) return out;
    return out.substr(at, out.find('\n', at) - at);
}

}  // namespace

class SonoraTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::haveTool("sox") || !testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg missing";
        ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(t / "a.wav") + " synth 3 sine 440 sine 1000 gain -6"), 0);
        ASSERT_EQ(run("sox -n -r 48000 -c 1 -b 24 " + q(t / "b.aiff") + " synth 2 pinknoise gain -3"), 0);
    }
    ScratchDir t;
};

TEST_F(SonoraTool, DumpMatchesSoxByteForByte) {
    for (const std::string name : {"a.wav", "b.aiff"}) {
        ASSERT_EQ(run(tool() + " dump " + q(t / name) + " " + q(t / (name + ".f32"))), 0) << name;
        ASSERT_EQ(run("sox " + q(t / name) + " -t f32 " + q(t / (name + ".ref"))), 0);
        const std::string dumped = readFile(t / (name + ".f32"));
        EXPECT_FALSE(dumped.empty()) << name;
        EXPECT_TRUE(dumped == readFile(t / (name + ".ref"))) << name << ": dump differs from sox";
    }
}

TEST_F(SonoraTool, InfoGivesTheExactLengthOfCompressedFiles) {
    ASSERT_EQ(run("ffmpeg -loglevel error -y -i " + q(t / "a.wav") + " -c:a libmp3lame -q:a 4 " + q(t / "a.mp3")), 0);
    ASSERT_EQ(run("ffmpeg -loglevel error -y -i " + q(t / "a.wav") + " -c:a aac -b:a 192k " + q(t / "a.m4a")), 0);
    EXPECT_EQ(lengthLine(t / "a.wav"), "length: 132300");
    EXPECT_EQ(lengthLine(t / "a.mp3"), "length: 132300");
    EXPECT_EQ(lengthLine(t / "a.m4a"), "length: 132300");
}

TEST_F(SonoraTool, ExtractWritesTheRangeAsCaf) {
    int status = -1;
    const std::string printed = capture(tool() + " extract " + q(t / "a.wav") + " " + q(t / "x.wav") + " 0.5 1.25", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(printed, (t / "x.caf").string() + "\n");
    ASSERT_EQ(run(tool() + " dump " + q(t / "x.caf") + " " + q(t / "x.f32")), 0);
    ASSERT_EQ(run("sox " + q(t / "a.wav") + " -t f32 " + q(t / "t.ref") + " trim 22050s 33075s"), 0);
    EXPECT_EQ(readFile(t / "x.f32").size(), 33075u * 2 * 4);
    EXPECT_TRUE(readFile(t / "x.f32") == readFile(t / "t.ref")) << "extracted samples differ from sox's trim";
}

TEST_F(SonoraTool, RoundTripThroughInt16IsLossless) {
    ASSERT_EQ(run(tool() + " roundtrip-int16 " + q(t / "a.wav") + " " + q(t / "r.wav")), 0);
    ASSERT_EQ(run("sox " + q(t / "a.wav") + " -t s16 " + q(t / "a.s16")), 0);
    ASSERT_EQ(run("sox " + q(t / "r.wav") + " -t s16 " + q(t / "r.s16")), 0);
    EXPECT_FALSE(readFile(t / "a.s16").empty());
    EXPECT_TRUE(readFile(t / "a.s16") == readFile(t / "r.s16")) << "16-bit samples changed on the way";
    EXPECT_EQ(capture("soxi -b " + q(t / "r.wav")), "16\n");
}

TEST_F(SonoraTool, BadInputFailsWithOneClearLine) {
    testsupport::writeFile(t / "empty.wav", "");
    testsupport::writeFile(t / "text.wav", "RIFF? no, just some text that is not audio at all\n");
    testsupport::writeFile(t / "truncated.wav", readFile(t / "a.wav").substr(0, 30));
    std::filesystem::create_directory(t / "folder.wav");
    for (const std::string name : {"missing.wav", "empty.wav", "text.wav", "truncated.wav", "folder.wav"}) {
        for (const std::string command : {" info ", " dump ", " roundtrip-int16 ", " extract "}) {
            std::string line = tool() + command + q(t / name);
            if (command != " info ") line += " " + q(t / "out.wav");
            if (command == " extract ") line += " 0 1";
            int status = -1;
            const std::string err = capture(line + " 2>&1 >/dev/null", &status);
            EXPECT_EQ(status, 1) << line;
            EXPECT_EQ(err.rfind("sonora-tool: ", 0), 0u) << line << ": " << err;
            EXPECT_EQ(err.find('\n'), err.size() - 1) << line << ": one line expected, got " << err;
        }
    }
    // Data cut short after a valid header: whatever is there is read, nothing crashes.
    const std::string whole = readFile(t / "a.wav");
    testsupport::writeFile(t / "short.wav", whole.substr(0, whole.size() / 2 + 1));
    const int status = run(tool() + " dump " + q(t / "short.wav") + " " + q(t / "short.f32") + " 2>/dev/null");
    EXPECT_TRUE(status == 0 || status == 1) << status;
}

TEST_F(SonoraTool, BadArgumentsPrintUsage) {
    for (const std::string args : {"", "info", "frobnicate x", "dump onlyone", "extract a b c", "extract a b zero 1",
                                   "extract a b 0 nan"}) {
        int status = -1;
        const std::string err = capture(tool() + " " + args + " 2>&1 >/dev/null", &status);
        EXPECT_EQ(status, 2) << args;
        EXPECT_NE(err.find("usage: sonora-tool"), std::string::npos) << args;
    }
}

TEST_F(SonoraTool, AnEmptyInputIsNoSilentM4a) {
    ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(t / "e.caf") + " trim 0 0"), 0);
    int status = -1;
    const std::string err = capture(tool() + " convert " + q(t / "e.caf") + " " + q(t / "e.m4a") + " 2>&1 >/dev/null", &status);
    EXPECT_NE(status, 0);
    EXPECT_EQ(err.rfind("sonora-tool: ", 0), 0u) << err;
    EXPECT_FALSE(std::filesystem::exists(t / "e.m4a")) << "no m4a without an audio stream is left behind";
}

TEST_F(SonoraTool, InfoOnADamagedM4aGivesFFmpegsReason) {
    ASSERT_EQ(run("ffmpeg -v error -i " + q(t / "a.wav") + " -c:a aac " + q(t / "a.m4a")), 0);
    testsupport::writeFile(t / "cut.m4a", readFile(t / "a.m4a").substr(0, 40));
    int status = -1;
    const std::string err = capture(tool() + " info " + q(t / "cut.m4a") + " 2>&1 >/dev/null", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("damaged"), std::string::npos) << err;
    EXPECT_EQ(err.find("libsndfile"), std::string::npos) << err;
}

// A command of sonora-tool (its arguments) and whether it works without a library it may load.
struct NeedsCase {
    std::string args;
    bool works;
};

// Runs the commands with `library` unloadable (a broken file found first under its name): those that
// need it fail with a clear line, the log saying once that `what` cannot be loaded, naming the
// library; the others work without trying to load it. Returns the command prefix that runs the tool
// so, for further checks.
std::string expectOnlyWhatNeedsItFails(const testsupport::ScratchDir& t, const std::string& library,
                                       const std::string& what, const std::vector<NeedsCase>& cases) {
    std::filesystem::create_directories(t / "lib");
    testsupport::writeFile(t / "lib" / library, "not a library");
    const std::string broken = "TAMBERLO_LOG_STDERR=1 LD_LIBRARY_PATH=" + q(t / "lib") + " " + tool();
    for (const auto& c : cases) {
        int status = -1;
        const std::string err = capture(broken + c.args + " 2>&1 >/dev/null", &status);
        if (c.works) {
            EXPECT_EQ(status, 0) << c.args << ": " << err;
            EXPECT_EQ(err.find(library), std::string::npos) << c.args << ": " << what << " was loaded: " << err;
            continue;
        }
        EXPECT_EQ(status, 1) << c.args;
        const std::vector<std::string> lines = testsupport::lines(err);
        if (lines.empty()) {
            ADD_FAILURE() << c.args << ": no message";
            continue;
        }
        EXPECT_EQ(lines.back().rfind("sonora-tool: ", 0), 0u) << c.args << ": " << err;
        const auto logged = std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(what + " cannot be loaded") != std::string::npos && line.rfind("sonora-tool: ", 0) != 0;
        });
        EXPECT_EQ(logged, 1) << c.args << ": " << err;
        EXPECT_NE(err.find(library), std::string::npos) << c.args << ": " << err;
    }
    return broken;
}

// FFmpeg is loaded when a file first needs it: without it only MP3, AAC, M4A... fail.
TEST_F(SonoraTool, WithoutFFmpegOnlyWhatNeedsItFails) {
    ASSERT_EQ(run("ffmpeg -v error -i " + q(t / "a.wav") + " -c:a aac " + q(t / "a.m4a")), 0);
    const std::string library = platform::detail::ffmpegLibraryNames().back();
    ASSERT_EQ(library.rfind("libavformat.so.", 0), 0u) << library;
    const std::vector<NeedsCase> cases = {
        {" info " + q(t / "a.wav"), true},
        {" convert " + q(t / "b.aiff") + " " + q(t / "b.wav"), true},
        {" info " + q(t / "a.m4a"), false},
        {" convert " + q(t / "a.m4a") + " " + q(t / "m.wav"), false},
        {" convert " + q(t / "a.wav") + " " + q(t / "w.m4a"), false},
    };
    const std::string broken = expectOnlyWhatNeedsItFails(t, library, "FFmpeg", cases);
    // Where the reader reports it, the message itself names the library.
    EXPECT_NE(capture(broken + " info " + q(t / "a.m4a") + " 2>&1 >/dev/null | grep '^sonora-tool: '").find(library),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(t / "w.m4a")) << "no half-written m4a is left behind";
    // The same commands with FFmpeg there.
    for (const auto& c : cases) EXPECT_EQ(run(tool() + c.args + " 2>/dev/null"), 0) << c.args;
}

// FluidSynth is loaded with the first SoundFont: without it only what plays a SoundFont fails, with
// the sampler's error for an unusable instrument file; sound-file zones and MIDI files work.
TEST_F(SonoraTool, WithoutFluidSynthOnlySoundFontsFail) {
    const std::string font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::filesystem::exists(font)) GTEST_SKIP() << "no SoundFont";
    const std::string library = platform::detail::fluidSynthLibraryName();
    ASSERT_EQ(library.rfind("libfluidsynth.so.", 0), 0u) << library;
    testsupport::writeFile(t / "one.mid", testsupport::midiFile({"", std::string("\0\x90\x3C\x40\x83\x60\x80\x3C\x40", 9)}));
    const std::string soundFont = " --soundfont " + q(font);
    const std::vector<NeedsCase> cases = {
        {" sampler-render " + q(t / "z.wav") + " --seconds 1 --audio " + q(t / "a.wav") + " --note 60", true},
        {" seq-info " + q(t / "one.mid"), true},
        {" sampler-render " + q(t / "s.wav") + " --seconds 1" + soundFont + " --note 60", false},
        {" sequence " + q(t / "one.mid") + " " + q(t / "q.wav") + soundFont + " --seconds 1", false},
        {" midiplayer " + q(t / "one.mid") + " " + q(t / "p.wav") + soundFont + " --seconds 1", false},
    };
    const std::string broken = expectOnlyWhatNeedsItFails(t, library, "FluidSynth", cases);
    const std::string message =
        capture(broken + " sampler-render " + q(t / "s.wav") + " --seconds 1" + soundFont + " --note 60 2>&1 >/dev/null | grep '^sonora-tool: '");
    EXPECT_NE(message.find("FluidSynth"), std::string::npos) << message;
    EXPECT_NE(message.find(library), std::string::npos) << message;
    EXPECT_NE(message.find("-10871"), std::string::npos) << "the sampler's invalid-file error: " << message;
    for (const std::string out : {"s.wav", "q.wav", "p.wav"})
        EXPECT_FALSE(std::filesystem::exists(t / out)) << out << ": nothing is left behind";
    // The same commands with FluidSynth there.
    for (const auto& c : cases) EXPECT_EQ(run(tool() + c.args + " >/dev/null 2>&1"), 0) << c.args;
}
