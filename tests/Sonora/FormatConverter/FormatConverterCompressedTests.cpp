#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include "ConverterFixtures.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

using namespace converterfixtures;
using sonora::FormatConverter;
using testsupport::q;
using testsupport::ScratchDir;
namespace fs = std::filesystem;

namespace {

// "key=value" lines of ffprobe for the first audio stream.
std::string probe(const fs::path& path, const std::string& entries) {
    return testsupport::capture("ffprobe -v error -select_streams a:0 -show_entries stream=" + entries +
                                " -of default=nw=1 " + q(path));
}

}  // namespace

TEST(FormatConverterCompressed, AACSettingsFollowTheOptionsAndTheSource) {
    if (!testsupport::haveTool("ffprobe")) GTEST_SKIP() << "needs ffprobe";
    ScratchDir dir;
    writeTone(dir / "stereo.wav", 44100, 2, 441000);
    writeTone(dir / "mono.wav", 44100, 1, 441000);
    writeTone(dir / "hi.wav", 96000, 2, 96000 * 5);
    FormatConverter::Options at192;
    at192.setBitRate(192000);
    const struct {
        const char* in;
        std::optional<FormatConverter::Options> options;
        const char* rate;
        const char* channels;
        double bitRate;
    } cases[] = {
        {"stereo.wav", at192, "44100", "2", 192000},
        {"mono.wav", std::nullopt, "44100", "1", 64000},  // half the default for one channel
        {"hi.wav", std::nullopt, "48000", "2", 128000},   // AAC at no more than 48 kHz
    };
    for (const auto& c : cases) {
        const fs::path out = dir / (std::string(c.in) + ".m4a");
        const Outcome outcome = convert(dir / c.in, out, c.options);
        ASSERT_FALSE(outcome.error) << c.in << ": " << outcome.message();
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_FALSE(outcome.beforeStartReturned) << "the transfer finishes on another thread";
        const std::string info = probe(out, "codec_name,sample_rate,channels,bit_rate");
        EXPECT_NE(info.find("codec_name=aac"), std::string::npos) << info;
        EXPECT_NE(info.find(std::string("sample_rate=") + c.rate), std::string::npos) << c.in << "\n" << info;
        EXPECT_NE(info.find(std::string("channels=") + c.channels), std::string::npos) << c.in << "\n" << info;
        const auto at = info.find("bit_rate=");
        ASSERT_NE(at, std::string::npos) << info;
        EXPECT_NEAR(std::stod(info.substr(at + 9)), c.bitRate, c.bitRate * 0.05) << c.in;
    }
}

TEST(FormatConverterCompressed, CompressedInputGoesThroughATemporaryWAV) {
    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "needs ffmpeg to make an MP3";
    ScratchDir dir;
    writeTone(dir / "src.wav", 44100, 2, 44100 * 2);
    ASSERT_EQ(testsupport::run("ffmpeg -v error -i " + q(dir / "src.wav") + " -c:a libmp3lame -b:a 128k " + q(dir / "b.mp3")),
              0);
    fs::create_directory(dir / "out");
    const Outcome outcome = convert(dir / "b.mp3", dir / "out" / "a.m4a");
    ASSERT_FALSE(outcome.error) << outcome.message();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(fs::directory_iterator(dir / "out")->path().filename(), "a.m4a") << "a_TEMP.wav is gone";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);
    auto file = platform::AVAudioFile::forReading(dir / "out" / "a.m4a");
    EXPECT_NEAR(double(file->length()), 88200, 1200);

    // A decoding failure names the step and leaves nothing behind.
    testsupport::writeFile(dir / "bad.mp3", std::string(3000, '\x11'));
    const Outcome failed = convert(dir / "bad.mp3", dir / "out" / "c.m4a");
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.calls, 1);
    EXPECT_EQ(failed.error->localizedDescription.rfind("Failed to convert input to PCM: ", 0), 0u) << failed.message();
    EXPECT_FALSE(fs::exists(dir / "out" / "c.m4a"));
    EXPECT_FALSE(fs::exists(dir / "out" / "c_TEMP.wav"));
}

TEST(FormatConverterCompressed, AReaderFailureMidwayCancelsTheWriterAndRemovesTheOutput) {
    ScratchDir dir;
    // Long enough that the transfer is still running when the input is cut short under it.
    writeTone(dir / "long.wav", 44100, 2, 44100 * 120);
    const auto size = fs::file_size(dir / "long.wav");
    auto converter = std::make_shared<FormatConverter>(platform::URL(dir / "long.wav"), platform::URL(dir / "out.m4a"));
    struct {
        std::mutex mutex;
        std::condition_variable done;
        int calls = 0;
        std::optional<platform::NSError> error;
    } result;
    converter->start([&](const std::optional<platform::NSError>& error) {
        std::lock_guard lock(result.mutex);
        if (++result.calls == 1) result.error = error;
        result.done.notify_all();
    });
    fs::resize_file(dir / "long.wav", size / 10);
    {
        std::unique_lock lock(result.mutex);
        ASSERT_TRUE(result.done.wait_for(lock, std::chrono::seconds(60), [&] { return result.calls > 0; }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard lock(result.mutex);
    EXPECT_EQ(result.calls, 1);
    ASSERT_TRUE(result.error) << "the reader's failure reaches the handler";
    EXPECT_NE(result.error->domain, FormatConverter::errorDomain) << "the reader's own error is handed on";
    EXPECT_FALSE(fs::exists(dir / "out.m4a"));
}
