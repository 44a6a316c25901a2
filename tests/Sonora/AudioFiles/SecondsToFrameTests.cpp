#include "Sonora/Internals/Utilities/SecondsToFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using sonora::secondsToFrame;

TEST(SecondsToFrame, SnapsTruncatesAndRefusesWhatIsNotAFrame) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double seconds, rate;
        std::optional<int64_t> frame;
    } cases[] = {
        {1.0, 44100, 44100},
        {15.0 / 44100, 44100, 15},  // 15 / 44100 * 44100 is just below 15 in double precision
        {23.0 / 44100, 44100, 23},
        {0.5 / 44100, 44100, 0},    // half a frame truncates
        {0.9999 / 44100, 44100, 0},
        {-0.5 / 44100, 44100, 0},   // truncation is toward zero
        {-2.0, 100, -200},          // callers decide whether a negative frame is usable
        {nan, 44100, std::nullopt},
        {inf, 44100, std::nullopt},
        {-inf, 44100, std::nullopt},
        {1e300, 44100, std::nullopt},
        {1.0, nan, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(secondsToFrame(c.seconds, c.rate), c.frame) << c.seconds << " s at " << c.rate;
}
