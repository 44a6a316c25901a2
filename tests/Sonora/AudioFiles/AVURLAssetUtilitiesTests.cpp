#include "Sonora/AudioFiles/AVURLAssetUtilities.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

using platform::AVAudioCommonFormat;
using platform::AVURLAsset;
using testsupport::q;
using testsupport::run;
using testsupport::ScratchDir;

TEST(AssetAudioFormat, APlainAudioFileGivesItsOnDiskFormat) {
    if (!testsupport::haveTool("sox")) GTEST_SKIP() << "sox missing";
    ScratchDir dir;
    ASSERT_EQ(run("sox -n -r 22050 -c 2 -b 16 " + q(dir / "a.wav") + " synth 0.1 sine 440"), 0);
    const auto format = sonora::audioFormat(AVURLAsset(dir / "a.wav"));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->commonFormat(), AVAudioCommonFormat::pcmFormatInt16);
    EXPECT_EQ(format->sampleRate(), 22050);
    EXPECT_EQ(format->channelCount(), 2u);
}

TEST(AssetAudioFormat, NothingWithoutAudio) {
    ScratchDir dir;
    testsupport::writeFile(dir / "text.m4a", "not a movie\n");
    EXPECT_FALSE(sonora::audioFormat(AVURLAsset(dir / "text.m4a")));
    EXPECT_FALSE(sonora::audioFormat(AVURLAsset(dir / "missing.mp4")));
    if (testsupport::haveTool("ffmpeg")) {
        ASSERT_EQ(run("ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=0.2:size=64x48:rate=10 -c:v mpeg4 " +
                      q(dir / "video.mp4")),
                  0);
        EXPECT_FALSE(sonora::audioFormat(AVURLAsset(dir / "video.mp4")));
    }
}
