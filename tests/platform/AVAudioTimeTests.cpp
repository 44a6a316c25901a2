#include "platform/avfaudio/AVAudioTime.h"

#include <gtest/gtest.h>

using platform::AVAudioTime;

TEST(AVAudioTime, EachInitialiserSetsItsParts) {
    const AVAudioTime host(uint64_t(5'000));
    EXPECT_TRUE(host.isHostTimeValid());
    EXPECT_FALSE(host.isSampleTimeValid());
    EXPECT_EQ(host.hostTime(), 5'000u);

    const AVAudioTime sample(int64_t(1'000), 44'100.0);
    EXPECT_FALSE(sample.isHostTimeValid());
    EXPECT_TRUE(sample.isSampleTimeValid());
    EXPECT_EQ(sample.sampleTime(), 1'000);
    EXPECT_EQ(sample.sampleRate(), 44'100.0);

    const AVAudioTime both(uint64_t(7), int64_t(-3), 48'000.0);
    EXPECT_TRUE(both.isHostTimeValid());
    EXPECT_TRUE(both.isSampleTimeValid());
    EXPECT_EQ(both.hostTime(), 7u);
    EXPECT_EQ(both.sampleTime(), -3);
    EXPECT_EQ(both.sampleRate(), 48'000.0);
}

TEST(AVAudioTime, HostTicksAreNanoseconds) {
    EXPECT_EQ(AVAudioTime::hostTimeForSeconds(1.5), 1'500'000'000u);
    EXPECT_EQ(AVAudioTime::hostTimeForSeconds(0), 0u);
    EXPECT_DOUBLE_EQ(AVAudioTime::secondsForHostTime(250'000'000), 0.25);
    EXPECT_DOUBLE_EQ(AVAudioTime::secondsForHostTime(AVAudioTime::hostTimeForSeconds(12.345)), 12.345);
}

TEST(AVAudioTime, TimeStampFlagsSayWhichPartsAreValid) {
    platform::AudioTimeStamp stamp;
    stamp.mHostTime = 99;
    stamp.mSampleTime = 512;
    stamp.mFlags = platform::kAudioTimeStampSampleTimeValid;
    const AVAudioTime sampleOnly(stamp, 48'000.0);
    EXPECT_FALSE(sampleOnly.isHostTimeValid());
    EXPECT_TRUE(sampleOnly.isSampleTimeValid());
    EXPECT_EQ(sampleOnly.sampleTime(), 512);
    EXPECT_EQ(sampleOnly.audioTimeStamp().mFlags, platform::kAudioTimeStampSampleTimeValid);

    const AVAudioTime both(uint64_t(1), int64_t(2), 44'100.0);
    EXPECT_EQ(both.audioTimeStamp().mFlags, platform::kAudioTimeStampSampleHostTimeValid);
    stamp.mFlags = platform::kAudioTimeStampNothingValid;
    const AVAudioTime neither(stamp, 44'100.0);
    EXPECT_FALSE(neither.isHostTimeValid());
    EXPECT_FALSE(neither.isSampleTimeValid());
}
