// `sonora-tool mix` and `devices` from the shell, the mix checked against `sox -m`.
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

using testsupport::capture;
using testsupport::q;
using testsupport::readFloats;
using testsupport::run;
using testsupport::toolPath;

namespace {

std::string tool() { return q(toolPath("sonora-tool")); }

class MixTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::haveTool("sox")) GTEST_SKIP() << "sox missing";
        ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(t / "c1.wav") + " synth 1 sine 440 gain -3"), 0);
        ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(t / "c2.wav") + " synth 0.5 sine 660 gain -3"), 0);
        ASSERT_EQ(run("sox -n -r 48000 -c 1 -b 16 " + q(t / "c3.wav") + " synth 0.5 sine 1000 gain -6"), 0);
    }
    // Our file's samples as sonora-tool reads them, interleaved.
    std::vector<float> ours(const std::string& name) {
        EXPECT_EQ(run(tool() + " dump " + q(t / name) + " " + q(t / (name + ".raw"))), 0);
        return readFloats(t / (name + ".raw"));
    }
    // A sox reference as raw interleaved float.
    std::vector<float> reference(const std::string& soxArguments, const std::string& name) {
        EXPECT_EQ(run("sox " + soxArguments + " -t f32 " + q(t / name)), 0);
        return readFloats(t / name);
    }
    testsupport::ScratchDir t;
};

}  // namespace

TEST_F(MixTool, MixOfTwoClipsEqualsSoxMix) {
    ASSERT_EQ(run(tool() + " mix " + q(t / "m.caf") + " --float --clip " + q(t / "c1.wav") + "@0:0.5 --clip " +
                  q(t / "c2.wav") + "@0.25:0.7"),
              0);
    const auto mix = ours("m.caf");
    const auto ref = reference("-m -v 0.5 " + q(t / "c1.wav") + " -v 0.7 \"|sox " + q(t / "c2.wav") + " -p pad 0.25\"",
                               "ref.f32");
    ASSERT_EQ(mix.size(), ref.size());
    ASSERT_EQ(mix.size(), 44100u * 2);
    float worst = 0;
    for (size_t i = 0; i < mix.size(); ++i) worst = std::max(worst, std::fabs(mix[i] - ref[i]));
    EXPECT_LE(worst, 1e-6f);
    EXPECT_NE(capture("soxi -t " + q(t / "m.caf")), "");
    EXPECT_NE(capture("soxi -t " + q(t / "m.caf")).find("caf"), std::string::npos);
}

TEST_F(MixTool, MonoClipAtAnotherRateIsResampledAndDuplicatedInPlace) {
    ASSERT_EQ(run(tool() + " mix " + q(t / "n.caf") + " --float --clip " + q(t / "c3.wav") + "@0.1"), 0);
    const auto mix = ours("n.caf");
    const auto ref = reference(q(t / "c3.wav") + " -r 44100 -c 2 -e floating-point -b 32", "ref3.f32");
    // The reference without the pad: 0.1 s = 4410 frames of lead-in in ours.
    ASSERT_EQ(mix.size(), ref.size() + 4410 * 2);
    for (size_t i = 0; i < 4410 * 2; ++i) ASSERT_EQ(mix[i], 0.0f) << i;
    // Lag: the best alignment within ±20 frames is 0.
    auto residual = [&](int lag) {
        double error = 0, energy = 0;
        for (size_t f = 20; f + 20 < ref.size() / 2; ++f) {
            for (size_t c = 0; c < 2; ++c) {
                const double r = ref[f * 2 + c];
                const double m = mix[(4410 + f + lag) * 2 + c];
                error += (m - r) * (m - r);
                energy += r * r;
            }
        }
        return 10 * std::log10(error / energy);
    };
    const double atZero = residual(0);
    for (int lag = -20; lag <= 20; ++lag) {
        if (lag != 0) {
            EXPECT_LT(atZero, residual(lag)) << lag;
        }
    }
    EXPECT_LE(atZero, -85.0);
    for (size_t f = 0; f < ref.size() / 2; ++f) ASSERT_EQ(mix[(4410 + f) * 2], mix[(4410 + f) * 2 + 1]);
}

TEST_F(MixTool, SixteenBitOutputAndTheTree) {
    ASSERT_EQ(run(tool() + " mix " + q(t / "s.caf") + " --bits 16 --clip " + q(t / "c1.wav") + "@0"), 0);
    EXPECT_NE(capture("soxi -b " + q(t / "s.caf")).find("16"), std::string::npos);
    EXPECT_EQ(ours("s.caf"), ours("c1.wav"));

    const std::string tree = capture(tool() + " mix --tree " + q(t / "m.caf") + " --clip " + q(t / "c1.wav") +
                                     "@0 --clip " + q(t / "c2.wav") + "@0");
    EXPECT_TRUE(std::regex_match(tree, std::regex("Sonora \\| ↳Mixer\\(\"Sonora Engine Mixer\"\\)\n"
                                                  "Sonora \\|  ↳Mixer\\(\"0x[0-9a-f]{16}\"\\)\n"
                                                  "Sonora \\|   ↳ClipPlayer\n"
                                                  "Sonora \\|   ↳ClipPlayer\n")))
        << tree;
    EXPECT_FALSE(std::filesystem::exists(t / "m.caf"));
}

TEST_F(MixTool, BadArgumentsAndMissingFiles) {
    EXPECT_EQ(run(tool() + " mix " + q(t / "x.caf") + " 2>/dev/null"), 2);
    EXPECT_EQ(run(tool() + " mix " + q(t / "x.caf") + " --clip " + q(t / "c1.wav") + " 2>/dev/null"), 2);
    EXPECT_EQ(run(tool() + " mix " + q(t / "x.caf") + " --clip " + q(t / "c1.wav") + "@-1 2>/dev/null"), 2);
    EXPECT_EQ(run(tool() + " mix " + q(t / "x.caf") + " --bits 12 --clip " + q(t / "c1.wav") + "@0 2>/dev/null"),
              2);
    EXPECT_EQ(run(tool() + " mix " + q(t / "x.caf") + " --clip " + q(t / "none.wav") + "@0 2>/dev/null"), 1);
}

TEST(DevicesTool, ListsTheNullDevices) {
    const std::string out = capture("TAMBERLO_AUDIO_DEVICE=null " + tool() + " devices");
    EXPECT_NE(out.find("Null Output\tinputs 0\toutputs 2"), std::string::npos) << out;
    EXPECT_NE(out.find("Null Input\tinputs 2\toutputs 0"), std::string::npos) << out;
}
