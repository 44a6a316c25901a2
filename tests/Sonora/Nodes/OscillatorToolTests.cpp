// `sonora-tool table` and `osc` from the shell; the oscillator's file checked against a float32
// numpy model of its loop and by the spectrum's strongest bin.
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

using testsupport::capture;
using testsupport::q;
using testsupport::readFloats;
using testsupport::run;
using testsupport::toolPath;

namespace {

std::string tool() { return q(toolPath("sonora-tool")); }

bool haveNumpy() { return run("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") == 0; }

class OscillatorTool : public ::testing::Test {
protected:
    // The interleaved stereo samples of a file the tool wrote.
    std::vector<float> samples(const std::string& name) {
        EXPECT_EQ(run(tool() + " dump " + q(t / name) + " " + q(t / (name + ".raw"))), 0);
        return readFloats(t / (name + ".raw"));
    }
    std::vector<float> osc(const std::string& arguments, const std::string& name) {
        EXPECT_EQ(run(tool() + " osc " + arguments + " " + q(t / name)), 0) << arguments;
        return samples(name);
    }
    testsupport::ScratchDir t;
};

}  // namespace

TEST(TableTool, PrintsTheSamples) {
    const struct {
        const char* arguments;
        const char* printed;
    } cases[] = {
        {"square 4", "-1 -1 1 1\n"},
        {"square 4 --phase 0.25", "-1 1 1 -1\n"},
        {"sawtooth 4", "-1 -0.5 0 0.5\n"},
        {"positiveSawtooth 4", "0 0.25 0.5 0.75\n"},
        {"triangle 4", "-1 0 1 0\n"},
        {"sine 4", "0 1 -8.74227766e-08 -1\n"},
        {"zero 0", "\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(capture(tool() + " table " + c.arguments), c.printed) << c.arguments;
    for (const char* bad : {"table Square 4", "table square", "table square -1", "table square 4 --phase x",
                            "osc square 441 0.5 1", "osc nope 441 0.5 1 x.wav", "osc square 441 0.5 -1 x.wav",
                            // Longer than any phase can address: refused before a sample is made.
                            "table sine 16777217", "table sine 4294967295", "osc sine 441 0.5 1 x.wav --count 4294967295"})
        EXPECT_EQ(run(tool() + " " + bad + " 2>/dev/null"), 2) << bad;
    EXPECT_EQ(capture(tool() + " table zero 4294967295 2>&1 >/dev/null | head -1"),
              "sonora-tool: a table holds at most 16777216 samples, not 4294967295\n");
    EXPECT_EQ(run(tool() + " table sine 4 --phase 1e30 2>/dev/null"), 1);
}

TEST_F(OscillatorTool, SquareAt441MatchesTheModelAndPeaksAt441) {
    const auto out = osc("square 441 0.5 1", "o.wav");
    ASSERT_EQ(out.size(), 44100u * 2);
    for (size_t f = 0; f < 44100; ++f) ASSERT_EQ(out[2 * f], out[2 * f + 1]) << f;
    if (!haveNumpy()) GTEST_SKIP() << "numpy missing";
    // The loop as written, in float32: the table, the phase increment, one wrap each way.
    const std::string script = R"(
import sys, numpy as np
f32 = np.float32
x = np.fromfile(sys.argv[1], dtype='<f4').reshape(-1, 2)
n = 4096
table = np.where(np.arange(n) < n // 2, f32(-1), f32(1)).astype(f32)
two = f32(6.283185)
inc = f32(f32(two / f32(44100)) * f32(441))
p = f32(0)
model = np.empty(len(x), dtype=f32)
for i in range(len(x)):
    model[i] = table[int(f32(n) * (p / two))] * f32(0.5)
    p = f32(p + inc)
    if p >= two: p = f32(p - two)
    if p < 0: p = f32(p + two)
bad = np.nonzero((x[:, 0] != model) | (x[:, 1] != model))[0]
spectrum = np.abs(np.fft.rfft(x[:, 0]))
peak = np.argmax(spectrum) * 44100 / len(x)
print(len(bad), bad[:5], peak)
sys.exit(0 if len(bad) == 0 and abs(peak - 441) <= 1 else 1)
)";
    testsupport::writeFile(t / "model.py", script);
    int status = -1;
    const std::string printed = capture("/usr/bin/python3 " + q(t / "model.py") + " " + q(t / "o.wav.raw"), &status);
    EXPECT_EQ(status, 0) << printed;
}

TEST_F(OscillatorTool, RealtimeCaptureEqualsTheOfflineRender) {
    const auto offline = osc("square 441 0.5 0.5", "o.wav");
    const auto realtime = osc("square 441 0.5 0.5 --realtime", "r.wav");
    ASSERT_EQ(offline.size(), 22050u * 2);
    EXPECT_EQ(realtime, offline);
}

TEST_F(OscillatorTool, QuarterRateAndBeyondTheRate) {
    const struct {
        const char* arguments;
        std::vector<float> cycle;
    } cases[] = {
        {"square 11025 1 0.01 --count 4", {-1, -1, 1, 1}},
        {"sawtooth -11025 1 0.01 --count 4", {-1, 0.5f, 0, -0.5f}},
    };
    for (const auto& c : cases) {
        const auto out = osc(c.arguments, "q.wav");
        ASSERT_EQ(out.size(), 441u * 2) << c.arguments;
        for (size_t f = 0; f < 441; ++f) ASSERT_EQ(out[2 * f], c.cycle[f % 4]) << c.arguments << " frame " << f;
    }

    // Backwards through a 4096-sample sawtooth: every value is one of the table's, halved.
    std::set<float> halves;
    for (int j = 0; j < 4096; ++j) halves.insert((2 * float(j) / 4096 - 1) * 0.5f);
    for (const float v : osc("sawtooth -441 0.5 1", "n.wav")) ASSERT_TRUE(halves.count(v)) << v;

    const auto beyond = osc("sine 70000 0.5 0.1", "w.wav");
    ASSERT_EQ(beyond.size(), 4410u * 2);
    for (const float v : beyond) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 0.5f) << v;
}
