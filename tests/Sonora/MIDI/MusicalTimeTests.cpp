#include "Sonora/Sequencing/AppleSequencer/MIDINoteData.h"
#include "Sonora/Sequencing/Duration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace sonora;

TEST(Duration, ConversionsAndComparison) {
    const Duration d = Duration::fromSamples(0, 44100, 120) + Duration(4, 120);
    EXPECT_EQ(d.samples(), 88200);
    EXPECT_DOUBLE_EQ(d.seconds(), 2.0);
    EXPECT_EQ(Duration(2, 60), Duration(2, 140));
    EXPECT_DOUBLE_EQ(Duration::fromSeconds(3, 48000, 120).beats, 6.0);
    EXPECT_DOUBLE_EQ(ceil(Duration(1.2)).beats, 2.0);
    EXPECT_DOUBLE_EQ((Duration(5) % Duration(2)).beats, 1.0);
    EXPECT_EQ(Duration::fromSamples(88200, 44100, 120).description(),
              "88200 samples at 44100.0 = 4.0 Beats at 120.0 BPM = 2.0s");
}

TEST(Duration, SampleCountsSaturateBothWays) {
    constexpr auto max = std::numeric_limits<int64_t>::max();
    constexpr auto min = std::numeric_limits<int64_t>::min();
    const struct {
        double beats, tempo;
        int64_t samples;
    } cases[] = {
        {1, 0, max},
        {NAN, 120, max},
        {-1, 0, min},
        {-1e300, 120, min},
        {1e300, 120, max},
    };
    for (const auto& c : cases) {
        Duration d = Duration::fromSeconds(0, 44100, c.tempo);
        d.beats = c.beats;
        EXPECT_EQ(d.samples(), c.samples) << c.beats << " at " << c.tempo;
    }
}

TEST(TimeSignature, DescriptionAndBottomValues) {
    EXPECT_EQ((TimeSignature{6, TimeSignatureBottomValue::eight}).description(), "6/8");
    EXPECT_EQ((TimeSignature{4, TimeSignatureBottomValue::sixteen}).numeratorAndDenominator().second, 16);
    EXPECT_FALSE(TimeSignatureBottomValueFromRawValue(0));
    EXPECT_FALSE(TimeSignatureBottomValueFromRawValue(5));
}

TEST(MIDINoteData, TextAndEquality) {
    const MIDINoteData note{60, 100, 0, Duration(1), Duration(0)};
    EXPECT_EQ(note.description(), "note: 60\nvelocity: 100\nchannel: 0\nduration: 1.0\nposition: 0.0");
    EXPECT_EQ((MIDINoteData{60, 100, 0, Duration(0.25), Duration(0)}).description().substr(34), "duration: 0.25\nposition: 0.0");
    EXPECT_EQ(note, (MIDINoteData{60, 100, 0, Duration(1, 180), Duration(-0.0, 90)}));
    const MIDINoteData nan{60, 100, 0, Duration(1), Duration(NAN)};
    EXPECT_FALSE(nan == nan);
}
