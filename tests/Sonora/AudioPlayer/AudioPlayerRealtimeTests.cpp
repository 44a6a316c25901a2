// The player against the real-time clock of the null output device: clips started at host times,
// looping from the file, and the buffer audition's wait.
#include "platform/support/AudioFileSamples.h"
#include "Sonora/AudioPlayer/AudioPlayerFixtures.h"

#include "Sonora/Internals/Utilities/AVAudioPCMBufferAudition.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <thread>

using namespace playerfixtures;
using namespace testsupport;
using sonora::AudioPlayer;

namespace {

size_t firstAbove(const std::vector<float>& v, size_t from, float threshold) {
    for (size_t i = from; i < v.size(); ++i)
        if (std::fabs(v[i]) > threshold) return i;
    return v.size();
}

std::string tool() { return q(toolPath("sonora-tool")); }

}  // namespace

TEST(AudioPlayerRealtime, ClipsAtHostTimesMatchTheOfflineMix) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    ScratchDir dir;
    const auto clip = dir / "r.caf";
    ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(clip) + " synth 3 sine 440 sine 1000 remix 1 2 gain -6"), 0);
    ASSERT_EQ(run(tool() + " play --capture " + q(dir / "cap.wav") + " --seconds 2 --clip " + q(clip) + "@0.5 --clip " +
                  q(clip) + "@1.0"),
              0);
    const auto captured = testsupport::readChannels(dir / "cap.wav");
    const auto source = testsupport::readChannels(clip);
    ASSERT_EQ(captured.size(), 2u);
    ASSERT_GT(captured[0].size(), 80000u);

    // Onsets: where the capture first leaves silence, and where it first leaves the first clip alone.
    const size_t lead = firstAbove(source[0], 0, 0);
    const size_t onset1 = firstAbove(captured[0], 0, 0) - lead;
    std::vector<float> residual(captured[0].size());
    for (size_t i = onset1; i < residual.size(); ++i) residual[i] = captured[0][i] - source[0][i - onset1];
    const size_t onset2 = firstAbove(residual, onset1, 1e-6f) - lead;
    EXPECT_NEAR(double(onset2) - double(onset1), 22050, 1);
    EXPECT_NEAR(double(onset1), 22050, 4410) << "the first clip starts about 0.5 s after the engine";

    // The same two clips mixed offline through the same nodes, at the captured frames.
    auto first = std::make_shared<AudioPlayer>(AVAudioFile::forReading(clip.string()));
    auto second = std::make_shared<AudioPlayer>(AVAudioFile::forReading(clip.string()));
    OfflineEngine offline(std::make_shared<sonora::Mixer>(std::vector<std::shared_ptr<sonora::Node>>{first, second}));
    first->play(0.0, std::nullopt, platform::AVAudioTime(int64_t(onset1), 44100.0));
    second->play(0.0, std::nullopt, platform::AVAudioTime(int64_t(onset2), 44100.0));
    const auto mixed = offline.render(captured[0].size());
    double worst = 0;
    for (int c = 0; c < 2; ++c)
        for (size_t i = 0; i < captured[c].size(); ++i) worst = std::max(worst, double(std::fabs(captured[c][i] - mixed[c][i])));
    EXPECT_LE(worst, 1e-6);
}

TEST(AudioPlayerRealtime, LoopingFileCallsTheHandlerAtEveryEnd) {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    ScratchDir dir;
    writeFile(dir / "c2.wav", 2, 44100, 22050, [](unsigned, int64_t i) { return 0.25f * std::sin(float(i) * 0.06f); });
    int status = 0;
    const std::string out = capture(tool() + " play --loop " + q(dir / "c2.wav") + " --seconds 1.2", &status);
    EXPECT_EQ(status, 0);
    const std::regex line("completion\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(out.begin(), out.end(), line), std::sregex_iterator()), 2) << out;
}

TEST(AudioPlayerRealtime, LoopReplaysTheWholeFileAfterAPlayFromLater) {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    ScratchDir dir;
    auto player = std::make_shared<AudioPlayer>(writeFile(dir / "short.wav", 2, 44100, 13230));  // 0.3 s
    std::atomic<int> completions{0};
    player->setIsLooping(true);
    player->setCompletionHandler([&] { ++completions; });
    sonora::AudioEngine engine;
    engine.setOutput(player);
    engine.start();
    player->play(0.2);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(completions.load(), 1);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(player->editStartTime(), 0);
    EXPECT_DOUBLE_EQ(player->editEndTime(), 0.3);
    player->stop();
    engine.stop();
    EXPECT_EQ(completions.load(), 1) << "stopping runs no completion";
}

TEST(AudioPlayerRealtime, AuditionWaitsForTheBuffersLength) {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    struct Case {
        AVAudioFrameCount length, capacity;
    };
    // Shorter than a second, and a short length in a long buffer: the length sets the wait.
    for (const Case& c : {Case{13230, 13230}, Case{8820, 132300}}) {
        auto buffer = AVAudioPCMBuffer::make(AVAudioFormat::standardFormatWithSampleRate(44100, 2), c.capacity);
        buffer->setFrameLength(c.length);
        const auto begin = std::chrono::steady_clock::now();
        sonora::audition(buffer);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_GE(seconds, c.length / 44100.0) << c.length;
        EXPECT_LT(seconds, c.length / 44100.0 + 0.5) << c.length;
    }
}
