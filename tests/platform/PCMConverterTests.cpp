#include "platform/media/PCMConverter.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

using namespace platform;
using platform::detail::PCMConverter;
using namespace testsupport;

namespace {

AudioStreamBasicDescription pcm(double rate, uint32_t channels, uint32_t bits, AudioFormatFlags flags,
                                uint32_t containerBytes = 0) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = flags;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bits;
    d.mFramesPerPacket = 1;
    const uint32_t bytes = containerBytes ? containerBytes : bits / 8;
    d.mBytesPerFrame = (flags & kAudioFormatFlagIsNonInterleaved) ? bytes : bytes * channels;
    d.mBytesPerPacket = d.mBytesPerFrame;
    return d;
}

// One interleaved array wrapped as a one-buffer list.
struct Interleaved {
    std::vector<unsigned char> bytes;
    AudioBufferList list;
    Interleaved(size_t size, uint32_t channels) : bytes(size) {
        list.mNumberBuffers = 1;
        list.mBuffers[0] = AudioBuffer{channels, uint32_t(size), bytes.data()};
    }
};

std::vector<float> sine(size_t frames, double rate, double hz, double amplitude) {
    std::vector<float> x(frames);
    for (size_t i = 0; i < frames; ++i) x[i] = float(amplitude * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
    return x;
}

// Mono Float32 through the converter in chunks, push style, then flushed.
std::vector<float> resampleMono(const std::vector<float>& x, double from, double to, size_t chunk) {
    const auto inFormat = AVAudioFormat::standardFormatWithSampleRate(from, 1);
    const auto outFormat = AVAudioFormat::standardFormatWithSampleRate(to, 1);
    PCMConverter converter(inFormat, outFormat, chunk);
    EXPECT_TRUE(converter.resamples());
    auto in = AVAudioPCMBuffer::make(inFormat, AVAudioFrameCount(chunk));
    auto out = AVAudioPCMBuffer::make(outFormat, AVAudioFrameCount(converter.maximumOutputFrames(chunk)));
    std::vector<float> y;
    for (size_t at = 0; at < x.size(); at += chunk) {
        const size_t n = std::min(chunk, x.size() - at);
        std::memcpy(in->floatChannelData()[0], x.data() + at, n * sizeof(float));
        in->setFrameLength(AVAudioFrameCount(n));
        converter.convert(*in, *out);
        y.insert(y.end(), out->floatChannelData()[0], out->floatChannelData()[0] + out->frameLength());
    }
    while (converter.flush(*out) > 0) y.insert(y.end(), out->floatChannelData()[0], out->floatChannelData()[0] + out->frameLength());
    return y;
}

}  // namespace

TEST(PCMConverter, ResamplesLikeSoxWithoutDelay) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox missing";
    ScratchDir dir;
    const auto x = sine(96000 + 123, 48000, 1000, 0.5);
    writeFile(dir / "in.raw", std::string(reinterpret_cast<const char*>(x.data()), x.size() * sizeof(float)));
    ASSERT_EQ(run("sox -t f32 -r 48000 -c 1 " + q(dir / "in.raw") + " " + q(dir / "in.wav")), 0);
    ASSERT_EQ(run("sox " + q(dir / "in.wav") + " -r 44100 " + q(dir / "out.wav")), 0);
    ASSERT_EQ(run("sox " + q(dir / "out.wav") + " -t f32 " + q(dir / "out.raw")), 0);
    const auto reference = readFloats(dir / "out.raw");

    const auto y = resampleMono(x, 48000, 44100, 512);
    ASSERT_EQ(y.size(), reference.size());

    double signal = 0, residual = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        signal += double(reference[i]) * reference[i];
        residual += (double(y[i]) - reference[i]) * (double(y[i]) - reference[i]);
    }
    const double db = 10 * std::log10(residual / signal);
    EXPECT_LE(db, -94.0) << "residual " << db << " dB";
    RecordProperty("residual_dB", std::to_string(db));

    int bestLag = 99;
    double best = -1e300;
    for (int lag = -20; lag <= 20; ++lag) {
        double sum = 0;
        for (size_t i = 100; i + 100 < y.size(); ++i) sum += double(y[i]) * reference[size_t(int(i) + lag)];
        if (sum > best) best = sum, bestLag = lag;
    }
    EXPECT_EQ(bestLag, 0);
}

TEST(PCMConverter, PullAndChunkSizesGiveTheSameStream) {
    const auto x = sine(30000, 48000, 440, 0.7);
    const auto pushed = resampleMono(x, 48000, 44100, 512);
    const auto bigChunks = resampleMono(x, 48000, 44100, 4096);
    ASSERT_EQ(pushed.size(), bigChunks.size());
    for (size_t i = 0; i < pushed.size(); ++i) ASSERT_NEAR(pushed[i], bigChunks[i], 1e-6f) << i;

    const auto inFormat = AVAudioFormat::standardFormatWithSampleRate(48000, 1);
    const auto outFormat = AVAudioFormat::standardFormatWithSampleRate(44100, 1);
    PCMConverter converter(inFormat, outFormat, 1024);
    auto in = AVAudioPCMBuffer::make(inFormat, 1024);
    auto out = AVAudioPCMBuffer::make(outFormat, 256);
    size_t read = 0;
    std::vector<float> pulled;
    for (;;) {
        const size_t n = converter.convert(out->mutableAudioBufferList(), 256, [&](size_t frames, const AudioBufferList*& data) {
            const size_t k = std::min(frames, x.size() - read);
            std::memcpy(in->floatChannelData()[0], x.data() + read, k * sizeof(float));
            read += k;
            data = in->audioBufferList();
            return k;
        });
        pulled.insert(pulled.end(), out->floatChannelData()[0], out->floatChannelData()[0] + n);
        if (n < 256) break;
    }
    while (size_t n = converter.flush(out->mutableAudioBufferList(), 256))
        pulled.insert(pulled.end(), out->floatChannelData()[0], out->floatChannelData()[0] + n);
    ASSERT_EQ(pulled.size(), pushed.size());
    for (size_t i = 0; i < pushed.size(); ++i) ASSERT_NEAR(pulled[i], pushed[i], 1e-6f) << i;

    // After reset the same input gives the same output again.
    converter.reset();
    read = 0;
    const size_t again = converter.convert(out->mutableAudioBufferList(), 256, [&](size_t frames, const AudioBufferList*& data) {
        const size_t k = std::min(frames, x.size() - read);
        std::memcpy(in->floatChannelData()[0], x.data() + read, k * sizeof(float));
        read += k;
        data = in->audioBufferList();
        return k;
    });
    ASSERT_EQ(again, 256u);
    for (size_t i = 0; i < 256; ++i) ASSERT_NEAR(out->floatChannelData()[0][i], pushed[i], 1e-6f);
}

TEST(PCMConverter, ChannelMaps) {
    // Input channel c, frame i holds (c + 1) / 8 + i / 1024.
    auto value = [](uint32_t c, size_t i) { return float(c + 1) / 8 + float(i) / 1024; };
    struct Case { uint32_t from, to; std::vector<int> source; } cases[] = {
        // source: input channel copied, -1 silence, -2 the average of all inputs.
        {1, 2, {0, 0}}, {1, 3, {0, 0, 0}}, {2, 1, {-2}}, {3, 1, {-2}},
        {4, 2, {0, 1}}, {3, 2, {0, 1}},    {2, 4, {0, 1, -1, -1}}, {2, 2, {0, 1}},
    };
    const size_t frames = 64;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
        const auto inFormat = AVAudioFormat::standardFormatWithSampleRate(44100, c.from);
        const auto outFormat = AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, 44100, c.to, true);
        PCMConverter converter(inFormat, outFormat, frames);
        ASSERT_TRUE(converter.isValid());
        EXPECT_FALSE(converter.resamples());
        auto in = AVAudioPCMBuffer::make(inFormat, frames);
        auto out = AVAudioPCMBuffer::make(outFormat, frames);
        for (uint32_t ch = 0; ch < c.from; ++ch)
            for (size_t i = 0; i < frames; ++i) in->floatChannelData()[ch][i] = value(ch, i);
        in->setFrameLength(frames);
        ASSERT_EQ(converter.convert(*in, *out), frames);
        const float* o = out->floatChannelData()[0];
        for (size_t i = 0; i < frames; ++i) {
            for (uint32_t ch = 0; ch < c.to; ++ch) {
                float expected = 0;
                if (c.source[ch] >= 0) expected = value(uint32_t(c.source[ch]), i);
                if (c.source[ch] == -2) {
                    for (uint32_t k = 0; k < c.from; ++k) expected += value(k, i);
                    expected /= float(c.from);
                }
                ASSERT_NEAR(o[i * c.to + ch], expected, 1e-6f) << "frame " << i << " channel " << ch;
            }
        }
    }
}

TEST(PCMConverter, IntegerSamplesSurviveARoundTripThroughFloat) {
    const AudioFormatFlags s = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    const AudioFormatFlags be = kAudioFormatFlagIsBigEndian;
    struct Case { const char* name; AudioStreamBasicDescription format; AudioStreamBasicDescription middle; } cases[] = {
        {"int16", pcm(44100, 2, 16, s), pcm(44100, 2, 32, kAudioFormatFlagsNativeFloatPacked)},
        {"int16 big-endian", pcm(44100, 2, 16, s | be), pcm(44100, 2, 32, kAudioFormatFlagsNativeFloatPacked | kAudioFormatFlagIsNonInterleaved)},
        {"int24", pcm(44100, 2, 24, s), pcm(44100, 2, 32, kAudioFormatFlagsNativeFloatPacked)},
        {"int24 big-endian", pcm(44100, 1, 24, s | be), pcm(44100, 1, 64, kAudioFormatFlagsNativeFloatPacked)},
        {"int24 in 32, high", pcm(44100, 2, 24, s | kAudioFormatFlagIsAlignedHigh, 4), pcm(44100, 2, 32, kAudioFormatFlagsNativeFloatPacked)},
        {"int32", pcm(44100, 2, 32, s), pcm(44100, 2, 64, kAudioFormatFlagsNativeFloatPacked)},
        {"int8", pcm(44100, 2, 8, s), pcm(44100, 2, 32, kAudioFormatFlagsNativeFloatPacked)},
        {"uint8", pcm(44100, 2, 8, kAudioFormatFlagIsPacked), pcm(44100, 2, 32, kAudioFormatFlagsNativeFloatPacked)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t bytes = c.format.mBytesPerFrame / c.format.mChannelsPerFrame;
        const size_t frames = 70000;
        // Every byte pattern of the low bytes, with full-scale extremes among them.
        Interleaved in(frames * c.format.mBytesPerFrame, c.format.mChannelsPerFrame);
        uint64_t state = 0x9E3779B97F4A7C15ull;
        for (size_t i = 0; i < in.bytes.size(); i += bytes) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            uint64_t v = (i / bytes) < 65536 ? (i / bytes) * 0x0101010101ull : state >> 11;
            for (uint32_t b = 0; b < bytes; ++b) in.bytes[i + b] = uint8_t(v >> (8 * b));
            if (c.format.mFormatFlags & kAudioFormatFlagIsAlignedHigh) in.bytes[i] = 0;  // unused low byte
        }
        const bool middleSplit = c.middle.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
        const uint32_t channels = c.format.mChannelsPerFrame;
        std::vector<std::vector<unsigned char>> mid(middleSplit ? channels : 1,
                                                    std::vector<unsigned char>(frames * c.middle.mBytesPerFrame * (middleSplit ? 1 : 1)));
        std::vector<unsigned char> midListBytes(AudioBufferListSize(uint32_t(mid.size())));
        auto* midList = reinterpret_cast<AudioBufferList*>(midListBytes.data());
        midList->mNumberBuffers = uint32_t(mid.size());
        for (size_t b = 0; b < mid.size(); ++b)
            midList->mBuffers[b] = AudioBuffer{middleSplit ? 1 : channels, uint32_t(mid[b].size()), mid[b].data()};

        PCMConverter there(c.format, c.middle, 1024), back(c.middle, c.format, 1024);
        ASSERT_TRUE(there.isValid());
        ASSERT_TRUE(back.isValid());
        ASSERT_EQ(there.convert(&in.list, frames, midList, frames), frames);
        Interleaved out(in.bytes.size(), channels);
        ASSERT_EQ(back.convert(midList, frames, &out.list, frames), frames);
        ASSERT_EQ(out.bytes, in.bytes);
    }
}

// Integer to integer at one rate skips the floats; the samples must be those the way through
// Float32 gives (as a file read as floats and written as integers does), for every width, channel
// map and output cut short (what does not fit is held and handed out later).
TEST(PCMConverter, IntegerToIntegerGivesWhatTheWayThroughFloatGives) {
    const AudioFormatFlags s = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    const AudioFormatFlags split = kAudioFormatFlagIsNonInterleaved;
    struct Case { uint32_t inBits, outBits, inChannels, outChannels; AudioFormatFlags outFlags; } cases[] = {
        {24, 16, 2, 2, s}, {24, 16, 1, 1, s}, {24, 16, 8, 8, s}, {24, 16, 3, 2, s}, {24, 16, 1, 4, s}, {24, 16, 2, 6, s},
        {24, 16, 2, 2, s | split}, {24, 16, 6, 1, s}, {24, 24, 2, 2, s}, {24, 32, 5, 5, s}, {16, 16, 2, 2, s},
        {16, 24, 2, 2, s}, {16, 32, 7, 7, s}, {16, 32, 1, 2, s | split},
    };
    const size_t frames = 70000;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inBits << " -> " << c.outBits << " bits, " << c.inChannels << " -> "
                                        << c.outChannels << (c.outFlags & split ? " channels, split" : " channels"));
        const auto inFormat = pcm(48000, c.inChannels, c.inBits, s);
        const auto outFormat = pcm(48000, c.outChannels, c.outBits, c.outFlags);
        const auto floats = pcm(48000, c.inChannels, 32, kAudioFormatFlagsNativeFloatPacked | split);
        // Every pattern of the low bytes, full scale among them, then noise.
        const uint32_t bytes = c.inBits / 8;
        Interleaved in(frames * inFormat.mBytesPerFrame, c.inChannels);
        uint64_t state = 0x9E3779B97F4A7C15ull;
        for (size_t i = 0; i < in.bytes.size(); i += bytes) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const uint64_t v = (i / bytes) < 65536 ? (i / bytes) * 0x0101010101ull : state >> 11;
            for (uint32_t b = 0; b < bytes; ++b) in.bytes[i + b] = uint8_t(v >> (8 * b));
        }
        // Output lists: one buffer, or one per channel.
        const uint32_t buffers = (c.outFlags & split) ? c.outChannels : 1;
        auto makeOut = [&](std::vector<unsigned char>& storage, std::vector<unsigned char>& listBytes) {
            storage.assign(frames * outFormat.mBytesPerFrame * (buffers > 1 ? buffers : 1), 0xAA);
            listBytes.assign(AudioBufferListSize(buffers), 0);
            auto* list = reinterpret_cast<AudioBufferList*>(listBytes.data());
            list->mNumberBuffers = buffers;
            const size_t each = storage.size() / buffers;
            for (uint32_t b = 0; b < buffers; ++b)
                list->mBuffers[b] = AudioBuffer{buffers > 1 ? 1 : c.outChannels, uint32_t(each), storage.data() + b * each};
            return list;
        };

        std::vector<unsigned char> expected, expectedList;
        AudioBufferList* expectedOut = makeOut(expected, expectedList);
        std::vector<float> middle(frames * c.inChannels);
        std::vector<unsigned char> middleListBytes(AudioBufferListSize(c.inChannels));
        auto* middleList = reinterpret_cast<AudioBufferList*>(middleListBytes.data());
        middleList->mNumberBuffers = c.inChannels;
        for (uint32_t ch = 0; ch < c.inChannels; ++ch)
            middleList->mBuffers[ch] = AudioBuffer{1, uint32_t(frames * 4), middle.data() + ch * frames};
        PCMConverter toFloat(inFormat, floats, 4096), fromFloat(floats, outFormat, 4096);
        ASSERT_EQ(toFloat.convert(&in.list, frames, middleList, frames), frames);
        ASSERT_EQ(fromFloat.convert(middleList, frames, expectedOut, frames), frames);

        std::vector<unsigned char> direct, directList;
        AudioBufferList* directOut = makeOut(direct, directList);
        PCMConverter converter(inFormat, outFormat, 4096);
        EXPECT_EQ(converter.convertsInIntegers(), !(c.outChannels == 1 && c.inChannels > 1));
        // A third fits at first; the rest is held and handed out by the next calls.
        const size_t first = converter.convert(&in.list, frames, directOut, frames / 3);
        ASSERT_EQ(first, frames / 3);
        std::vector<unsigned char> restListBytes(directList);
        auto* rest = reinterpret_cast<AudioBufferList*>(restListBytes.data());
        for (uint32_t b = 0; b < buffers; ++b) {
            const size_t skip = first * outFormat.mBytesPerFrame;
            rest->mBuffers[b].mData = static_cast<unsigned char*>(directOut->mBuffers[b].mData) + skip;
            rest->mBuffers[b].mDataByteSize -= uint32_t(skip);
        }
        EXPECT_EQ(converter.convert(nullptr, 0, rest, frames), frames - first);
        EXPECT_EQ(direct, expected);
    }
}

TEST(PCMConverter, FloatToIntegerRoundsHalfToEvenAndClips) {
    const float input[] = {0.5f / 32768, 1.5f / 32768, -0.5f / 32768, -1.5f / 32768, 1.0f, -1.0f, 2.0f, -2.0f, NAN};
    const int16_t expected16[] = {0, 2, 0, -2, 32767, -32768, 32767, -32768, 0};
    const int n = 9;
    AudioBufferList inList;
    inList.mNumberBuffers = 1;
    inList.mBuffers[0] = AudioBuffer{1, sizeof input, const_cast<float*>(input)};
    const auto f32 = pcm(8000, 1, 32, kAudioFormatFlagsNativeFloatPacked);

    int16_t out16[n];
    AudioBufferList outList;
    outList.mNumberBuffers = 1;
    outList.mBuffers[0] = AudioBuffer{1, sizeof out16, out16};
    PCMConverter to16(f32, pcm(8000, 1, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked));
    ASSERT_EQ(to16.convert(&inList, n, &outList, n), size_t(n));
    for (int i = 0; i < n; ++i) EXPECT_EQ(out16[i], expected16[i]) << i;

    // 24-bit big-endian through the general path, and unsigned 8-bit with its offset.
    unsigned char out24[n * 3];
    outList.mBuffers[0] = AudioBuffer{1, sizeof out24, out24};
    PCMConverter to24(f32, pcm(8000, 1, 24, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked | kAudioFormatFlagIsBigEndian));
    ASSERT_EQ(to24.convert(&inList, n, &outList, n), size_t(n));
    auto s24 = [&](int i) { return int32_t(uint32_t(out24[3 * i]) << 24 | uint32_t(out24[3 * i + 1]) << 16 | uint32_t(out24[3 * i + 2]) << 8) >> 8; };
    EXPECT_EQ(s24(0), 128);  // 0.5/32768 is exactly 128 in 24 bits
    EXPECT_EQ(s24(4), 8388607);
    EXPECT_EQ(s24(5), -8388608);

    uint8_t out8[n];
    outList.mBuffers[0] = AudioBuffer{1, sizeof out8, out8};
    PCMConverter to8(f32, pcm(8000, 1, 8, kAudioFormatFlagIsPacked));
    ASSERT_EQ(to8.convert(&inList, n, &outList, n), size_t(n));
    EXPECT_EQ(out8[0], 128);
    EXPECT_EQ(out8[4], 255);
    EXPECT_EQ(out8[5], 0);
    EXPECT_EQ(out8[8], 128);
}

TEST(PCMConverter, RefusesWhatIsNotLinearPCMAndShortLists) {
    AudioStreamBasicDescription aac;
    aac.mSampleRate = 44100;
    aac.mFormatID = kAudioFormatMPEG4AAC;
    aac.mChannelsPerFrame = 2;
    const auto f32 = pcm(44100, 2, 32, kAudioFormatFlagsNativeFloatPacked);
    EXPECT_FALSE(PCMConverter(aac, f32).isValid());
    EXPECT_FALSE(PCMConverter(f32, aac).isValid());
    EXPECT_FALSE(PCMConverter(f32, pcm(44100, 2, 16, kAudioFormatFlagsNativeFloatPacked)).isValid());

    // A list smaller than the frame count given is read and written only as far as it reaches.
    PCMConverter converter(f32, pcm(44100, 2, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked));
    Interleaved in(10 * 8, 2), out(100 * 4, 2);
    EXPECT_EQ(converter.convert(&in.list, 1000, &out.list, 1000), 10u);
    EXPECT_EQ(converter.convert(&in.list, 10, &out.list, 4), 4u);
    EXPECT_EQ(converter.flush(&out.list, 100), 6u);
}
