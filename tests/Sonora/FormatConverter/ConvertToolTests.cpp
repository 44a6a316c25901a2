// The converter as a user meets it: sonora-tool convert, checked against sox, ffprobe and faad.
#include "ConverterFixtures.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using testsupport::capture;
using testsupport::q;
using testsupport::run;
using testsupport::ScratchDir;
namespace fs = std::filesystem;

namespace {

// Prints "<lag> <same length 0/1> <SNR dB> <residual dBFS>" of B against A (both read through sox,
// channel by channel, lag searched within ±4096 frames).
constexpr const char* kCompare = R"(
import numpy as np, subprocess, sys
def read(path):
    raw = subprocess.run(['sox', path, '-t', 'f32', '-'], capture_output=True, check=True).stdout
    ch = int(subprocess.run(['soxi', '-c', path], capture_output=True, check=True).stdout)
    return np.frombuffer(raw, dtype='<f4').astype(np.float64).reshape(-1, ch)
a, b = read(sys.argv[1]), read(sys.argv[2])
n = min(len(a), len(b))
x, y = a[:n, 0], b[:n, 0]
size = 1 << int(np.ceil(np.log2(2 * n)))
corr = np.fft.irfft(np.fft.rfft(y, size) * np.conj(np.fft.rfft(x, size)), size)
lags = np.r_[np.arange(0, 4097), np.arange(-4096, 0)]
lag = int(lags[np.argmax(corr[lags])])
residual = b[:n] - a[:n]
snr = 10 * np.log10(np.sum(a[:n] ** 2) / max(np.sum(residual ** 2), 1e-30))
floor = 10 * np.log10(max(np.mean(residual ** 2), 1e-30))
print(lag, int(len(a) == len(b)), snr, floor)
)";

struct Comparison {
    int lag = 99999;
    bool sameLength = false;
    double snr = 0, residualDb = 0;
};

Comparison compare(const ScratchDir& dir, const fs::path& a, const fs::path& b) {
    testsupport::writeFile(dir / "compare.py", kCompare);
    std::istringstream out(capture("/usr/bin/python3 " + q(dir / "compare.py") + " " + q(a) + " " + q(b)));
    Comparison c;
    int same = 0;
    out >> c.lag >> same >> c.snr >> c.residualDb;
    c.sameLength = same == 1;
    return c;
}

bool haveAll(std::initializer_list<const char*> tools) {
    for (const char* tool : tools)
        if (!testsupport::haveTool(tool)) return false;
    return converterfixtures::haveConversionTool() && run("/usr/bin/python3 -c 'import numpy' 2>/dev/null") == 0;
}

std::string tool() { return q(testsupport::toolPath("sonora-tool")); }

}  // namespace

TEST(ConvertTool, PCMConversionsMatchSox) {
    if (!haveAll({"sox", "soxi", "ffprobe"})) GTEST_SKIP() << "needs sonora-tool, sox, ffprobe and numpy";
    ScratchDir dir;
    const auto r = dir / "r.caf", h = dir / "h.wav";
    ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(r) + " synth 3 sine 440 sine 1000 remix 1 2 gain -6"), 0);
    ASSERT_EQ(run("sox -n -r 48000 -c 2 -b 24 " + q(h) + " synth 3 sine 440 sine 3000 gain -6"), 0);

    // Same rate, channels and bits into another container: the samples are unchanged.
    ASSERT_EQ(run(tool() + " convert " + q(r) + " " + q(dir / "o.wav") + " --rate 44100 --channels 2 --bits 16"), 0);
    EXPECT_EQ(run("sox " + q(r) + " -t s16 " + q(dir / "r.s16") + " && sox " + q(dir / "o.wav") + " -t s16 " +
                  q(dir / "o.s16") + " && cmp -s " + q(dir / "r.s16") + " " + q(dir / "o.s16")),
              0);

    // 48 kHz → 44.1 kHz at 24 bits: the same as sox's resampler, to the noise floor of 24 bits.
    ASSERT_EQ(run(tool() + " convert " + q(h) + " " + q(dir / "h44.wav") + " --rate 44100 --bits 24 --rule any"), 0);
    ASSERT_EQ(run("sox " + q(h) + " -r 44100 -e floating-point -b 32 " + q(dir / "h44ref.wav")), 0);
    const Comparison resampled = compare(dir, dir / "h44ref.wav", dir / "h44.wav");
    EXPECT_EQ(resampled.lag, 0);
    EXPECT_TRUE(resampled.sameLength);
    EXPECT_LE(resampled.residualDb, -90) << "SNR " << resampled.snr;

    // 8-bit WAV is unsigned; AIFF keeps 24 bits, big-endian.
    ASSERT_EQ(run(tool() + " convert " + q(h) + " " + q(dir / "u8.wav") + " --bits 8 --rule any"), 0);
    EXPECT_EQ(capture("soxi -e " + q(dir / "u8.wav")), "Unsigned Integer PCM\n");
    ASSERT_EQ(run(tool() + " convert " + q(h) + " " + q(dir / "b.aif")), 0);
    EXPECT_EQ(capture("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 " + q(dir / "b.aif")),
              "pcm_s24be\n");
}

TEST(ConvertTool, AACAt192kMatchesTheSource) {
    if (!haveAll({"sox", "soxi", "ffprobe", "faad"})) GTEST_SKIP() << "needs sonora-tool, sox, ffprobe, faad and numpy";
    ScratchDir dir;
    const auto r = dir / "r.caf", m4a = dir / "o.m4a";
    ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(r) + " synth 3 sine 440 sine 1000 remix 1 2 gain -6"), 0);
    ASSERT_EQ(run(tool() + " convert " + q(r) + " " + q(m4a) + " --bitrate 192000"), 0);

    const std::string info = capture("ffprobe -v error -select_streams a:0 -show_entries "
                                     "stream=codec_name,sample_rate,channels,bit_rate,duration_ts -of default=nw=1 " + q(m4a));
    EXPECT_NE(info.find("codec_name=aac\n"), std::string::npos) << info;
    EXPECT_NE(info.find("sample_rate=44100\n"), std::string::npos) << info;
    EXPECT_NE(info.find("channels=2\n"), std::string::npos) << info;
    EXPECT_NE(info.find("duration_ts=132300\n"), std::string::npos) << info;
    const auto at = info.find("bit_rate=");
    ASSERT_NE(at, std::string::npos) << info;
    EXPECT_NEAR(std::stod(info.substr(at + 9)), 192000, 192000 * 0.05) << info;

    ASSERT_EQ(run("faad -q -o " + q(dir / "dec.wav") + " " + q(m4a) + " >/dev/null 2>&1"), 0);
    const Comparison decoded = compare(dir, r, dir / "dec.wav");
    EXPECT_EQ(decoded.lag, 0);
    EXPECT_GE(decoded.snr, 30);
}

TEST(ConvertTool, BadArgumentsAndErrors) {
    if (!converterfixtures::haveConversionTool()) GTEST_SKIP() << "needs sonora-tool convert";
    ScratchDir dir;
    int status = -1;
    capture(tool() + " convert a.wav 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
    capture(tool() + " convert a.wav b.wav --rule sometimes 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
    const std::string err = capture(tool() + " convert " + q(dir / "in.flac") + " " + q(dir / "o.wav") + " 2>&1", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("The input file format is in an incompatible format: flac"), std::string::npos) << err;
}
