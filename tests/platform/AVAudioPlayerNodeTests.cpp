// The player node rendered offline: placement of files, segments and buffers, options, formats
// and completions.
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/avfaudio/detail/CompletionQueue.h"
#include "platform/foundation/OSLog.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <chrono>
#include <thread>

using namespace platform;

namespace {

AVAudioFormat stereo(double rate = 44100) { return AVAudioFormat::standardFormatWithSampleRate(rate, 2); }

// Frame n of channel c of the test signal: unique per frame, so positions can be checked exactly.
float ramp(uint32_t c, int64_t n) { return (c == 0 ? 1.0f : -1.0f) * float(n + 1) / 65536.0f; }

std::shared_ptr<AVAudioPCMBuffer> rampBuffer(AVAudioFrameCount frames, const AVAudioFormat& format = stereo()) {
    auto buffer = AVAudioPCMBuffer::make(format, frames);
    for (uint32_t c = 0; c < format.channelCount(); ++c)
        for (AVAudioFrameCount i = 0; i < frames; ++i) buffer->floatChannelData()[c][i] = ramp(c, i);
    buffer->setFrameLength(frames);
    return buffer;
}

std::shared_ptr<AVAudioFile> rampFile(const std::filesystem::path& path, AVAudioFrameCount frames, double rate = 44100,
                                      uint32_t channels = 2) {
    const auto format = AVAudioFormat::standardFormatWithSampleRate(rate, channels);
    {
        auto file = AVAudioFile::forWriting(URL::fileURLWithPath(path.string()), format.settings());
        file->write(*rampBuffer(frames, format));
    }
    return AVAudioFile::forReading(URL::fileURLWithPath(path.string()));
}

struct Rig {
    std::shared_ptr<AVAudioEngine> engine = AVAudioEngine::make();
    std::vector<std::shared_ptr<AVAudioPlayerNode>> players;

    explicit Rig(int count = 1, AVAudioFrameCount chunk = 1000) {
        for (int i = 0; i < count; ++i) {
            players.push_back(std::make_shared<AVAudioPlayerNode>());
            engine->attach(players.back());
            engine->connect(players.back(), engine->mainMixerNode(), stereo());
        }
        engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), chunk);
        engine->start();
    }
    std::shared_ptr<AVAudioPlayerNode> player() { return players[0]; }

    std::vector<std::vector<float>> render(AVAudioFrameCount frames) {
        const AVAudioFrameCount chunk = engine->manualRenderingMaximumFrameCount();
        auto buffer = AVAudioPCMBuffer::make(stereo(), chunk);
        std::vector<std::vector<float>> out(2);
        for (AVAudioFrameCount done = 0; done < frames;) {
            const AVAudioFrameCount n = std::min(chunk, frames - done);
            EXPECT_EQ(engine->renderOffline(n, *buffer), AVAudioEngineManualRenderingStatus::success);
            for (int c = 0; c < 2; ++c) out[c].insert(out[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + n);
            done += n;
        }
        return out;
    }
};

// Checks that out[from ...] holds ramp frames first ... first+count-1 on channel 0.
void expectRamp(const std::vector<float>& out, size_t from, int64_t first, size_t count, const char* what) {
    for (size_t i = 0; i < count; ++i) ASSERT_EQ(out[from + i], ramp(0, first + i)) << what << " at " << from + i;
}
void expectSilence(const std::vector<float>& out, size_t from, size_t count, const char* what) {
    for (size_t i = 0; i < count; ++i) ASSERT_EQ(out[from + i], 0.0f) << what << " at " << from + i;
}

}  // namespace

TEST(AVAudioPlayerNode, PlacesFilesSegmentsAndBuffersAtSampleTimes) {
    testsupport::ScratchDir dir;
    auto file = rampFile(dir / "a.wav", 3000);
    file->setFramePosition(1234);
    Rig rig;
    auto p = rig.player();
    p->scheduleSegment(file, 500, 700, AVAudioTime(int64_t(100), 44100.0));  // 100 ... 799
    p->scheduleFile(file, std::nullopt);                                      // 800 ... 3799, right after
    p->scheduleBuffer(rampBuffer(50), AVAudioTime(int64_t(5000), 44100.0), 0);  // 5000 ... 5049
    p->scheduleBuffer(rampBuffer(50), AVAudioTime(int64_t(10), 44100.0), 0);    // already past: at once, 5050
    p->play();
    auto out = rig.render(6000);
    expectSilence(out[0], 0, 100, "before the segment");
    expectRamp(out[0], 100, 500, 700, "segment");
    expectRamp(out[0], 800, 0, 3000, "whole file");
    expectSilence(out[0], 3800, 1200, "gap");
    expectRamp(out[0], 5000, 0, 50, "buffer");
    expectRamp(out[0], 5050, 0, 50, "late buffer");
    EXPECT_EQ(out[1][100], ramp(1, 500));
    EXPECT_EQ(file->framePosition(), 1234);  // the caller's file is not read
}

// Items scheduled after their time has passed start at once, as far into them as they are late,
// so that players timed together stay together; an item with no time still plays whole.
TEST(AVAudioPlayerNode, ALateItemSkipsTheFramesItIsLate) {
    testsupport::ScratchDir dir;
    auto file = rampFile(dir / "a.wav", 3000);
    struct Case {
        const char* what;
        std::function<void(AVAudioPlayerNode&)> schedule;
        int64_t first;   // the ramp frame heard at player time 1000, when the item is scheduled
        size_t heard;    // frames of it heard
        int64_t period;  // a looping buffer's length
    };
    const std::vector<Case> cases = {
        {"buffer 200 late", [](AVAudioPlayerNode& p) { p.scheduleBuffer(rampBuffer(500), AVAudioTime(int64_t(800), 44100.0), 0); },
         200, 300, 0},
        {"segment 300 late", [&](AVAudioPlayerNode& p) { p.scheduleSegment(file, 100, 2000, AVAudioTime(int64_t(700), 44100.0)); },
         400, 1700, 0},
        {"looping buffer 750 late", [](AVAudioPlayerNode& p) {
             p.scheduleBuffer(rampBuffer(500), AVAudioTime(int64_t(250), 44100.0), AVAudioPlayerNodeBufferLoops);
         }, 250, 2000, 500},
        {"no time", [](AVAudioPlayerNode& p) { p.scheduleBuffer(rampBuffer(500), std::nullopt, 0); }, 0, 500, 0},
    };
    for (const auto& c : cases) {
        Rig rig;
        auto p = rig.player();
        p->play();
        rig.render(1000);
        // Over before it could start: it ends at once, and at its own end (player time 10) as far
        // as the items after it are concerned.
        std::atomic<bool> done{false};
        p->scheduleBuffer(rampBuffer(10), AVAudioTime(int64_t(0), 44100.0), 0, [&] { done = true; });
        c.schedule(*p);
        const auto out = rig.render(2000);
        for (size_t k = 0; k < c.heard; ++k) {
            const int64_t n = c.first + int64_t(k);
            ASSERT_EQ(out[0][k], ramp(0, c.period ? n % c.period : n)) << c.what << " at " << k;
        }
        expectSilence(out[0], c.heard, 2000 - c.heard, c.what);
        rig.engine->completionQueue().waitUntilIdle();
        EXPECT_TRUE(done) << c.what;
    }
}

TEST(AVAudioPlayerNode, SegmentsPastTheEndAndEmpty) {
    testsupport::ScratchDir dir;
    auto file = rampFile(dir / "a.wav", 1000);
    Rig rig;
    auto p = rig.player();
    std::vector<int> done;
    p->scheduleSegment(file, 900, 500, std::nullopt, [&] { done.push_back(1); });   // 100 frames
    p->scheduleSegment(file, 5000, 500, std::nullopt, [&] { done.push_back(2); });  // nothing
    p->scheduleSegment(file, 0, 0, std::nullopt, [&] { done.push_back(3); });       // nothing
    p->scheduleSegment(file, 0, 10, std::nullopt, [&] { done.push_back(4); });
    p->play();
    auto out = rig.render(300);
    expectRamp(out[0], 0, 900, 100, "tail");
    expectRamp(out[0], 100, 0, 10, "after the empty ones");
    rig.engine->completionQueue().waitUntilIdle();
    EXPECT_EQ(done, (std::vector<int>{1, 2, 3, 4}));
}

TEST(AVAudioPlayerNode, LoopsAndInterrupts) {
    struct Case {
        const char* name;
        AVAudioPlayerNodeBufferOptions second;
        size_t secondAt;  // where the second buffer starts (rendering in chunks of 100)
    } cases[] = {
        {"interrupts at once", AVAudioPlayerNodeBufferInterrupts, 300},
        {"interrupts at the loop end", AVAudioPlayerNodeBufferInterruptsAtLoop, 320},
    };
    for (const auto& c : cases) {
        Rig rig(1, 100);
        auto p = rig.player();
        std::atomic<int> loopDone{0};
        p->scheduleBuffer(rampBuffer(40), std::nullopt, AVAudioPlayerNodeBufferLoops, [&] { ++loopDone; });
        p->play();
        auto first = rig.render(300);
        for (size_t i = 0; i < 300; ++i) ASSERT_EQ(first[0][i], ramp(0, i % 40)) << c.name << i;
        p->scheduleBuffer(rampBuffer(1000), std::nullopt, c.second);
        auto out = rig.render(200);
        const size_t offset = c.secondAt - 300;
        for (size_t i = 0; i < offset; ++i) ASSERT_EQ(out[0][i], ramp(0, (300 + i) % 40)) << c.name;
        expectRamp(out[0], offset, 0, 200 - offset, c.name);
        rig.engine->completionQueue().waitUntilIdle();
        EXPECT_EQ(loopDone, 1) << c.name;
    }
}

TEST(AVAudioPlayerNode, ConvertsOtherFormats) {
    testsupport::ScratchDir dir;
    // 48 kHz mono: duplicated at unity and resampled to the 44.1 kHz stereo output.
    const auto mono48 = AVAudioFormat::standardFormatWithSampleRate(48000, 1);
    auto sine = AVAudioPCMBuffer::make(mono48, 48000);
    for (int i = 0; i < 48000; ++i) sine->floatChannelData()[0][i] = float(0.5 * std::sin(2 * M_PI * 1000 * i / 48000.0));
    sine->setFrameLength(48000);
    {
        auto f = AVAudioFile::forWriting(URL::fileURLWithPath((dir / "m.caf").string()), mono48.settings());
        f->write(*sine);
    }
    for (bool asFile : {true, false}) {
        Rig rig;
        LogSink::clear();
        if (asFile) rig.player()->scheduleFile(AVAudioFile::forReading(URL::fileURLWithPath((dir / "m.caf").string())), std::nullopt);
        else rig.player()->scheduleBuffer(sine);
        rig.player()->play();
        auto out = rig.render(46000);
        double err = 0, energy = 0;
        for (int n = 200; n < 43900; ++n) {
            const double want = 0.5 * std::sin(2 * M_PI * 1000 * n / 44100.0);
            err += (out[0][n] - want) * (out[0][n] - want);
            energy += want * want;
            ASSERT_EQ(out[0][n], out[1][n]);
        }
        EXPECT_LT(10 * std::log10(err / energy), -60) << asFile;
        expectSilence(out[0], 44100, 1900, "after the end");
        bool converted = false;
        for (const auto& e : LogSink::entries()) converted |= e.message.find("converting") != std::string::npos;
        EXPECT_TRUE(converted);
    }
}

TEST(AVAudioPlayerNode, CompletionsNaturalEndStopAndDetach) {
    Rig rig(1, 256);
    auto p = rig.player();
    std::mutex m;
    std::vector<std::string> order;
    std::atomic<bool> onRenderThread{false};
    const auto caller = std::this_thread::get_id();
    auto note = [&](std::string what) {
        std::lock_guard lock(m);
        order.push_back(std::move(what));
    };
    using Type = AVAudioPlayerNodeCompletionCallbackType;
    p->scheduleBuffer(rampBuffer(100), std::nullopt, 0, Type::dataRendered, [&](Type t) {
        onRenderThread = onRenderThread || std::this_thread::get_id() == caller;
        note("a" + std::to_string(int(t)));
    });
    p->scheduleBuffer(rampBuffer(100), std::nullopt, 0, Type::dataPlayedBack, [&](Type t) { note("b" + std::to_string(int(t))); });
    p->play();
    rig.render(512);
    rig.engine->completionQueue().waitUntilIdle();
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "b2"}));
    EXPECT_FALSE(onRenderThread);

    // stop(): every pending handler runs before it returns, in order, and may call back in.
    order.clear();
    p->scheduleBuffer(rampBuffer(100000), [&] {
        note("c");
        EXPECT_FALSE(p->isPlaying());
        p->scheduleBuffer(rampBuffer(10), [&] { note("from c"); });  // no lock is held
    });
    p->scheduleBuffer(rampBuffer(100), [&] { note("d"); });
    rig.render(256);
    p->stop();
    EXPECT_EQ(order, (std::vector<std::string>{"c", "d"}));
    rig.render(256);  // stopped: the buffer scheduled from c waits, silent
    rig.engine->completionQueue().waitUntilIdle();
    EXPECT_EQ(order.size(), 2u);
    p->stop();
    EXPECT_EQ(order.back(), "from c");

    // Detaching drops the schedule without running anything.
    order.clear();
    p->scheduleBuffer(rampBuffer(100), [&] { note("e"); });
    rig.engine->detach(p);
    rig.render(256);
    rig.engine->completionQueue().waitUntilIdle();
    EXPECT_TRUE(order.empty());
    LogSink::clear();
    p->scheduleBuffer(rampBuffer(100), [&] { note("f"); });  // detached: refused
    p->stop();
    EXPECT_TRUE(order.empty());
    bool refused = false;
    for (const auto& e : LogSink::entries()) refused |= e.message.find("not attached") != std::string::npos;
    EXPECT_TRUE(refused);
}

TEST(AVAudioPlayerNode, PauseResumesAndPlayerTime) {
    Rig rig(1, 100);
    auto p = rig.player();
    p->scheduleBuffer(rampBuffer(1000), std::nullopt, 0);
    EXPECT_FALSE(p->playerTime(AVAudioTime(int64_t(0), 44100.0)));
    p->play(AVAudioTime(int64_t(50), 44100.0));  // player time 0 at node time 50
    auto a = rig.render(200);
    expectSilence(a[0], 0, 50, "before play time");
    expectRamp(a[0], 50, 0, 150, "playing");
    auto now = p->lastRenderTime();
    ASSERT_TRUE(now);
    EXPECT_EQ(p->playerTime(*now)->sampleTime(), now->sampleTime() - 50);
    EXPECT_EQ(p->nodeTime(AVAudioTime(int64_t(0), 44100.0))->sampleTime(), 50);
    p->pause();
    EXPECT_FALSE(p->isPlaying());
    auto b = rig.render(100);
    expectSilence(b[0], 0, 100, "paused");
    p->play();
    auto c = rig.render(100);
    expectRamp(c[0], 0, 150, 100, "resumed");
}

TEST(AVAudioPlayerNode, HostTimesOfflineStartAtOnceAndEngineStopKeepsSchedule) {
    Rig rig(1, 100);
    auto p = rig.player();
    p->scheduleBuffer(rampBuffer(300), AVAudioTime(mach_absolute_time() + 1'000'000'000ull), 0);
    p->play();
    auto a = rig.render(100);
    expectRamp(a[0], 0, 0, 100, "host time offline");
    rig.engine->stop();
    EXPECT_TRUE(p->isPlaying());
    rig.engine->start();
    auto b = rig.render(100);
    expectRamp(b[0], 0, 100, 100, "after engine stop and start");
}

TEST(AVAudioPlayerNode, TwoPlayersFromOneFileOfflineNeverDropData) {
    testsupport::ScratchDir dir;
    auto file = rampFile(dir / "long.wav", 200000);
    Rig rig(2, 4096);
    rig.players[0]->scheduleFile(file, std::nullopt);
    rig.players[1]->scheduleFile(file, AVAudioTime(int64_t(1000), 44100.0));
    rig.players[1]->setVolume(0);
    for (auto& p : rig.players) p->play();
    auto out = rig.render(210000);
    expectRamp(out[0], 0, 0, 200000, "long file");
}

// A handler that drops the engine's last owner makes the engine go on the callback thread, which
// cannot join itself: it ends on its own once the handler returns.
TEST(AVAudioPlayerNode, CompletionHandlerMayReleaseTheEngine) {
    Rig rig(1, 256);
    auto owner = std::make_shared<std::shared_ptr<AVAudioEngine>>(rig.engine);
    std::atomic<bool> ownerDropped{false};
    std::atomic<bool> released{false};
    rig.player()->scheduleBuffer(rampBuffer(100), [owner, &ownerDropped, &released] {
        while (!ownerDropped.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        owner->reset();
        released = true;
    });
    rig.player()->play();
    rig.render(256);
    std::weak_ptr<AVAudioEngine> engine = rig.engine;
    rig.engine.reset();
    ownerDropped = true;
    for (int i = 0; i < 5000 && !released.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(released.load());
    EXPECT_TRUE(engine.expired());
}
