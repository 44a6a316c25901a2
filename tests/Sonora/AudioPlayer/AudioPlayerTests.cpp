// The file and buffer player: its edit range and modes, loading and wiring, and what it plays,
// rendered offline frame by frame.
#include "Sonora/AudioPlayer/AudioPlayerFixtures.h"

#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/detail/CompletionQueue.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <optional>

using namespace playerfixtures;
namespace LogSink = platform::LogSink;
using platform::OSLogType;
using sonora::AudioPlayer;

namespace {

constexpr double kRate = 44100;
constexpr AVAudioFrameCount kTenSeconds = 441000;

// The first frame of `out` from `at` on that differs from file frames `fileFrames` (a list of file
// frame numbers, −1 for silence); -1 when all match.
long firstMismatch(const std::vector<std::vector<float>>& out, size_t at, const std::vector<int64_t>& fileFrames) {
    for (size_t i = 0; i < fileFrames.size(); ++i)
        for (unsigned c = 0; c < 2; ++c) {
            const float expected = fileFrames[i] < 0 ? 0.0f : frameSample(c, fileFrames[i]);
            if (out[c][at + i] != expected) return long(i);
        }
    return -1;
}

std::vector<int64_t> forwards(int64_t first, size_t count) {
    std::vector<int64_t> frames(count);
    for (size_t i = 0; i < count; ++i) frames[i] = first + int64_t(i);
    return frames;
}

std::vector<int64_t> silence(size_t count) { return std::vector<int64_t>(count, -1); }

struct PlayerTest : ::testing::Test {
    testsupport::ScratchDir dir;
    std::shared_ptr<AVAudioFile> tenSeconds = writeFile(dir / "ten.wav", 2, kRate, kTenSeconds);
    void SetUp() override { LogSink::clear(); }
};

}  // namespace

TEST_F(PlayerTest, EditRangeIsClampedAndKeptAsideWhileDisabled) {
    AudioPlayer empty;
    EXPECT_EQ(empty.duration(), 0);
    empty.setEditEndTime(0);
    EXPECT_EQ(empty.editEndTime(), 0);

    AudioPlayer player(tenSeconds);
    EXPECT_EQ(player.duration(), 10);
    EXPECT_EQ(player.editStartTime(), 0);
    EXPECT_EQ(player.editEndTime(), 10);
    struct Case {
        double written, start, end;
    };
    for (const Case& c : {Case{-3, 0, 0}, Case{12, 10, 10}, Case{0, 0, 10}, Case{NAN, 0, 0}}) {
        player.setEditStartTime(c.written);
        player.setEditEndTime(c.written);
        EXPECT_EQ(player.editStartTime(), c.start) << c.written;
        EXPECT_EQ(player.editEndTime(), c.end) << c.written;
    }

    player.setEditStartTime(2);
    player.setEditEndTime(5);
    player.setIsEditTimeEnabled(false);
    EXPECT_EQ(player.editStartTime(), 0);
    EXPECT_EQ(player.editEndTime(), 10);
    player.setIsEditTimeEnabled(true);
    EXPECT_EQ(player.editStartTime(), 2);
    EXPECT_EQ(player.editEndTime(), 5);

    AudioPlayer fresh(tenSeconds);
    fresh.setIsEditTimeEnabled(true);
    EXPECT_EQ(fresh.editStartTime(), 0);
    EXPECT_EQ(fresh.editEndTime(), 10);

    // Keeping the edit time keeps it even beyond the new file's end.
    player.load(writeFile(dir / "one.wav", 2, kRate, 44100), std::nullopt, true);
    EXPECT_EQ(player.duration(), 1);
    EXPECT_EQ(player.editStartTime(), 2);
    EXPECT_EQ(player.editEndTime(), 5);
}

TEST_F(PlayerTest, ModesFollowTheBufferAndLoopingSetsTheOptions) {
    AudioPlayer player(tenSeconds);
    EXPECT_FALSE(player.isBuffered());
    EXPECT_EQ(player.bufferOptions(), platform::AVAudioPlayerNodeBufferInterrupts);
    player.setIsLooping(true);
    EXPECT_EQ(player.bufferOptions(), platform::AVAudioPlayerNodeBufferLoops);
    player.setIsLooping(false);
    EXPECT_EQ(player.bufferOptions(), platform::AVAudioPlayerNodeBufferInterrupts);

    player.setBuffer(AVAudioPCMBuffer::make(tenSeconds->processingFormat(), 10));
    EXPECT_TRUE(player.isBuffered());
    player.setIsBuffered(false);
    EXPECT_EQ(player.buffer(), nullptr);

    // A buffer given without a file is never replaced, and nothing is logged.
    auto given = AVAudioPCMBuffer::make(tenSeconds->processingFormat(), 10);
    AudioPlayer bufferOnly(given);
    EXPECT_TRUE(bufferOnly.isBuffered());
    LogSink::clear();
    bufferOnly.updateBuffer(true);
    EXPECT_EQ(bufferOnly.buffer(), given);
    EXPECT_TRUE(LogSink::entries().empty());

    EXPECT_EQ(AudioPlayer::make(dir / "missing.wav"), nullptr);
    EXPECT_TRUE(logged("missing.wav", OSLogType::error));
    EXPECT_THROW(player.load(platform::URL(dir / "missing.wav")), platform::NSErrorException);
    EXPECT_EQ(player.file(), tenSeconds);
}

TEST_F(PlayerTest, PlayNeedsAnAttachedRunningEngine) {
    auto player = std::make_shared<AudioPlayer>(tenSeconds);
    player->play();
    EXPECT_TRUE(logged("🛑 Error: AudioPlayer must be attached before playback.", OSLogType::error));
    EXPECT_FALSE(player->isPlaying());

    sonora::AudioEngine engine;
    engine.setOutput(player);
    player->play();
    EXPECT_TRUE(logged("🛑 Error: AudioPlayer's engine must be running before playback.", OSLogType::error));
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlayerTest, RangeTwoToFiveRendersExactlyThoseFramesThenSilence) {
    for (const bool buffered : {false, true}) {
        auto player = std::make_shared<AudioPlayer>(tenSeconds, buffered);
        OfflineEngine offline(player);
        player->play(2.0, 5.0);
        EXPECT_TRUE(player->isPlaying());
        EXPECT_EQ(player->editStartTime(), 2);
        EXPECT_EQ(player->editEndTime(), 5);
        const auto out = offline.render(6 * 44100);
        EXPECT_EQ(firstMismatch(out, 0, forwards(88200, 132300)), -1) << "buffered " << buffered;
        EXPECT_EQ(firstMismatch(out, 132300, silence(6 * 44100 - 132300)), -1) << "buffered " << buffered;
        // Offline the end of the material changes nothing.
        EXPECT_TRUE(player->isPlaying());
    }
}

TEST_F(PlayerTest, PlayingFromBeyondTheEndSchedulesNothing) {
    auto player = std::make_shared<AudioPlayer>(tenSeconds);
    OfflineEngine offline(player);
    player->play(12.0);
    EXPECT_TRUE(logged("Unable to schedule file. totalFrames to play: 0. file.length: 441000", OSLogType::error));
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(firstMismatch(offline.render(4096), 0, silence(4096)), -1);
}

TEST_F(PlayerTest, SeekWhileStoppedPlayingAndPaused) {
    {  // Stopped: only the range moves.
        AudioPlayer player(tenSeconds);
        player.seek(3);
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(player.editStartTime(), 3);
        EXPECT_EQ(player.editEndTime(), 10);
    }
    {  // Playing: plays on from 3 s to the end.
        auto player = std::make_shared<AudioPlayer>(tenSeconds);
        OfflineEngine offline(player);
        player->play(0.0, 4.0);
        offline.render(44032);
        player->seek(3);
        EXPECT_EQ(player->editEndTime(), 10);
        EXPECT_EQ(firstMismatch(offline.render(2048), 0, forwards(132300, 2048)), -1);
    }
    {  // Paused: resumes where it paused; the 3 s are not used.
        auto player = std::make_shared<AudioPlayer>(tenSeconds);
        OfflineEngine offline(player);
        player->play();
        offline.render(44032);  // the last cycle starts at frame 43008
        player->pause();
        EXPECT_TRUE(player->isPaused());
        EXPECT_DOUBLE_EQ(player->currentTime(), 43008 / kRate);
        EXPECT_EQ(firstMismatch(offline.render(1024), 0, silence(1024)), -1);
        player->seek(3);
        EXPECT_FALSE(player->isPaused());
        EXPECT_TRUE(player->isPlaying());
        EXPECT_EQ(firstMismatch(offline.render(2048), 0, forwards(43008, 2048)), -1);
    }
}

TEST_F(PlayerTest, StopAfterPauseLetsTheNextPlayStart) {
    auto player = std::make_shared<AudioPlayer>(tenSeconds);
    OfflineEngine offline(player);
    player->play();
    offline.render(2048);
    player->pause();
    player->stop();
    EXPECT_FALSE(player->isPaused());
    EXPECT_FALSE(player->isPlaying());
    player->play(1.0);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(firstMismatch(offline.render(2048), 0, forwards(44100, 2048)), -1);
}

TEST_F(PlayerTest, BufferIsReadOnceForTheSameRange) {
    auto player = std::make_shared<AudioPlayer>(tenSeconds, true);
    OfflineEngine offline(player);
    player->play(2.0, 5.0);
    const auto first = player->buffer();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->frameLength(), 132300u);
    EXPECT_EQ(player->startingFrame(), 88200);
    EXPECT_EQ(player->endingFrame(), 220500);

    // A read moves the file's read position; an unchanged range must not read at all.
    tenSeconds->setFramePosition(0);
    player->stop();
    player->play();
    EXPECT_EQ(player->buffer(), first);
    EXPECT_EQ(tenSeconds->framePosition(), 0);
    EXPECT_EQ(firstMismatch(offline.render(1024), 0, forwards(88200, 1024)), -1);

    player->stop();
    player->play(3.0);
    EXPECT_NE(player->buffer(), first);
    EXPECT_EQ(player->startingFrame(), 132300);

    const auto second = player->buffer();
    player->updateBuffer(true);
    EXPECT_NE(player->buffer(), second);
}

TEST_F(PlayerTest, ReversedRangeIsTheMirroredFileRangeBackwards) {
    auto player = std::make_shared<AudioPlayer>(tenSeconds);
    OfflineEngine offline(player);
    player->setEditStartTime(2);
    player->setEditEndTime(5);
    player->setIsReversed(true);  // reads at once, entering buffer mode
    EXPECT_TRUE(player->isBuffered());
    EXPECT_EQ(player->startingFrame(), 5 * 44100);
    EXPECT_EQ(player->endingFrame(), 8 * 44100);
    EXPECT_TRUE(logged("Reversing...", OSLogType::info));

    player->play();
    std::vector<int64_t> backwards(132300);
    for (size_t i = 0; i < backwards.size(); ++i) backwards[i] = 8 * 44100 - 1 - int64_t(i);
    const auto out = offline.render(132300 + 1024);
    EXPECT_EQ(firstMismatch(out, 0, backwards), -1);
    EXPECT_EQ(firstMismatch(out, 132300, silence(1024)), -1);
}

TEST_F(PlayerTest, ReversalOfABufferedPlayerTakesEffectAtTheNextPlay) {
    auto player = std::make_shared<AudioPlayer>(tenSeconds, true);
    OfflineEngine offline(player);
    player->setIsReversed(true);
    player->play();
    EXPECT_EQ(firstMismatch(offline.render(1024), 0, {kTenSeconds - 1, kTenSeconds - 2}), -1);
    player->setIsReversed(false);
    player->play();
    EXPECT_EQ(firstMismatch(offline.render(1024), 0, {0, 1}), -1);
}

TEST_F(PlayerTest, LoopingBufferRepeatsUntilStopped) {
    auto player = std::make_shared<AudioPlayer>();
    OfflineEngine offline(player);
    auto loop = AVAudioPCMBuffer::make(tenSeconds->processingFormat(), 1000);
    for (unsigned c = 0; c < 2; ++c)
        for (int i = 0; i < 1000; ++i) loop->floatChannelData()[c][i] = frameSample(c, i);
    loop->setFrameLength(1000);

    player->scheduleBuffer(loop, std::nullopt, platform::AVAudioPlayerNodeBufferLoops);
    EXPECT_TRUE(player->isLooping());
    EXPECT_EQ(player->bufferOptions(), platform::AVAudioPlayerNodeBufferLoops);
    EXPECT_TRUE(player->isScheduled());
    player->play();
    std::vector<int64_t> repeated(3500);
    for (size_t i = 0; i < repeated.size(); ++i) repeated[i] = int64_t(i % 1000);
    EXPECT_EQ(firstMismatch(offline.render(3500), 0, repeated), -1);
    player->stop();
    EXPECT_EQ(firstMismatch(offline.render(1024), 0, silence(1024)), -1);
}

TEST_F(PlayerTest, MonoFileIsWidenedOnATwoChannelOutput) {
    const auto mono = writeFile(dir / "mono.wav", 1, kRate, 3000);
    AudioPlayer player(mono, true);  // unconnected: the player node's own stereo output
    const auto buffer = player.buffer();
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->format().channelCount(), 2u);
    EXPECT_EQ(buffer->frameLength(), 3000u);
    for (AVAudioFrameCount i = 0; i < 3000; ++i) {
        ASSERT_EQ(buffer->floatChannelData()[0][i], frameSample(0, i));
        ASSERT_EQ(buffer->floatChannelData()[1][i], frameSample(0, i));
    }
    EXPECT_TRUE(logged("Copying mono data to 2 channel buffer...", OSLogType::info));
}

TEST_F(PlayerTest, EmptyRangeLogsBothFramesAndKeepsTheBuffer) {
    AudioPlayer player(tenSeconds, true);
    const auto before = player.buffer();
    player.setEditStartTime(4);
    player.setEditEndTime(4);
    player.updateBuffer();
    EXPECT_TRUE(logged("Error, endFrame must be after startFrame. Unable to fill buffer. startFrame 176400 endFrame 176400",
                       OSLogType::error));
    EXPECT_EQ(player.buffer(), before);
}

TEST_F(PlayerTest, AnotherFormatReconnectsThePlayerNode) {
    auto player = std::make_shared<AudioPlayer>(tenSeconds);
    sonora::AudioEngine engine;
    engine.setOutput(player);
    EXPECT_EQ(player->mixerNode()->inputFormat(0).channelCount(), 2u);

    player->load(writeFile(dir / "same.wav", 2, kRate, 100));
    EXPECT_FALSE(logged("Format has changed", OSLogType::info));
    player->load(writeFile(dir / "mono.wav", 1, kRate, 100));
    EXPECT_TRUE(logged("Format has changed, player will be reconnected with format", OSLogType::info));
    EXPECT_EQ(player->mixerNode()->inputFormat(0).channelCount(), 1u);
    EXPECT_EQ(player->playerNode()->outputFormat(0).channelCount(), 1u);

    // A second call finds the connection and changes nothing.
    const auto points = engine.avEngine()->outputConnectionPoints(player->playerNode(), 0);
    player->makeInternalConnections();
    EXPECT_EQ(engine.avEngine()->outputConnectionPoints(player->playerNode(), 0), points);
}

// The end of the 2–5 s range comes during an offline render: its completion is delivered before
// renderToFile returns, under the offline rules, so it changes nothing, on every run alike.
TEST_F(PlayerTest, AnOfflineRenderDeliversItsCompletionsBeforeItReturns) {
    const auto format = AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    for (int run = 0; run < 50; ++run) {
        SCOPED_TRACE(run);
        auto player = std::make_shared<AudioPlayer>(tenSeconds, false);
        int handlerCalls = 0;
        player->setCompletionHandler([&] { ++handlerCalls; });
        sonora::AudioEngine engine;
        engine.setOutput(player);
        auto file = AVAudioFile::forWriting((dir / "render.caf").string(), format.settings());
        engine.renderToFile(*file, 4096, 6.0, [&] { player->play(2.0, 5.0); });
        // Whatever the render queued has been delivered: nothing is left to arrive late.
        engine.avEngine()->completionQueue().waitUntilIdle();
        EXPECT_TRUE(player->isPlaying());
        EXPECT_EQ(handlerCalls, 0);
        EXPECT_EQ(file->length(), 6 * 44100);
    }
}

// A player that no shared_ptr owns is gone while the engine still holds its nodes: the completion
// of what it scheduled arrives later and must not reach it (AddressSanitizer builds see any touch).
TEST_F(PlayerTest, ACompletionAfterAnUnsharedPlayerIsGoneReachesNothing) {
    const auto format = AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    auto engine = platform::AVAudioEngine::make();
    auto player = std::make_unique<AudioPlayer>(tenSeconds);
    const auto node = player->playerNode();
    const auto mixer = player->mixerNode();
    engine->attach(node);
    engine->attach(mixer);
    engine->connect(node, mixer, format);
    engine->connect(mixer, engine->mainMixerNode(), format);
    engine->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, 4096);
    engine->start();
    int calls = 0;
    player->setCompletionHandler([&] { ++calls; });
    player->play(0.0, 0.05);
    ASSERT_TRUE(player->isPlaying());
    player.reset();

    auto chunk = AVAudioPCMBuffer::make(format, 4096);
    for (int i = 0; i < 4; ++i) engine->renderOffline(4096, *chunk);
    engine->completionQueue().waitUntilIdle();
    EXPECT_EQ(calls, 0);
    engine->stop();
    engine->disableManualRenderingMode();
}
