// Taps on the platform engine's nodes, the input node's offline input and channel map, and the
// file and format pieces the recorders stand on. Offline rendering delivers taps on the caller's
// thread at the end of each render call, so these checks need no waiting.
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioChannelLayout.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/OSUnfairLock.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <thread>

using namespace platform;

namespace {

AVAudioFormat stereo(double rate = 44100) { return AVAudioFormat::standardFormatWithSampleRate(rate, 2); }

// Channel c, frame n from the source's first render: c * 100000 + n (exact in Float32 below 2^24).
std::shared_ptr<AVAudioSourceNode> counter() {
    auto frame = std::make_shared<int64_t>(0);
    return std::make_shared<AVAudioSourceNode>(
        [frame](bool&, const AudioTimeStamp&, AVAudioFrameCount frames, AudioBufferList* out) -> OSStatus {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                for (AVAudioFrameCount i = 0; i < frames; ++i)
                    static_cast<float*>(out->mBuffers[c].mData)[i] = float(c * 100000 + *frame + i);
            *frame += frames;
            return noErr;
        });
}

struct Delivery {
    std::vector<std::vector<float>> channels;
    AVAudioFrameCount capacity = 0;
    AVAudioTime time{int64_t(0), 0.0};
};

AVAudioNodeTapBlock collect(std::vector<Delivery>& into) {
    return [&into](const std::shared_ptr<AVAudioPCMBuffer>& buffer, const AVAudioTime& time) {
        Delivery d;
        d.capacity = buffer->frameCapacity();
        d.time = time;
        for (uint32_t c = 0; c < buffer->format().channelCount(); ++c)
            d.channels.emplace_back(buffer->floatChannelData()[c], buffer->floatChannelData()[c] + buffer->frameLength());
        into.push_back(std::move(d));
    };
}

void startOffline(AVAudioEngine& engine, AVAudioFrameCount chunk = 512, const AVAudioFormat& format = stereo()) {
    engine.enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, chunk);
    engine.start();
}

void render(AVAudioEngine& engine, AVAudioFrameCount frames, AVAudioFrameCount chunk = 512) {
    auto buffer = AVAudioPCMBuffer::make(engine.manualRenderingFormat(), chunk);
    for (AVAudioFrameCount done = 0; done < frames; done += chunk)
        ASSERT_EQ(engine.renderOffline(std::min(chunk, frames - done), *buffer), AVAudioEngineManualRenderingStatus::success);
}

bool logged(const std::string& fragment) {
    for (const auto& e : LogSink::entries())
        if (e.message.find(fragment) != std::string::npos) return true;
    return false;
}

}  // namespace

// Buffers of exactly bufferSize consecutive frames from the node's first rendered frame, with the
// time of their first frame, whatever the render calls' sizes.
TEST(AVAudioNodeTap, CutsConsecutiveBuffersOfTheTapSizeFromTheFirstFrame) {
    for (AVAudioFrameCount bufferSize : {100u, 1024u, 4096u}) {
        auto engine = AVAudioEngine::make();
        auto node = counter();
        engine->attach(node);
        engine->connect(node, engine->mainMixerNode(), stereo());
        std::vector<Delivery> got;
        node->installTapOnBus(0, bufferSize, std::nullopt, collect(got));
        startOffline(*engine, 300);
        render(*engine, 3 * bufferSize + 50, 300);
        ASSERT_EQ(got.size(), 3u) << bufferSize;
        for (size_t k = 0; k < got.size(); ++k) {
            EXPECT_EQ(got[k].capacity, bufferSize);
            ASSERT_EQ(got[k].channels.size(), 2u);
            for (uint32_t c = 0; c < 2; ++c)
                for (AVAudioFrameCount i = 0; i < bufferSize; i += 7)
                    ASSERT_EQ(got[k].channels[c][i], float(c * 100000 + k * bufferSize + i)) << bufferSize << " buffer " << k;
            EXPECT_EQ(got[k].time.sampleTime(), int64_t(k * bufferSize));
            EXPECT_EQ(got[k].time.sampleRate(), 44100);
        }
        // Removing the tap hands over the frames it holds, as one shorter buffer, and then nothing more.
        node->removeTapOnBus(0);
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[3].capacity, 50u);
        EXPECT_EQ(got[3].channels[0][0], float(3 * bufferSize));
        render(*engine, 2 * bufferSize, 300);
        EXPECT_EQ(got.size(), 4u);
    }
}

TEST(AVAudioNodeTap, RefusesWhatItCannotDeliverAndInstallsNothing) {
    auto engine = AVAudioEngine::make();
    auto node = counter();
    engine->attach(node);
    engine->connect(node, engine->mainMixerNode(), stereo());
    auto detached = counter();
    struct Case {
        std::shared_ptr<AVAudioNode> node;
        AVAudioNodeBus bus;
        AVAudioFrameCount size;
        std::optional<AVAudioFormat> format;
        const char* log;
    };
    const Case cases[] = {
        {detached, 0, 512, std::nullopt, "is not attached to an engine"},
        {node, 1, 512, std::nullopt, "has no tappable bus 1"},
        {node, 0, 0, std::nullopt, "the buffer size is 0"},
        {node, 0, 512, stereo(48000), "differs from the bus format"},
        {node, 0, 512, AVAudioFormat::standardFormatWithSampleRate(44100, 1), "differs from the bus format"},
    };
    std::vector<Delivery> got;
    for (const Case& k : cases) {
        LogSink::clear();
        k.node->installTapOnBus(k.bus, k.size, k.format, collect(got));
        EXPECT_TRUE(logged(k.log)) << k.log;
        EXPECT_FALSE(k.node->hasTap()) << k.log;
    }
    // The bus's own rate and channels in another sample layout are accepted; a second tap is not.
    node->installTapOnBus(0, 512, AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, 44100, 2, true), collect(got));
    EXPECT_TRUE(node->hasTap());
    std::vector<Delivery> second;
    LogSink::clear();
    node->installTapOnBus(0, 256, std::nullopt, collect(second));
    EXPECT_TRUE(logged("already has a tap"));
    startOffline(*engine);
    render(*engine, 1024);
    EXPECT_EQ(got.size(), 2u);
    EXPECT_TRUE(second.empty());
}

// A block may remove its own tap (a recorder stops there); nothing is delivered after it.
TEST(AVAudioNodeTap, ABlockRemovesItsOwnTapWithoutWaiting) {
    auto engine = AVAudioEngine::make();
    auto node = counter();
    engine->attach(node);
    engine->connect(node, engine->mainMixerNode(), stereo());
    int calls = 0;
    node->installTapOnBus(0, 256, std::nullopt, [&](const std::shared_ptr<AVAudioPCMBuffer>&, const AVAudioTime&) {
        if (++calls == 2) node->removeTapOnBus(0);
    });
    startOffline(*engine);
    render(*engine, 4096);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(node->hasTap());
    // The bus takes a new tap afterwards.
    std::vector<Delivery> got;
    node->installTapOnBus(0, 512, std::nullopt, collect(got));
    render(*engine, 1024);
    EXPECT_EQ(got.size(), 2u);
}

// A tapped node that nothing pulls renders every cycle all the same, from its first frame.
TEST(AVAudioNodeTap, ATappedNodeOutsideTheGraphStillRenders) {
    auto engine = AVAudioEngine::make();
    engine->mainMixerNode();
    auto lonely = counter();
    engine->attach(lonely);
    std::vector<Delivery> got;
    startOffline(*engine);
    lonely->installTapOnBus(0, 1000, std::nullopt, collect(got));
    render(*engine, 2048);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].channels[1][999], float(100000 + 1999));
    EXPECT_EQ(lonely->tapOverflowCount(0), 0u);
}

// Offline, the input node renders what the manual input block gives, through its channel map.
TEST(AVAudioInputNode, RendersTheManualInputThroughItsChannelMap) {
    auto engine = AVAudioEngine::make();
    startOffline(*engine, 512, stereo(48000));
    auto input = engine->inputNode();
    const auto four = AVAudioFormat::standardFormatWithSampleRate(48000, 4);
    auto block = AVAudioPCMBuffer::make(four, 512);
    int64_t frame = 0;
    ASSERT_TRUE(input->setManualRenderingInputPCMFormat(four, [&](AVAudioFrameCount frames) -> const AudioBufferList* {
        for (uint32_t c = 0; c < 4; ++c)
            for (AVAudioFrameCount i = 0; i < frames; ++i) block->floatChannelData()[c][i] = float(c * 100000 + frame + i);
        frame += frames;
        return block->audioBufferList();
    }));
    EXPECT_EQ(input->outputFormat(0), four);

    struct Case {
        std::vector<int32_t> map;
        OSStatus status;
        uint32_t channels;  // of bus 0 afterwards
    };
    const Case cases[] = {{{3, 1}, noErr, 2}, {{0, 4}, kAudioUnitErr_InvalidPropertyValue, 2}, {{-1}, kAudioUnitErr_InvalidPropertyValue, 2},
                          {{2}, noErr, 1}, {{0, 2}, noErr, 2}};
    for (const Case& k : cases) {
        EXPECT_EQ(AudioUnitSetProperty(input->audioUnit(), kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Output, 1,
                                       k.map.data(), uint32_t(4 * k.map.size())),
                  k.status);
        EXPECT_EQ(input->outputFormat(0).channelCount(), k.channels);
        EXPECT_EQ(input->outputFormat(0).sampleRate(), 48000);
    }
    EXPECT_EQ(input->channelMap(), (std::vector<int32_t>{0, 2}));
    std::vector<Delivery> got;
    input->installTapOnBus(0, 2048, std::nullopt, collect(got));
    render(*engine, 4096);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].channels[0][5], float(2048 + 5));
    EXPECT_EQ(got[1].channels[1][5], float(200000 + 2048 + 5));
}

// Float buffers of either layout go to integer files clipped; the header is current after every write.
TEST(AVAudioFileWriting, TakesInterleavedAndDeinterleavedFloatAndClipsTo24Bit) {
    QTemporaryDir dir;
    AudioStreamBasicDescription asbd{};
    asbd.mSampleRate = 48000;
    asbd.mFormatID = kAudioFormatLinearPCM;
    asbd.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    asbd.mBytesPerPacket = asbd.mBytesPerFrame = 6;
    asbd.mFramesPerPacket = 1;
    asbd.mChannelsPerFrame = 2;
    asbd.mBitsPerChannel = 24;
    const AVAudioFormat packed24(asbd);
    ASSERT_TRUE(packed24.isValid());
    const std::string path = (dir.path() + "/clip.wav").toStdString();
    auto file = AVAudioFile::forWriting(path, packed24.settings());
    EXPECT_EQ(file->fileFormat().streamDescription().mBitsPerChannel, 24u);

    auto planar = AVAudioPCMBuffer::make(AVAudioFormat::standardFormatWithSampleRate(48000, 2), 3);
    const float left[] = {0.5f, 2.0f, -3.0f}, right[] = {-0.25f, 1.0f, -1.0f};
    std::copy_n(left, 3, planar->floatChannelData()[0]);
    std::copy_n(right, 3, planar->floatChannelData()[1]);
    planar->setFrameLength(3);
    file->write(*planar);
    EXPECT_EQ(AVAudioFile::forReading(path)->length(), 3);  // a reader opened meanwhile sees them
    auto packed = AVAudioPCMBuffer::make(AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, 48000, 2, true), 2);
    const float pairs[] = {0.125f, -0.5f, 7.0f, 0.0f};
    std::copy_n(pairs, 4, packed->floatChannelData()[0]);
    packed->setFrameLength(2);
    file->write(*packed);
    EXPECT_EQ(AVAudioFile::forReading(path)->length(), 5);
    auto mono = AVAudioPCMBuffer::make(AVAudioFormat::standardFormatWithSampleRate(48000, 1), 1);
    EXPECT_THROW(file->write(*mono), NSErrorException);
    file->close();

    auto reader = AVAudioFile::forReading(path);
    auto back = AVAudioPCMBuffer::make(reader->processingFormat(), 8);
    reader->read(*back);
    ASSERT_EQ(back->frameLength(), 5u);
    const float top = float(8388607.0 / 8388608.0);
    const float wantLeft[] = {0.5f, top, -1.0f, 0.125f, top}, wantRight[] = {-0.25f, top, -1.0f, -0.5f, 0.0f};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(back->floatChannelData()[0][i], wantLeft[i]) << i;
        EXPECT_EQ(back->floatChannelData()[1][i], wantRight[i]) << i;
    }
}

TEST(AVAudioChannelLayout, DiscreteInOrderCountsItsChannels) {
    const auto layout = AVAudioChannelLayout::layoutWithLayoutTag(kAudioChannelLayoutTag_DiscreteInOrder | 3);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->channelCount(), 3u);
    const auto format = AVAudioFormat::standardFormatWithSampleRate(48000, *layout);
    EXPECT_TRUE(format.isStandard());
    EXPECT_EQ(format.channelCount(), 3u);
    EXPECT_EQ(format.channelLayout(), layout);
    EXPECT_FALSE(AVAudioChannelLayout::layoutWithLayoutTag(kAudioChannelLayoutTag_DiscreteInOrder));
    EXPECT_FALSE(AVAudioChannelLayout::layoutWithLayoutTag(12345u << 16 | 2));
}

TEST(OSUnfairLock, KeepsOutOtherThreads) {
    os_unfair_lock lock = OS_UNFAIR_LOCK_INIT;
    int64_t count = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                os_unfair_lock_lock(&lock);
                ++count;
                os_unfair_lock_unlock(&lock);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(count, 80000);
    EXPECT_TRUE(os_unfair_lock_trylock(&lock));
    EXPECT_FALSE(os_unfair_lock_trylock(&lock));
    os_unfair_lock_unlock(&lock);
}
