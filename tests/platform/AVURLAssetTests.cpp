// Probing media files for their audio tracks and the formats of those tracks.
#include "platform/avfoundation/AVURLAsset.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using testsupport::haveTool;
using testsupport::q;
using testsupport::run;
using testsupport::ScratchDir;

namespace {

std::vector<AudioStreamBasicDescription> audioFormats(const std::filesystem::path& path) {
    std::vector<AudioStreamBasicDescription> found;
    for (const AVAssetTrack& track : AVURLAsset(path).tracks(AVMediaType::audio)) {
        EXPECT_EQ(track.mediaType(), AVMediaType::audio);
        EXPECT_EQ(track.formatDescriptions().size(), 1u);
        for (const CMAudioFormatDescription& d : track.formatDescriptions())
            found.push_back(*CMAudioFormatDescriptionGetStreamBasicDescription(d));
    }
    return found;
}

}  // namespace

TEST(AVURLAssetTests, AudioFileHasOneTrackWithItsOnDiskFormat) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    ASSERT_EQ(run("sox -n -r 48000 -c 2 -b 24 " + q(dir / "a.wav") + " synth 0.5 sine 440"), 0);
    const auto formats = audioFormats(dir / "a.wav");
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].mFormatID, kAudioFormatLinearPCM);
    EXPECT_EQ(formats[0].mSampleRate, 48000);
    EXPECT_EQ(formats[0].mChannelsPerFrame, 2u);
    EXPECT_EQ(formats[0].mBitsPerChannel, 24u);
    EXPECT_TRUE(formats[0].mFormatFlags & kAudioFormatFlagIsSignedInteger);
    EXPECT_TRUE(AVURLAsset(dir / "a.wav").tracks(AVMediaType::video).empty());
}

TEST(AVURLAssetTests, MovieGivesOnlyItsAudioTracksInContainerOrder) {
    if (!haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    ScratchDir dir;
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration=1:size=64x48:rate=10 "
                  "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 "
                  "-f lavfi -i sine=frequency=660:sample_rate=48000:duration=1 "
                  "-map 0 -map 1 -map 2 -c:v mpeg4 -c:a aac -ac:a:1 2 " + q(dir / "movie.mp4")),
              0);
    const auto formats = audioFormats(dir / "movie.mp4");
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].mFormatID, kAudioFormatMPEG4AAC);
    EXPECT_EQ(formats[0].mSampleRate, 22050);
    EXPECT_EQ(formats[0].mChannelsPerFrame, 1u);
    EXPECT_EQ(formats[0].mFramesPerPacket, 1024u);
    EXPECT_EQ(formats[1].mSampleRate, 48000);
    EXPECT_EQ(formats[1].mChannelsPerFrame, 2u);
}

TEST(AVURLAssetTests, UnreadableFilesHaveNoTracks) {
    ScratchDir dir;
    testsupport::writeFile(dir / "notes.m4a", "not a movie at all\n");
    EXPECT_TRUE(AVURLAsset(dir / "notes.m4a").tracks(AVMediaType::audio).empty());
    EXPECT_TRUE(AVURLAsset(dir / "missing.m4a").tracks(AVMediaType::audio).empty());
    EXPECT_TRUE(AVURLAsset(dir.path()).tracks(AVMediaType::audio).empty());
    if (!haveTool("ffmpeg")) return;
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration=1:size=64x48:rate=10 -c:v mpeg4 " +
                  q(dir / "silent.mp4")),
              0);
    EXPECT_TRUE(AVURLAsset(dir / "silent.mp4").tracks(AVMediaType::audio).empty());
}
