// The offline file render: lengths, chunks, progress, the silent tail and errors.
#include "Sonora/Internals/Engine/AVAudioEngineRender.h"
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/NSError.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace platform;
using namespace testnodes;
using sonora::AudioEngine;
using sonora::Mixer;
using sonora::Node;

namespace {

struct Render {
    testsupport::ScratchDir dir;
    AudioEngine engine;
    std::shared_ptr<SourceNode> source;
    std::shared_ptr<AVAudioFile> file;
    std::vector<double> progress;
    int prerenders = 0;
    int64_t framesAtPrerender = -1;

    explicit Render(std::shared_ptr<SourceNode> s) : source(std::move(s)) {
        engine.setOutput(std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{source}));
        file = AVAudioFile::forWriting(URL((dir / "out.caf").string()), stereo().settings());
    }
    void run(double duration, AVAudioFrameCount chunk, bool untilSilent = false) {
        sonora::render(*engine.avEngine(), *file, chunk, duration, untilSilent, 0.00005f,
                       [&] {
                           ++prerenders;
                           framesAtPrerender = source->framesRendered();
                           EXPECT_TRUE(engine.avEngine()->isRunning());
                       },
                       [&](double p) { progress.push_back(p); });
    }
    AVAudioFramePosition length() { return file->length(); }
};

// Loud (0.5) where `loud` says so, silent elsewhere.
std::shared_ptr<SourceNode> pattern(std::function<bool(int64_t)> loud) {
    return std::make_shared<SourceNode>([loud](uint32_t, int64_t n) { return loud(n) ? 0.5f : 0.0f; });
}

}  // namespace

TEST(OfflineRender, LengthIsTheTruncatedDurationInChunks) {
    Render r(constant(0.25f));
    r.engine.renderToFile(*r.file, 1000, 2500.7 / 44100.0, [&] { ++r.prerenders; },
                          [&](double p) { r.progress.push_back(p); });
    EXPECT_EQ(r.length(), 2500);
    EXPECT_EQ(r.prerenders, 1);
    ASSERT_EQ(r.progress.size(), 3u);
    EXPECT_DOUBLE_EQ(r.progress[0], 0.4);
    EXPECT_DOUBLE_EQ(r.progress[1], 0.8);
    EXPECT_EQ(r.progress[2], 1.0);
    EXPECT_FALSE(r.engine.avEngine()->isRunning());
    EXPECT_FALSE(r.engine.avEngine()->isInManualRenderingMode());
}

TEST(OfflineRender, PrerenderRunsOnceBeforeTheFirstFrame) {
    Render r(constant(0.25f));
    r.run(0.05, 512);
    EXPECT_EQ(r.prerenders, 1);
    EXPECT_EQ(r.framesAtPrerender, 0);
    EXPECT_EQ(r.length(), 2205);
}

TEST(OfflineRender, ZeroDurationRendersNothing) {
    Render r(constant(0.25f));
    r.run(0, 512);
    EXPECT_EQ(r.length(), 0);
    EXPECT_TRUE(r.progress.empty());
    EXPECT_EQ(r.prerenders, 1);
    EXPECT_FALSE(r.engine.avEngine()->isInManualRenderingMode());
}

TEST(OfflineRender, NegativeOrNaNDurationIsRefusedBeforeTouchingTheEngine) {
    for (double duration : {-1.0, double(NAN)}) {
        Render r(constant(0.25f));
        try {
            r.run(duration, 512);
            ADD_FAILURE() << "no error for " << duration;
        } catch (const NSErrorException& e) {
            EXPECT_EQ(e.error().domain, "AVAudioEngine ext");
            EXPECT_EQ(e.error().code, 1);
            EXPECT_EQ(e.error().localizedDescription, "Seconds needs to be a positive value");
        }
        EXPECT_FALSE(r.engine.avEngine()->isInManualRenderingMode());
        EXPECT_EQ(r.prerenders, 0);
    }
}

TEST(OfflineRender, AFailingNodeThrowsRenderErrorAndLeavesTheEngineRunning) {
    Render r(std::make_shared<SourceNode>([](uint32_t, int64_t) { return 0.0f; }, -1));
    try {
        r.run(0.1, 512);
        ADD_FAILURE() << "no error";
    } catch (const NSErrorException& e) {
        EXPECT_EQ(e.error().localizedDescription, "render error");
        EXPECT_EQ(e.error().domain, "AVAudioEngine ext");
    }
    EXPECT_TRUE(r.engine.avEngine()->isRunning());
    EXPECT_TRUE(r.engine.avEngine()->isInManualRenderingMode());
}

TEST(OfflineRender, ManualRenderingRefusalPassesThrough) {
    Render r(constant(0.25f));
    EXPECT_THROW(r.run(0.1, 0), NSErrorException);
    EXPECT_EQ(r.prerenders, 0);
}

TEST(OfflineRender, SilentTailEndsAfterThreeQuietChunksPastTheTarget) {
    struct Case {
        const char* name;
        std::function<bool(int64_t)> loud;
        AVAudioFramePosition length;
    };
    const std::vector<Case> cases{
        // Tested from the first chunk that reaches the target (3000), then two more.
        {"silent", [](int64_t) { return false; }, 5000},
        // Loud until 6500: the chunk ending at 7000 is loud, three quiet ones follow.
        {"loud past the target", [](int64_t n) { return n < 6500; }, 10000},
        // Two quiet chunks, then a loud one resets the count.
        {"reset", [](int64_t n) { return n < 3000 || (n >= 5000 && n < 6000); }, 9000},
    };
    for (const Case& c : cases) {
        Render r(pattern(c.loud));
        r.run(2500.0 / 44100.0, 1000, true);
        EXPECT_EQ(r.length(), c.length) << c.name;
        ASSERT_GE(r.progress.size(), 3u) << c.name;
        for (size_t i = 2; i < r.progress.size(); ++i) EXPECT_EQ(r.progress[i], 1.0) << c.name;
    }
}
