#include "Sonora/AudioFiles/AVAudioFileUtilities.h"

#include "BufferFixtures.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

using fixtures::at;
using fixtures::floatBuffer;
using fixtures::logged;
using platform::AVAudioFile;
using platform::AVAudioPCMBuffer;
using platform::OSLogType;
using testsupport::ScratchDir;

namespace {

constexpr double kRate = 8000;
constexpr uint32_t kFrames = 4000;

std::shared_ptr<AVAudioPCMBuffer> signal() {
    return floatBuffer(2, kRate, kFrames,
                       [](unsigned c, uint32_t i) { return float(std::sin(0.01 * i + c)) * (c ? 0.5f : 0.25f); });
}

// A stereo float CAF of kFrames frames, written and closed.
std::filesystem::path writeSignal(const ScratchDir& dir, const std::string& name = "signal.caf") {
    sonora::makeAudioFile(dir / name, *signal());
    return dir / name;
}

bool sonoraLoggedNothing() {
    for (const auto& entry : platform::LogSink::entries())
        if (entry.subsystem == "io.tamberlo.Sonora") return false;
    return true;
}

}  // namespace

TEST(AudioFileRead, ReadsTheWholeFileFromFrameZeroIntoIndependentBuffers) {
    ScratchDir dir;
    const auto file = AVAudioFile::forReading(writeSignal(dir));
    platform::LogSink::clear();
    const auto first = sonora::toAVAudioPCMBuffer(*file);
    ASSERT_TRUE(first);
    EXPECT_TRUE(sonoraLoggedNothing()) << "one read is one buffer: no log line of its own";
    EXPECT_EQ(first->format(), file->processingFormat());
    EXPECT_EQ(first->frameLength(), kFrames);
    EXPECT_EQ(sonora::toFloatChannelData(*first), sonora::toFloatChannelData(*signal())) << "float data is stored unchanged";

    // The first read left the position at the end; the second still reads everything.
    const auto second = sonora::toAVAudioPCMBuffer(*file);
    ASSERT_TRUE(second);
    EXPECT_EQ(sonora::toFloatChannelData(*second), sonora::toFloatChannelData(*first));
    first->floatChannelData()[0][0] = 7;
    EXPECT_NE(at(*second, 0, 0), 7.0f);
}

TEST(AudioFileRead, ChannelArraysAndPeakOfAFile) {
    ScratchDir dir;
    const auto file = AVAudioFile::forReading(writeSignal(dir));
    const auto channels = sonora::floatChannelData(*file);
    ASSERT_TRUE(channels);
    ASSERT_EQ(channels->size(), 2u);
    EXPECT_EQ((*channels)[0].size(), kFrames);
    EXPECT_EQ((*channels)[1].size(), kFrames);
    const auto loudest = sonora::peak(*file);
    ASSERT_TRUE(loudest);
    EXPECT_NEAR(loudest->amplitude, 0.5, 1e-3);
}

TEST(AudioFileRead, AFileThatCannotBeReadGivesNothing) {
    ScratchDir dir;
    // A file open for writing refuses reads.
    const auto writer = AVAudioFile::forWriting(dir / "w.caf", signal()->format().settings());
    platform::LogSink::clear();
    EXPECT_FALSE(sonora::floatChannelData(*writer));
    EXPECT_FALSE(sonora::peak(*writer));
    EXPECT_TRUE(logged("Cannot read into buffer ", "fileHandling", OSLogType::error));

    platform::LogSink::clear();
    EXPECT_FALSE(sonora::extract(*writer, dir / "x.caf", 0, 0));
    EXPECT_TRUE(logged("Error reading into input buffer", "general", OSLogType::error));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.caf"));
}

TEST(AudioFileWrite, AMissingFolderThrowsThePlatformErrorAndLogsNothing) {
    ScratchDir dir;
    platform::LogSink::clear();
    EXPECT_THROW(sonora::makeAudioFile(dir / "no" / "such" / "a.caf", *signal()), platform::NSErrorException);
    EXPECT_TRUE(sonoraLoggedNothing());
}

TEST(AudioFileBuffer, MakesABufferFromAFileOrAUrl) {
    ScratchDir dir;
    const auto path = writeSignal(dir);
    const auto fromUrl = sonora::makeBuffer(platform::URL(path));
    ASSERT_TRUE(fromUrl);
    EXPECT_EQ(fromUrl->frameLength(), kFrames);
    const auto file = AVAudioFile::forReading(path);
    file->setFramePosition(100);
    const auto fromFile = sonora::makeBuffer(*file);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(sonora::toFloatChannelData(*fromFile), sonora::toFloatChannelData(*fromUrl));

    testsupport::writeFile(dir / "text.wav", "this is not audio\n");
    EXPECT_NO_THROW(EXPECT_FALSE(sonora::makeBuffer(platform::URL(dir / "text.wav"))));
    EXPECT_FALSE(sonora::makeBuffer(platform::URL(dir / "missing.wav")));
}

TEST(AudioFileExtract, WritesTheRangeAsCafWithTheSourceSamples) {
    struct Case {
        std::string destination, written;
        double start, end;
        uint32_t firstFrame, frames;
    } cases[] = {
        {"clip.wav", "clip.caf", 0, 0, 0, kFrames},  // 0 to 0 is the whole file
        {"clip.CAF", "clip.CAF", 0.125, 0.25, 1000, 1000},
        {"clip", "clip.caf", 0.2, 0, 1600, kFrames - 1600},
    };
    ScratchDir dir;
    const auto source = AVAudioFile::forReading(writeSignal(dir));
    const auto expected = signal();
    for (const Case& c : cases) {
        auto written = sonora::extract(*source, dir / c.destination, c.start, c.end);
        ASSERT_TRUE(written) << c.destination;
        EXPECT_EQ(written->url().lastPathComponent(), c.written);
        written.reset();  // complete on disk once released
        const auto back = sonora::makeBuffer(platform::URL(dir / c.written));
        ASSERT_TRUE(back) << c.written;
        EXPECT_EQ(back->frameLength(), c.frames) << c.destination;
        for (unsigned ch = 0; ch < 2; ++ch)
            for (uint32_t i = 0; i < back->frameLength(); ++i)
                ASSERT_EQ(at(*back, ch, i), at(*expected, ch, c.firstFrame + i)) << c.destination << " frame " << i;
    }
}

TEST(AudioFileExtract, EndTimeOfWholeFramesKeepsTheLastFrame) {
    // 15 / 44100 × 44100 is just below 15: the range must still hold 15 frames.
    ScratchDir dir;
    const auto buffer = floatBuffer(1, 44100, 100, [](unsigned, uint32_t i) { return float(i); });
    sonora::makeAudioFile(dir / "s.caf", *buffer);
    const auto source = AVAudioFile::forReading(dir / "s.caf");
    sonora::extract(*source, dir / "r.caf", 0, 15.0 / 44100);
    const auto back = sonora::makeBuffer(platform::URL(dir / "r.caf"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->frameLength(), 15u);
}

TEST(AudioFileExtract, FadesShapeTheRangeExponentially) {
    ScratchDir dir;
    const auto ones = floatBuffer(1, kRate, 800, [](unsigned, uint32_t) { return 1.0f; });
    sonora::makeAudioFile(dir / "ones.caf", *ones);
    const auto source = AVAudioFile::forReading(dir / "ones.caf");
    sonora::extract(*source, dir / "faded.caf", 0, 0, 0.01, 0.01);  // 80-frame regions
    const auto back = sonora::makeBuffer(platform::URL(dir / "faded.caf"));
    ASSERT_TRUE(back);
    EXPECT_NEAR(at(*back, 0, 0), 0.01 * std::exp(std::log(100.0) / 80), 1e-6);
    EXPECT_EQ(at(*back, 0, 400), 1.0f);
    EXPECT_LT(at(*back, 0, 799), 0.01f);
}

TEST(AudioFileExtract, FailsWithoutWritingForAnEmptyOrInvalidRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ScratchDir dir;
    const auto source = AVAudioFile::forReading(writeSignal(dir));
    for (auto [start, end] : {std::pair{0.3, 0.2}, {0.25, 0.25}, {nan, 0.5}, {-3.0, 0.5}, {0.0, 1e9}, {0.6, 0.7}}) {
        platform::LogSink::clear();
        EXPECT_FALSE(sonora::extract(*source, dir / "out.caf", start, end)) << start << " " << end;
        EXPECT_TRUE(logged("Failed to create edited buffer", "general", OSLogType::error));
        EXPECT_FALSE(std::filesystem::exists(dir / "out.caf"));
    }

    platform::LogSink::clear();
    EXPECT_FALSE(sonora::extract(*source, dir / "missing" / "out.wav", 0, 0));
    EXPECT_TRUE(logged("Failed to write new file at file://" + (dir / "missing" / "out.caf").string(), "general",
                       OSLogType::error));
}
