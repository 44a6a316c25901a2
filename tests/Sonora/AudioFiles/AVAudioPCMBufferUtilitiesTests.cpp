#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"

#include "BufferFixtures.h"
#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using fixtures::at;
using fixtures::floatBuffer;
using fixtures::logged;
using platform::AVAudioCommonFormat;
using platform::AVAudioFormat;
using platform::AVAudioPCMBuffer;
using platform::OSLogType;

namespace {

// Two seconds at 44100 Hz whose sample value is its frame index.
std::shared_ptr<AVAudioPCMBuffer> ramp(unsigned channels = 1) {
    return floatBuffer(channels, 44100, 88200, [](unsigned c, uint32_t i) { return float(i) + c * 0.5f; });
}

}  // namespace

TEST(BufferExtract, CutsTheFramesBetweenTwoTimes) {
    struct Case {
        const char* what;
        double start, end;
        uint32_t firstFrame, frameLength, capacity;
    } cases[] = {
        {"end 0 means the end", 1.0, 0.0, 44100, 44100, 44100},
        {"a plain range", 0.5, 1.25, 22050, 33075, 33075},
        {"an end that multiplies back to just below its frame", 0, 15.0 / 44100, 0, 15, 15},
        {"an end beyond the buffer stops at its end", 1.5, 3.0, 66150, 22050, 66150},
        {"a start a hair below 0 is frame 0", -1e-9, 0.001, 0, 44, 44},
    };
    const auto source = ramp(2);
    for (const Case& c : cases) {
        const auto range = sonora::extract(*source, c.start, c.end);
        ASSERT_TRUE(range) << c.what;
        EXPECT_EQ(range->frameLength(), c.frameLength) << c.what;
        EXPECT_EQ(range->frameCapacity(), c.capacity) << c.what;
        EXPECT_EQ(at(*range, 0, 0), float(c.firstFrame)) << c.what;
        EXPECT_EQ(at(*range, 1, range->frameLength() - 1), float(c.firstFrame + c.frameLength - 1) + 0.5f) << c.what;
    }
}

TEST(BufferExtract, GivesNothingForAnEmptyOrImpossibleRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double start, end;
        std::vector<std::string> messages;
    } cases[] = {
        {2.0, 1.0, {"startSample must be before endSample"}},
        {1.0, 1.0, {"startSample must be before endSample"}},
        {3.0, 4.0, {"AVAudioBuffer copy(from) - No frames to copy!", "Failed to write to edited buffer"}},
        {nan, 1.0, {}},
        {0.0, inf, {}},
        {-1.0, 1.0, {}},
        {0.0, 1e6, {}},  // beyond a 32-bit frame count
    };
    const auto source = ramp();
    for (const Case& c : cases) {
        platform::LogSink::clear();
        EXPECT_FALSE(sonora::extract(*source, c.start, c.end)) << c.start << " to " << c.end;
        for (const auto& message : c.messages) EXPECT_TRUE(logged(message, "general", OSLogType::error) ||
                                                            logged(message, "general", OSLogType::info)) << message;
    }
}

TEST(BufferCopy, AppendsWhatFitsAndReportsWhyNothingWasCopied) {
    const auto source = floatBuffer(1, 1000, 1000, [](unsigned, uint32_t i) { return float(i); });
    const auto destination = floatBuffer(1, 1000, 0, {}, 100);
    EXPECT_EQ(sonora::copy(*destination, *source, 0, 0), 100u);
    EXPECT_EQ(destination->frameLength(), 100u);
    EXPECT_EQ(at(*destination, 0, 99), 99.0f);

    platform::LogSink::clear();
    EXPECT_EQ(sonora::copy(*destination, *source, 0, 0), 0u);
    EXPECT_TRUE(logged("AVAudioBuffer copy(from) - no capacity!", "general", OSLogType::info));

    platform::LogSink::clear();
    EXPECT_EQ(sonora::copy(*floatBuffer(2, 1000, 0, {}, 10), *source, 0, 0), 0u);
    EXPECT_TRUE(logged("AVAudioBuffer copy(from) - formats must match!", "general", OSLogType::info));

    platform::LogSink::clear();
    EXPECT_EQ(sonora::copy(*floatBuffer(1, 1000, 0, {}, 10), *source, 1000, 0), 0u);
    EXPECT_TRUE(logged("AVAudioBuffer copy(from) - No frames to copy!", "general", OSLogType::info));
}

TEST(BufferCopy, CopiesEachLayoutAndSampleTypeInBounds) {
    struct Case {
        AVAudioCommonFormat type;
        bool interleaved;
    } cases[] = {
        {AVAudioCommonFormat::pcmFormatFloat32, false}, {AVAudioCommonFormat::pcmFormatFloat32, true},
        {AVAudioCommonFormat::pcmFormatInt16, false},   {AVAudioCommonFormat::pcmFormatInt16, true},
        {AVAudioCommonFormat::pcmFormatInt32, true},
    };
    for (const Case& c : cases) {
        const AVAudioFormat format(c.type, 1000, 2, c.interleaved);
        const auto source = AVAudioPCMBuffer::make(format, 10);
        const auto destination = AVAudioPCMBuffer::make(format, 8);
        source->setFrameLength(10);
        destination->setFrameLength(2);
        // Sample value = 100 × channel + frame, written through the raw arrays of each layout.
        const auto sampleIndex = [&](unsigned ch, uint32_t frame) {
            return c.interleaved ? std::pair<size_t, size_t>{0, frame * 2 + ch} : std::pair<size_t, size_t>{ch, frame};
        };
        const auto get = [&](const AVAudioPCMBuffer& b, unsigned ch, uint32_t frame) -> double {
            const auto [array, index] = sampleIndex(ch, frame);
            if (b.floatChannelData()) return b.floatChannelData()[array][index];
            if (b.int16ChannelData()) return b.int16ChannelData()[array][index];
            return b.int32ChannelData()[array][index];
        };
        for (unsigned ch = 0; ch < 2; ++ch)
            for (uint32_t i = 0; i < 10; ++i) {
                const auto [array, index] = sampleIndex(ch, i);
                const int value = int(100 * ch + i);
                if (source->floatChannelData()) source->floatChannelData()[array][index] = float(value);
                else if (source->int16ChannelData()) source->int16ChannelData()[array][index] = int16_t(value);
                else source->int32ChannelData()[array][index] = value;
            }
        const auto what = std::to_string(int(c.type)) + (c.interleaved ? " interleaved" : " deinterleaved");
        EXPECT_EQ(sonora::copy(*destination, *source, 3, 4), 4u) << what;
        EXPECT_EQ(destination->frameLength(), 6u) << what;
        for (unsigned ch = 0; ch < 2; ++ch) {
            EXPECT_EQ(get(*destination, ch, 1), 0) << what;
            for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(get(*destination, ch, 2 + i), 100 * ch + 3 + i) << what;
            EXPECT_EQ(get(*destination, ch, 6), 0) << what << ": nothing written past the copied frames";
        }
    }
}

TEST(BufferAppend, PlacesTheClipRightAfterLeadingSilence) {
    for (unsigned channels : {1u, 2u}) {
        const auto clip = floatBuffer(channels, 44100, 5, [](unsigned c, uint32_t i) { return float(1 + i + 10 * c); });
        const auto padded = AVAudioPCMBuffer::make(clip->format(), 10 + 5);
        padded->setFrameLength(10);
        sonora::append(*padded, *clip);
        EXPECT_EQ(padded->frameLength(), 15u);
        for (unsigned c = 0; c < channels; ++c) {
            for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(at(*padded, c, i), 0.0f);
            for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(at(*padded, c, 10 + i), float(1 + i + 10 * c));
        }
    }
}

TEST(BufferAppend, RangedAppendCopiesItsRangeOrNothing) {
    const auto source = floatBuffer(2, 1000, 10, [](unsigned c, uint32_t i) { return float(i + 100 * c); });
    const auto destination = floatBuffer(2, 1000, 1, [](unsigned, uint32_t) { return -1.0f; }, 6);
    sonora::append(*destination, *source, 2, 3);
    EXPECT_EQ(destination->frameLength(), 4u);
    EXPECT_EQ(at(*destination, 0, 1), 2.0f);
    EXPECT_EQ(at(*destination, 1, 3), 104.0f);

    struct Case {
        const char* what;
        std::shared_ptr<AVAudioPCMBuffer> from;
        int64_t start;
        uint32_t count;
    } refused[] = {
        {"range past the source's end", source, 8, 3},
        {"negative start", source, -1, 1},
        {"more than the room left", source, 0, 3},
        {"other format", floatBuffer(1, 1000, 10), 0, 1},
    };
    for (const Case& c : refused) {
        sonora::append(*destination, *c.from, c.start, c.count);
        EXPECT_EQ(destination->frameLength(), 4u) << c.what;
        EXPECT_EQ(at(*destination, 0, 4), 0.0f) << c.what;
    }
}

TEST(BufferHeadAndTail, CopiesTheTailFromAFrameAndTheHeadUpToACount) {
    const auto source = floatBuffer(1, 1000, 10, [](unsigned, uint32_t i) { return float(i); }, 16);
    const auto tail = sonora::copyFromFrame(*source, 7);
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->frameLength(), 3u);
    EXPECT_EQ(at(*tail, 0, 0), 7.0f);
    EXPECT_FALSE(sonora::copyFromFrame(*source, 10));

    const auto head = sonora::copyTo(*source, 4);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->frameLength(), 4u);
    EXPECT_EQ(at(*head, 0, 3), 3.0f);
    const auto whole = sonora::copyTo(*source, 12);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->frameLength(), 10u);
    EXPECT_FALSE(sonora::copyTo(*source, 0));
}

TEST(BufferSilence, OnlyValidSamplesCount) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        std::shared_ptr<AVAudioPCMBuffer> buffer;
        bool silent;
    } cases[] = {
        {"zeros", floatBuffer(2, 1000, 10, [](unsigned, uint32_t) { return 0.0f; }), true},
        {"negative zero", floatBuffer(1, 1000, 10, [](unsigned, uint32_t) { return -0.0f; }), true},
        {"one sample in channel 1", floatBuffer(2, 1000, 10, [](unsigned c, uint32_t i) { return c == 1 && i == 9 ? 1e-30f : 0.0f; }), false},
        {"not a number", floatBuffer(1, 1000, 10, [=](unsigned, uint32_t i) { return i == 4 ? nan : 0.0f; }), false},
        {"no float data", AVAudioPCMBuffer::make(AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 1000, 1, false), 4), true},
    };
    for (const Case& c : cases) EXPECT_EQ(sonora::isSilent(*c.buffer), c.silent) << c.what;

    const auto beyond = floatBuffer(1, 1000, 10, [](unsigned, uint32_t i) { return i == 9 ? 1.0f : 0.0f; });
    beyond->setFrameLength(9);
    EXPECT_TRUE(sonora::isSilent(*beyond)) << "a sample past frameLength";
}

TEST(BufferDigest, CoversTheWholeCapacityFrameByFrame) {
    const auto buffer = floatBuffer(2, 1000, 2, [](unsigned c, uint32_t) { return c == 0 ? 0.5f : -1.0f; });
    buffer->setFrameLength(1);
    EXPECT_EQ(sonora::md5(*buffer), "66e4b41cc25803dae01a88784ed6ad6c");  // MD5 of LE floats 0.5 -1 0.5 -1

    const auto other = floatBuffer(2, 1000, 2, [](unsigned c, uint32_t i) { return i == 1 ? 0.0f : (c == 0 ? 0.5f : -1.0f); });
    other->setFrameLength(1);
    EXPECT_NE(sonora::md5(*other), sonora::md5(*buffer)) << "equal valid samples, different beyond frameLength";

    const auto int16 = AVAudioPCMBuffer::make(AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 1000, 1, false), 4);
    EXPECT_EQ(sonora::md5(*int16), "d41d8cd98f00b204e9800998ecf8427e");
}
