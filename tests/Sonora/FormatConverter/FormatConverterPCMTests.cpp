#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include "ConverterFixtures.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

using namespace converterfixtures;
using sonora::FormatConverter;
using testsupport::ScratchDir;
namespace fs = std::filesystem;

namespace {

FormatConverter::Options with(std::optional<double> rate, std::optional<uint32_t> channels, std::optional<uint32_t> bits,
                              FormatConverter::BitDepthRule rule = FormatConverter::BitDepthRule::lessThanOrEqual) {
    FormatConverter::Options options;
    options.sampleRate = rate;
    options.channels = channels;
    options.bitDepth = bits;
    options.bitDepthRule = rule;
    return options;
}

}  // namespace

TEST(FormatConverterPCM, RewritesOrCopiesByWhatChanges) {
    ScratchDir dir;
    writeTone(dir / "in.caf", 44100, 2, 44100);
    writeTone(dir / "in.wav", 44100, 2, 44100);
    fs::copy_file(dir / "in.wav", dir / "upper.WAV");

    // caf → wav: the data is rewritten into a WAV file, sample for sample.
    platform::LogSink::clear();
    Outcome rewritten = convert(dir / "in.caf", dir / "out.wav");
    ASSERT_FALSE(rewritten.error) << rewritten.message();
    EXPECT_FALSE(logged("No conversion is needed"));
    EXPECT_EQ(testsupport::readFile(dir / "out.wav").substr(8, 4), "WAVE");
    EXPECT_EQ(readAll(dir / "out.wav"), readAll(dir / "in.caf"));

    // wav → wav with nothing to change, whatever the extension's case: a byte-for-byte copy.
    for (const char* input : {"in.wav", "upper.WAV"}) {
        platform::LogSink::clear();
        Outcome copied = convert(dir / input, dir / "copy.wav");
        ASSERT_FALSE(copied.error) << copied.message();
        EXPECT_TRUE(logged("No conversion is needed, formats are the same. Copying to")) << input;
        EXPECT_EQ(testsupport::readFile(dir / "copy.wav"), testsupport::readFile(dir / "in.wav")) << input;
    }
}

TEST(FormatConverterPCM, DestinationFormatFollowsTheOptionsAndTheRule) {
    ScratchDir dir;
    writeTone(dir / "in24.wav", 48000, 2, 4800, 24);
    writeTone(dir / "mono.caf", 44100, 1, 44100);
    writeTone(dir / "stereo.caf", 44100, 2, 44100);
    using Rule = FormatConverter::BitDepthRule;
    constexpr uint32_t kSignedPacked = 12, kBigEndianSignedPacked = 14, kUnsignedPacked = 8;
    const struct {
        const char* name;
        const char* in;
        const char* out;
        FormatConverter::Options options;
        double rate;
        uint32_t channels, bits, flags;
        int64_t frames;
    } cases[] = {
        {"24 bits asked for 32, lessThanOrEqual", "in24.wav", "a.wav", with({}, {}, 32), 48000, 2, 24, kSignedPacked, 4800},
        {"24 bits asked for 32, any", "in24.wav", "b.wav", with({}, {}, 32, Rule::any), 48000, 2, 32, kSignedPacked, 4800},
        {"8-bit WAV is unsigned", "in24.wav", "c.wav", with({}, {}, 8), 48000, 2, 8, kUnsignedPacked, 4800},
        // Byte order means nothing for single bytes, so the file reports none.
        {"8-bit AIFF is signed", "in24.wav", "c.aif", with({}, {}, 8), 48000, 2, 8, kSignedPacked, 4800},
        {"8-bit CAF is signed", "in24.wav", "c.caf", with({}, {}, 8), 48000, 2, 8, kSignedPacked, 4800},
        {"AIFF keeps the bits, big-endian", "in24.wav", "d.aif", with({}, {}, {}), 48000, 2, 24, kBigEndianSignedPacked, 4800},
        {"48 kHz to 44.1 kHz", "in24.wav", "e.wav", with(44100, {}, {}), 44100, 2, 24, kSignedPacked, 4410},
        {"mono to stereo", "mono.caf", "f.wav", with({}, 2, {}), 44100, 2, 16, kSignedPacked, 44100},
        {"stereo to mono", "stereo.caf", "g.wav", with({}, 1, {}), 44100, 1, 16, kSignedPacked, 44100},
        {"mono to six channels, 24 bits", "mono.caf", "h.caf", with({}, 6, 24, Rule::any), 44100, 6, 24, kSignedPacked, 44100},
    };
    for (const auto& c : cases) {
        const Outcome outcome = convert(dir / c.in, dir / c.out, c.options);
        ASSERT_FALSE(outcome.error) << c.name << ": " << outcome.message();
        EXPECT_EQ(outcome.calls, 1);
        const auto format = fileDataFormat(dir / c.out);
        EXPECT_EQ(format.mSampleRate, c.rate) << c.name;
        EXPECT_EQ(format.mChannelsPerFrame, c.channels) << c.name;
        EXPECT_EQ(format.mBitsPerChannel, c.bits) << c.name;
        EXPECT_EQ(format.mFormatFlags & 0xF, c.flags) << c.name;
        auto file = platform::AVAudioFile::forReading(dir / c.out);
        EXPECT_NEAR(double(file->length()), double(c.frames), 1) << c.name;
    }
    // Widening keeps the signal in channel 0; narrowing to mono mixes the two channels down.
    EXPECT_EQ(readAll(dir / "f.wav")[0], readAll(dir / "mono.caf")[0]);
    const auto mono = readAll(dir / "g.wav")[0];
    const auto stereo = readAll(dir / "stereo.caf");
    ASSERT_EQ(mono.size(), stereo[0].size());
    for (size_t i = 0; i < mono.size(); i += 97) EXPECT_NEAR(mono[i], (stereo[0][i] + stereo[1][i]) / 2, 1.0 / 32768) << i;
}

TEST(FormatConverterPCM, CompressedInputBecomesSixteenBitPCM) {
    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "needs ffmpeg to make an MP3";
    ScratchDir dir;
    writeTone(dir / "src.wav", 22050, 1, 22050);
    ASSERT_EQ(testsupport::run("ffmpeg -v error -i " + testsupport::q(dir / "src.wav") + " -c:a libmp3lame -b:a 64k " +
                               testsupport::q(dir / "in.mp3")),
              0);
    const Outcome outcome = convert(dir / "in.mp3", dir / "out.wav");
    ASSERT_FALSE(outcome.error) << outcome.message();
    const auto format = fileDataFormat(dir / "out.wav");
    EXPECT_EQ(format.mBitsPerChannel, 16u);
    EXPECT_EQ(format.mSampleRate, 22050);
    EXPECT_EQ(format.mChannelsPerFrame, 1u);
}

// Damaged input ends in exactly one call of the handler with the converter's error and no output
// file, on both the PCM and the compressed path. A file whose data is merely cut short is read as
// far as it goes, as the file layer reads it: the output holds exactly the frames really there.
TEST(FormatConverterPCM, BadInputFailsOnceAndLeavesNoOutput) {
    ScratchDir dir;
    writeTone(dir / "good.wav", 44100, 2, 441000);
    const std::string good = testsupport::readFile(dir / "good.wav");
    std::string corrupt = good;
    for (size_t i = 12; i < 40; ++i) corrupt[i] = char(0xff);  // the format chunk
    const struct {
        const char* name;
        std::string bytes;
        bool fails;
    } cases[] = {
        {"garbage.wav", std::string(5000, '\x5a'), true},
        {"empty.wav", "", true},
        {"header-cut.wav", good.substr(0, 20), true},
        {"corrupt.wav", corrupt, true},
        {"data-cut.wav", good.substr(0, good.size() / 3), false},
    };
    for (const auto& c : cases) {
        testsupport::writeFile(dir / c.name, c.bytes);
        for (const char* output : {"out.caf", "out.m4a"}) {
            const Outcome outcome = convert(dir / c.name, dir / output);
            EXPECT_EQ(outcome.calls, 1) << c.name << " → " << output;
            if (c.fails) {
                ASSERT_TRUE(outcome.error) << c.name << " → " << output;
                EXPECT_EQ(outcome.error->domain, FormatConverter::errorDomain) << outcome.message();
                EXPECT_FALSE(fs::exists(dir / output)) << c.name << " → " << output;
                continue;
            }
            ASSERT_FALSE(outcome.error) << c.name << " → " << output << ": " << outcome.message();
            const auto there = platform::AVAudioFile::forReading(dir / c.name)->length();
            // AAC's length in MP4 is exact only to a few dozen frames (FFmpeg's own encoder does the same).
            const double slack = std::string(output) == "out.m4a" ? 64 : 0;
            EXPECT_NEAR(double(platform::AVAudioFile::forReading(dir / output)->length()), double(there), slack)
                << c.name << " → " << output;
            fs::remove(dir / output);
        }
    }
}

TEST(FormatConverterPCM, AFailedWriteDeletesThePartialOutput) {
    if (!haveConversionTool()) GTEST_SKIP() << "needs sonora-tool convert";
    ScratchDir dir;
    writeTone(dir / "in.caf", 44100, 2, 441000);
    // A file-size limit makes writes fail part-way (EFBIG once SIGXFSZ is ignored).
    int status = -1;
    const std::string err = testsupport::capture(
        "sh -c \"trap '' XFSZ; ulimit -f 64; exec " + testsupport::toolPath("sonora-tool").string() + " convert " +
            testsupport::q(dir / "in.caf") + " " + testsupport::q(dir / "out.wav") + "\" 2>&1",
        &status);
    EXPECT_EQ(status, 1) << err;
    EXPECT_NE(err.find("Error reading from the output file."), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
}
