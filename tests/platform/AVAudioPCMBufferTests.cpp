#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace platform;

TEST(AVAudioPCMBuffer, RefusesInvalidAndCompressedFormats) {
    EXPECT_EQ(AVAudioPCMBuffer::make(AVAudioFormat(), 16), nullptr);
    AudioStreamBasicDescription aac;
    aac.mSampleRate = 44100;
    aac.mFormatID = kAudioFormatMPEG4AAC;
    aac.mChannelsPerFrame = 2;
    aac.mFramesPerPacket = 1024;
    EXPECT_EQ(AVAudioPCMBuffer::make(AVAudioFormat(aac), 16), nullptr);
    // The byte size of one array must fit the buffer list's 32-bit field.
    EXPECT_EQ(AVAudioPCMBuffer::make(AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat64, 44100, 8, true), 0xFFFFFFFFu),
              nullptr);
}

TEST(AVAudioPCMBuffer, FreshStorageIsZeroedAlignedAndDescribed) {
    struct Case { AVAudioCommonFormat format; bool interleaved; uint32_t sampleBytes; } cases[] = {
        {AVAudioCommonFormat::pcmFormatFloat32, false, 4}, {AVAudioCommonFormat::pcmFormatFloat32, true, 4},
        {AVAudioCommonFormat::pcmFormatFloat64, false, 8}, {AVAudioCommonFormat::pcmFormatInt16, true, 2},
        {AVAudioCommonFormat::pcmFormatInt32, false, 4},
    };
    const uint32_t channels = 3, capacity = 1001;
    for (const auto& c : cases) {
        const AVAudioFormat format(c.format, 44100, channels, c.interleaved);
        SCOPED_TRACE(format.description());
        auto buffer = AVAudioPCMBuffer::make(format, capacity);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(buffer->frameCapacity(), capacity);
        EXPECT_EQ(buffer->frameLength(), 0u);
        EXPECT_EQ(buffer->stride(), c.interleaved ? channels : 1u);

        const AudioBufferList* list = buffer->audioBufferList();
        ASSERT_EQ(list->mNumberBuffers, c.interleaved ? 1u : channels);
        for (uint32_t i = 0; i < list->mNumberBuffers; ++i) {
            const AudioBuffer& b = list->mBuffers[i];
            EXPECT_EQ(b.mNumberChannels, c.interleaved ? channels : 1u);
            EXPECT_EQ(b.mDataByteSize, capacity * c.sampleBytes * b.mNumberChannels);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(b.mData) % 64, 0u);
            const auto* bytes = static_cast<const unsigned char*>(b.mData);
            for (uint32_t k = 0; k < b.mDataByteSize; ++k) ASSERT_EQ(bytes[k], 0) << "byte " << k;
        }

        const bool f32 = c.format == AVAudioCommonFormat::pcmFormatFloat32;
        const bool i16 = c.format == AVAudioCommonFormat::pcmFormatInt16;
        const bool i32 = c.format == AVAudioCommonFormat::pcmFormatInt32;
        EXPECT_EQ(buffer->floatChannelData() != nullptr, f32);
        EXPECT_EQ(buffer->int16ChannelData() != nullptr, i16);
        EXPECT_EQ(buffer->int32ChannelData() != nullptr, i32);
        if (f32) { EXPECT_EQ(buffer->floatChannelData()[0], list->mBuffers[0].mData); }
    }
}

TEST(AVAudioPCMBuffer, InterleavedSamplesFollowTheStride) {
    auto buffer = AVAudioPCMBuffer::make(AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 48000, 2, true), 4);
    ASSERT_NE(buffer, nullptr);
    int16_t* data = buffer->int16ChannelData()[0];
    for (int frame = 0; frame < 4; ++frame) {
        data[frame * buffer->stride()] = int16_t(frame);           // left
        data[frame * buffer->stride() + 1] = int16_t(-frame - 1);  // right
    }
    const auto* raw = static_cast<const int16_t*>(buffer->audioBufferList()->mBuffers[0].mData);
    const int16_t expected[] = {0, -1, 1, -2, 2, -3, 3, -4};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(raw[i], expected[i]);
}

TEST(AVAudioPCMBuffer, CapacityZeroAndFrameLengthLimits) {
    const auto format = AVAudioFormat::standardFormatWithSampleRate(44100, 2);
    auto empty = AVAudioPCMBuffer::make(format, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->frameCapacity(), 0u);
    EXPECT_EQ(empty->audioBufferList()->mBuffers[0].mDataByteSize, 0u);
    ASSERT_NE(empty->floatChannelData(), nullptr);

    auto buffer = AVAudioPCMBuffer::make(format, 100);
    buffer->setFrameLength(100);
    EXPECT_EQ(buffer->frameLength(), 100u);
    buffer->setFrameLength(40);
    LogSink::clear();
    buffer->setFrameLength(101);
    EXPECT_EQ(buffer->frameLength(), 40u);
    const auto entries = LogSink::entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, OSLogType::error);
    buffer->setFrameLength(0);
    EXPECT_EQ(buffer->frameLength(), 0u);
}
