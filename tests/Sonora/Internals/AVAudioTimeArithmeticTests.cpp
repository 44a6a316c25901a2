#include "Sonora/Internals/Utilities/AVAudioTimeArithmetic.h"

#include "platform/foundation/HostTime.h"

#include <gtest/gtest.h>

#include <cmath>

using platform::AVAudioTime;
using namespace sonora;

namespace {
// One host tick is one nanosecond here.
uint64_t ticksIn(double seconds) { return uint64_t(std::llround(seconds * 1e9)); }
}  // namespace

TEST(AVAudioTimeArithmetic, SecondsPerTickComesFromTheTimebase) {
    EXPECT_DOUBLE_EQ(secondsPerTick(), 1e-9);
    const uint64_t before = platform::mach_absolute_time();
    const AVAudioTime current = now();
    EXPECT_TRUE(current.isHostTimeValid());
    EXPECT_FALSE(current.isSampleTimeValid());
    EXPECT_GE(current.hostTime(), before);
    EXPECT_LE(current.hostTime(), platform::mach_absolute_time());
}

TEST(AVAudioTimeArithmetic, OffsetMovesTheValidParts) {
    const AVAudioTime host(uint64_t(10'000'000'000));
    const AVAudioTime later = offset(host, 0.5);
    EXPECT_EQ(later.hostTime(), host.hostTime() + ticksIn(0.5));
    EXPECT_FALSE(later.isSampleTimeValid());
    EXPECT_EQ(offset(host, -0.25).hostTime(), host.hostTime() - ticksIn(0.25));

    const AVAudioTime sample(int64_t(1000), 44100.0);
    const AVAudioTime earlier = offset(sample, -0.01);
    EXPECT_EQ(earlier.sampleTime(), 559);
    EXPECT_EQ(earlier.sampleRate(), 44100.0);
    EXPECT_FALSE(earlier.isHostTimeValid());
    // Frames are truncated toward zero: 44100 × 0.00001 = 0.441.
    EXPECT_EQ(offset(sample, 0.00001).sampleTime(), 1000);

    const AVAudioTime both(uint64_t(5'000'000'000), int64_t(100), 48000.0);
    const AVAudioTime moved = both + 1;
    EXPECT_EQ(moved.hostTime(), 6'000'000'000u);
    EXPECT_EQ(moved.sampleTime(), 48100);
    EXPECT_EQ(moved - 1.0, both);
    EXPECT_EQ((sample + 0.5).sampleTime(), 1000 + 22050);
    EXPECT_EQ((sample - 2).sampleTime(), 1000 - 88200);
}

TEST(AVAudioTimeArithmetic, ExtrapolationCompletesOnePartFromAnAnchor) {
    const AVAudioTime anchor(uint64_t(2'000'000'000), int64_t(0), 48000.0);

    const AVAudioTime hostOnly(anchor.hostTime() + ticksIn(1.0));
    const AVAudioTime completed = extrapolated(hostOnly, anchor);
    EXPECT_EQ(completed.hostTime(), hostOnly.hostTime());
    EXPECT_EQ(completed.sampleTime(), 48000);
    EXPECT_EQ(completed.sampleRate(), 48000.0);

    const AVAudioTime before(anchor.hostTime() - ticksIn(0.5));
    EXPECT_EQ(extrapolated(before, anchor).sampleTime(), -24000);

    const AVAudioTime sampleOnly(int64_t(96000), 48000.0);
    const AVAudioTime withHost = extrapolated(sampleOnly, anchor);
    EXPECT_TRUE(withHost.isHostTimeValid());
    EXPECT_EQ(withHost.hostTime(), anchor.hostTime() + ticksIn(2.0));
    EXPECT_EQ(withHost.sampleTime(), 96000);

    // Left alone: another rate, an anchor with one part, a time with both parts.
    const AVAudioTime otherRate(int64_t(100), 44100.0);
    EXPECT_EQ(extrapolated(otherRate, anchor), otherRate);
    EXPECT_EQ(extrapolated(hostOnly, AVAudioTime(uint64_t(1))), hostOnly);
    EXPECT_EQ(extrapolated(anchor, AVAudioTime(uint64_t(7), int64_t(7), 48000.0)), anchor);
}

TEST(AVAudioTimeArithmetic, TimeIntervalBetweenTimes) {
    const AVAudioTime a(uint64_t(1'000'000'000));
    const AVAudioTime b(a.hostTime() + ticksIn(2.0));
    EXPECT_EQ(timeInterval(b, a), 2.0);
    EXPECT_EQ(timeInterval(a, b), -2.0);

    const AVAudioTime s1(int64_t(44100), 44100.0);
    const AVAudioTime s2(int64_t(0), 44100.0);
    EXPECT_EQ(timeInterval(s1, s2), 1.0);

    EXPECT_EQ(timeInterval(a, s1), std::nullopt);

    const AVAudioTime none(platform::AudioTimeStamp{}, 44100.0);  // neither part valid
    const AVAudioTime both(uint64_t(3), int64_t(4), 44100.0);
    EXPECT_EQ(timeInterval(both, none), std::nullopt);
    EXPECT_EQ(timeInterval(none, both), std::nullopt);
}

TEST(AVAudioTimeArithmetic, SecondsSinceAndFromHostTime) {
    const AVAudioTime t(uint64_t(3'000'000'000));
    EXPECT_DOUBLE_EQ(secondsSinceHostTime(t, 1'000'000'000), 2.0);
    EXPECT_DOUBLE_EQ(secondsSinceHostTime(t, 4'000'000'000), -1.0);
    EXPECT_EQ(secondsSinceHostTime(AVAudioTime(int64_t(5), 44100.0), 0), 0.0);

    const AVAudioTime from = fromHostTime(1'000, 1.5);
    EXPECT_TRUE(from.isHostTimeValid());
    EXPECT_FALSE(from.isSampleTimeValid());
    EXPECT_EQ(from.hostTime(), 1'000 + ticksIn(1.5));
    EXPECT_EQ(fromHostTime(2'000'000'000, -1.0).hostTime(), 1'000'000'000u);
}
