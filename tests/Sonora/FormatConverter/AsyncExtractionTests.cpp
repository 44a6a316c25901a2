#include "Sonora/AudioFiles/AVAudioFileAsyncExtraction.h"

#include "ConverterFixtures.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using namespace converterfixtures;
using sonora::FormatConverter;
using testsupport::ScratchDir;
namespace fs = std::filesystem;

namespace {

// Runs the asynchronous extraction and waits for its callback.
std::optional<platform::NSError> extractAndWait(const fs::path& source, const fs::path& to, double start, double end,
                                                std::optional<FormatConverter::Options> options = std::nullopt) {
    auto file = platform::AVAudioFile::forReading(source);
    auto delivered = std::make_shared<std::promise<std::optional<platform::NSError>>>();
    sonora::extract(*file, platform::URL(to), start, end, 0, 0, options,
                    [delivered](const std::optional<platform::NSError>& error) { delivered->set_value(error); });
    auto future = delivered->get_future();
    if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        return platform::NSError{"test", 0, "timed out"};
    }
    return future.get();
}

// The temporary file goes after the callback, on the converter's thread: waits (bounded) for that.
bool removedSoon(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fs::exists(path) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !fs::exists(path);
}

}  // namespace

TEST(AsyncExtraction, DefaultOptionsWriteTheSourcesFormatAndRemoveTheTemporaryFile) {
    ScratchDir dir;
    writeTone(dir / "source.wav", 44100, 2, 44100);
    fs::create_directory(dir / "F");
    // With no options the output takes the SOURCE's extension, not the destination's.
    const auto error = extractAndWait(dir / "source.wav", dir / "F" / "out.m4a", 0.25, 0.5);
    EXPECT_FALSE(error) << error->localizedDescription;
    EXPECT_TRUE(fs::exists(dir / "F" / "out.wav"));
    EXPECT_FALSE(fs::exists(dir / "F" / "out.m4a"));
    EXPECT_TRUE(removedSoon(dir / "F" / "out_temp.caf"));
    const auto format = fileDataFormat(dir / "F" / "out.wav");
    EXPECT_EQ(format.mBitsPerChannel, 16u);
    const auto cut = readAll(dir / "F" / "out.wav");
    const auto whole = readAll(dir / "source.wav");
    ASSERT_EQ(cut[0].size(), 11025u);
    for (unsigned c = 0; c < 2; ++c)
        EXPECT_TRUE(std::equal(cut[c].begin(), cut[c].end(), whole[c].begin() + 11025)) << "channel " << c;
}

TEST(AsyncExtraction, OptionsChooseTheFormat) {
    ScratchDir dir;
    writeTone(dir / "source.wav", 44100, 2, 44100);
    FormatConverter::Options m4a;
    m4a.format = "m4a";
    const auto error = extractAndWait(dir / "source.wav", dir / "out.wav", 0, 0, m4a);
    EXPECT_FALSE(error) << error->localizedDescription;
    EXPECT_EQ(fileDataFormat(dir / "out.m4a").mFormatID, platform::kAudioFormatMPEG4AAC);
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
    EXPECT_TRUE(removedSoon(dir / "out_temp.caf"));
}

TEST(AsyncExtraction, AnEmptyRangeFailsBeforeConverting) {
    ScratchDir dir;
    writeTone(dir / "source.wav", 44100, 1, 44100);
    const auto error = extractAndWait(dir / "source.wav", dir / "out.wav", 0.5, 0.25);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription, "Failed to create new file");
    EXPECT_EQ(error->domain, FormatConverter::errorDomain);
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
}
