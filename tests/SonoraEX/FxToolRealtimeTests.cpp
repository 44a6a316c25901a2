#include "SonoraEX/support/FxToolFixture.h"

TEST_F(FxTool, RealtimeOnTheNullDeviceMatchesTheOfflineRender) {
    ASSERT_EQ(tool("fx fader " + path("dc.wav") + " " + path("a.wav") + " --param gain=0 --automate gain:1@0.3+0.5"), 0);
    ASSERT_EQ(tool("fx fader " + path("dc.wav") + " " + path("b.wav") + " --param gain=0 --automate gain:1@0.3+0.5 --realtime"), 0);
    const auto a = samples("a.wav"), b = samples("b.wav");
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], 1e-6) << i;
}
