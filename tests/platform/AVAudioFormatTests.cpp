#include "platform/avfaudio/AVAudioFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace platform;

namespace {

AudioStreamBasicDescription pcm(double rate, uint32_t channels, uint32_t bits, AudioFormatFlags flags) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = flags | kAudioFormatFlagIsPacked;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bits;
    d.mFramesPerPacket = 1;
    d.mBytesPerFrame = (flags & kAudioFormatFlagIsNonInterleaved) ? bits / 8 : bits / 8 * channels;
    d.mBytesPerPacket = d.mBytesPerFrame;
    return d;
}

AudioStreamBasicDescription compressed(AudioFormatID id, double rate, uint32_t channels) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = id;
    d.mChannelsPerFrame = channels;
    d.mFramesPerPacket = 1024;
    return d;
}

}  // namespace

TEST(AVAudioFormat, StandardFormatIsFloat32DeinterleavedAndRefusesBadRatesAndNoChannels) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { double rate; uint32_t channels; bool valid; } cases[] = {
        {44100, 2, true}, {48000, 1, true}, {96000, 8, true}, {22050.5, 6, true},
        {0, 2, false},    {-44100, 2, false}, {nan, 2, false}, {inf, 2, false}, {44100, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch");
        const auto f = AVAudioFormat::standardFormatWithSampleRate(c.rate, c.channels);
        EXPECT_EQ(f.isValid(), c.valid);
        if (!c.valid) {
            EXPECT_EQ(f, AVAudioFormat());
            continue;
        }
        EXPECT_TRUE(f.isStandard());
        EXPECT_FALSE(f.isInterleaved());
        EXPECT_EQ(f.commonFormat(), AVAudioCommonFormat::pcmFormatFloat32);
        const auto& d = f.streamDescription();
        EXPECT_EQ(d.mFormatFlags, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved);
        EXPECT_EQ(d.mBytesPerFrame, 4u);
        EXPECT_EQ(d.mBytesPerPacket, 4u);
        EXPECT_EQ(d.mFramesPerPacket, 1u);
        EXPECT_EQ(d.mBitsPerChannel, 32u);
        EXPECT_EQ(f.channelCount(), c.channels);
        EXPECT_EQ(f.sampleRate(), c.rate);
    }
}

TEST(AVAudioFormat, CommonFormatsDescribeTheirSamples) {
    struct Case { AVAudioCommonFormat format; bool interleaved; uint32_t bits; AudioFormatFlags kind; uint32_t bytesPerFrame; } cases[] = {
        {AVAudioCommonFormat::pcmFormatFloat32, false, 32, kAudioFormatFlagIsFloat, 4},
        {AVAudioCommonFormat::pcmFormatFloat32, true, 32, kAudioFormatFlagIsFloat, 12},
        {AVAudioCommonFormat::pcmFormatFloat64, false, 64, kAudioFormatFlagIsFloat, 8},
        {AVAudioCommonFormat::pcmFormatFloat64, true, 64, kAudioFormatFlagIsFloat, 24},
        {AVAudioCommonFormat::pcmFormatInt16, false, 16, kAudioFormatFlagIsSignedInteger, 2},
        {AVAudioCommonFormat::pcmFormatInt16, true, 16, kAudioFormatFlagIsSignedInteger, 6},
        {AVAudioCommonFormat::pcmFormatInt32, false, 32, kAudioFormatFlagIsSignedInteger, 4},
        {AVAudioCommonFormat::pcmFormatInt32, true, 32, kAudioFormatFlagIsSignedInteger, 12},
    };
    for (const auto& c : cases) {
        const AVAudioFormat f(c.format, 48000, 3, c.interleaved);
        SCOPED_TRACE(f.description());
        ASSERT_TRUE(f.isValid());
        EXPECT_EQ(f.commonFormat(), c.format);
        EXPECT_EQ(f.isInterleaved(), c.interleaved);
        const auto& d = f.streamDescription();
        EXPECT_EQ(d.mBitsPerChannel, c.bits);
        EXPECT_EQ(d.mBytesPerFrame, c.bytesPerFrame);
        EXPECT_EQ(d.mFormatFlags, c.kind | kAudioFormatFlagIsPacked | (c.interleaved ? 0 : kAudioFormatFlagIsNonInterleaved));
        // A description read back gives the same format.
        EXPECT_EQ(AVAudioFormat(d), f);
        EXPECT_EQ(AVAudioFormat(d).commonFormat(), c.format);
    }
    EXPECT_FALSE(AVAudioFormat(AVAudioCommonFormat::otherFormat, 44100, 2, false).isValid());
    EXPECT_FALSE(AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 0, 2, true).isValid());
    EXPECT_FALSE(AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 44100, 0, true).isValid());
}

TEST(AVAudioFormat, StreamDescriptionsMapToCommonFormatsOrOther) {
    struct Case { const char* name; AudioStreamBasicDescription d; bool valid; AVAudioCommonFormat common; } cases[] = {
        {"float32", pcm(44100, 2, 32, kAudioFormatFlagIsFloat), true, AVAudioCommonFormat::pcmFormatFloat32},
        {"float64 ni", pcm(44100, 2, 64, kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved), true, AVAudioCommonFormat::pcmFormatFloat64},
        {"int16", pcm(44100, 2, 16, kAudioFormatFlagIsSignedInteger), true, AVAudioCommonFormat::pcmFormatInt16},
        {"int32", pcm(44100, 1, 32, kAudioFormatFlagIsSignedInteger), true, AVAudioCommonFormat::pcmFormatInt32},
        {"int24", pcm(44100, 2, 24, kAudioFormatFlagIsSignedInteger), true, AVAudioCommonFormat::otherFormat},
        {"uint8", pcm(8000, 1, 8, 0), true, AVAudioCommonFormat::otherFormat},
        {"int16 big-endian", pcm(44100, 2, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian), true, AVAudioCommonFormat::otherFormat},
        {"aac", compressed(kAudioFormatMPEG4AAC, 44100, 2), true, AVAudioCommonFormat::otherFormat},
        {"mp3", compressed(kAudioFormatMPEGLayer3, 44100, 2), true, AVAudioCommonFormat::otherFormat},
        {"alac", compressed(kAudioFormatAppleLossless, 96000, 2), true, AVAudioCommonFormat::otherFormat},
        {"flac", compressed(kAudioFormatFLAC, 48000, 6), true, AVAudioCommonFormat::otherFormat},
        {"rate 0", pcm(0, 2, 32, kAudioFormatFlagIsFloat), false, AVAudioCommonFormat::otherFormat},
        {"rate nan", pcm(std::nan(""), 2, 32, kAudioFormatFlagIsFloat), false, AVAudioCommonFormat::otherFormat},
        {"no channels", pcm(44100, 0, 32, kAudioFormatFlagIsFloat), false, AVAudioCommonFormat::otherFormat},
        {"aac no channels", compressed(kAudioFormatMPEG4AAC, 44100, 0), false, AVAudioCommonFormat::otherFormat},
        {"no format id", compressed(0, 44100, 2), false, AVAudioCommonFormat::otherFormat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AVAudioFormat f(c.d);
        EXPECT_EQ(f.isValid(), c.valid);
        EXPECT_EQ(f.commonFormat(), c.common);
        if (c.valid) { EXPECT_EQ(f.isPCM(), c.d.mFormatID == kAudioFormatLinearPCM); }
    }
}

TEST(AVAudioFormat, SettingsRoundTripAndDefaults) {
    const AVAudioFormat formats[] = {
        AVAudioFormat::standardFormatWithSampleRate(44100, 2),
        AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 22050, 1, true),
        AVAudioFormat(AVAudioCommonFormat::pcmFormatInt32, 96000, 4, false),
        AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat64, 48000, 2, true),
        AVAudioFormat(pcm(44100, 2, 24, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian)),
        AVAudioFormat(compressed(kAudioFormatMPEG4AAC, 44100, 2)),
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.description());
        ASSERT_TRUE(f.isValid());
        const AVAudioFormat back(f.settings());
        EXPECT_TRUE(back.isValid());
        EXPECT_EQ(back.streamDescription().mFormatID, f.streamDescription().mFormatID);
        if (f.isPCM()) { EXPECT_EQ(back, f); }
        EXPECT_EQ(back.settings(), f.settings());
    }

    // Only rate and channels: 16-bit signed interleaved little-endian linear PCM.
    const AVAudioFormat plain(AVAudioSettings{{AVSampleRateKey, 44100}, {AVNumberOfChannelsKey, 2}});
    ASSERT_TRUE(plain.isValid());
    EXPECT_TRUE(plain.isPCM());
    EXPECT_EQ(plain.commonFormat(), AVAudioCommonFormat::pcmFormatInt16);
    EXPECT_TRUE(plain.isInterleaved());
    EXPECT_EQ(plain.streamDescription().mBytesPerFrame, 4u);

    EXPECT_FALSE(AVAudioFormat(AVAudioSettings{{AVNumberOfChannelsKey, 2}}).isValid());
    EXPECT_FALSE(AVAudioFormat(AVAudioSettings{{AVSampleRateKey, 44100}}).isValid());
    EXPECT_FALSE(AVAudioFormat(AVAudioSettings{{AVSampleRateKey, 44100}, {AVNumberOfChannelsKey, 2},
                                               {AVLinearPCMIsFloatKey, 1}, {AVLinearPCMBitDepthKey, 16}})
                     .isValid());
}

TEST(AVAudioFormat, EqualityAndDescription) {
    const auto a = AVAudioFormat::standardFormatWithSampleRate(44100, 2);
    EXPECT_EQ(a, AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, 44100, 2, false));
    EXPECT_NE(a, AVAudioFormat::standardFormatWithSampleRate(48000, 2));
    EXPECT_NE(a, AVAudioFormat::standardFormatWithSampleRate(44100, 1));
    EXPECT_NE(a, AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, 44100, 2, true));
    EXPECT_NE(a, AVAudioFormat(AVAudioCommonFormat::pcmFormatInt32, 44100, 2, false));
    EXPECT_NE(a, AVAudioFormat());
    EXPECT_EQ(AVAudioFormat(), AVAudioFormat::standardFormatWithSampleRate(0, 2));
    // The packed flag alone does not make a different format.
    auto d = a.streamDescription();
    d.mFormatFlags &= ~kAudioFormatFlagIsPacked;
    EXPECT_EQ(AVAudioFormat(d), a);

    EXPECT_EQ(a.description(), "<AVAudioFormat: 2 ch, 44100 Hz, Float32, deinterleaved>");
    EXPECT_EQ(AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 48000, 2, true).description(),
              "<AVAudioFormat: 2 ch, 48000 Hz, Int16, interleaved>");
    EXPECT_EQ(AVAudioFormat::standardFormatWithSampleRate(22050, 1).description(),
              "<AVAudioFormat: 1 ch, 22050 Hz, Float32>");
}
