#include "SonoraEX/support/FxToolFixture.h"

#include <algorithm>
#include <cmath>

using testsupport::capture;
using testsupport::q;

TEST_F(FxTool, FaderAndLimiterShapeTheSignalExactly) {
    ASSERT_EQ(tool("fx fader " + path("tone.wav") + " " + path("g.wav") + " --param gain=0.5"), 0);
    ASSERT_EQ(tool("fx fader " + path("tone.wav") + " " + path("m.wav") + " --param mixToMono=1 --param flipStereo=1"), 0);
    ASSERT_EQ(testsupport::run("sox -D -r 44100 -c 2 -n -b 16 " + path("lo.wav") + " synth 2 sine 440 gain -6 remix 1 0"), 0);
    ASSERT_EQ(tool("fx stereoFieldLimiter " + path("lo.wav") + " " + path("s1.wav") + " --param amount=1"), 0);
    ASSERT_EQ(tool("fx stereoFieldLimiter " + path("tone.wav") + " " + path("s0.wav") + " --param amount=0"), 0);
    const auto tone = samples("tone.wav"), g = samples("g.wav"), m = samples("m.wav");
    const auto lo = samples("lo.wav"), s1 = samples("s1.wav"), s0 = samples("s0.wav");
    ASSERT_EQ(g.size(), 88200u * 2);
    ASSERT_EQ(m.size(), tone.size());
    ASSERT_EQ(s1.size(), lo.size());
    for (size_t i = 0; i < tone.size(); i += 2) {
        ASSERT_EQ(g[i], tone[i] * 0.5f) << i;
        ASSERT_EQ(g[i + 1], tone[i + 1] * 0.5f) << i;
        const float mid = (tone[i] + tone[i + 1]) / 2;
        ASSERT_NEAR(m[i], mid, 1e-7) << i;
        ASSERT_NEAR(m[i + 1], mid, 1e-7) << i;
        ASSERT_NEAR(s1[i], 0.5f * lo[i], 1e-7) << i;
        ASSERT_NEAR(s1[i + 1], 0.5f * lo[i], 1e-7) << i;
    }
    EXPECT_TRUE(s0 == tone) << "amount 0 is bit-identical to the input";
    EXPECT_NE(capture("sox " + path("g.wav") + " -n stats 2>&1").find("-15.03"), std::string::npos);
}

TEST_F(FxTool, AutomationLandsOnItsFrames) {
    ASSERT_EQ(tool("fx fader " + path("dc.wav") + " " + path("a.wav") + " --param gain=0 --automate gain:1@0.3+0.5"), 0);
    ASSERT_EQ(tool("fx fader " + path("dc.wav") + " " + path("c.wav") +
                   " --param gain=0 --automate 'gain:1@0+1^2' --resolution 0.25 --cycle 300"),
              0);
    const auto a = samples("a.wav"), c = samples("c.wav");
    ASSERT_EQ(a.size(), 88200u * 2);
    for (size_t n = 0; n < 88200; ++n) {
        const double expected = 0.5 * std::clamp((double(n) - 13230) / 22050, 0.0, 1.0);
        ASSERT_NEAR(a[2 * n], expected, 5e-6) << n;
        ASSERT_NEAR(a[2 * n + 1], expected, 5e-6) << n;
    }
    for (int k = 0; k <= 4; ++k) EXPECT_NEAR(c[2 * size_t(std::min(11025 * k, 88199))], 0.5 * std::pow(k / 4.0, 2), 1e-5) << k;
    EXPECT_NEAR(c[2 * (11025 + 5512)], (0.5 * 0.0625 + 0.5 * 0.25) / 2, 1e-5) << "linear between";
    EXPECT_EQ(c[2 * 60000], 0.5f);
}

TEST_F(FxTool, CallbackPrintsNotesInOrderAndDropsBeyondTheRing) {
    const std::string exe = q(testsupport::toolPath("sonora-tool"));
    EXPECT_EQ(capture(exe + " callback --notes 3"), "144 60 100\n144 61 100\n144 62 100\n");
    const std::string many = capture(exe + " callback --notes 1100");
    EXPECT_EQ(std::count(many.begin(), many.end(), '\n'), 1023);
}

TEST_F(FxTool, BadArgumentsFailClearly) {
    for (const std::string& args : std::vector<std::string>{"fx", "fx echo " + path("tone.wav") + " " + path("x.wav"),
                                   "fx fader " + path("tone.wav") + " " + path("x.wav") + " --automate gain:oops",
                                   "fx fader " + path("tone.wav") + " " + path("x.wav") + " --resolution 0",
                                   "fx fader " + path("tone.wav") + " " + path("x.wav") + " --param nothing=1",
                                   "callback --notes many"}) {
        const int status = tool(args + " 2>/dev/null");
        EXPECT_TRUE(status == 1 || status == 2) << args << " gave " << status;
    }
}
