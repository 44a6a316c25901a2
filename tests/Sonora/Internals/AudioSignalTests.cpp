#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/AudioSignal.h"
#include "platform/foundation/OSLog.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace LogSink = platform::LogSink;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

void put(std::string& bytes, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += char((value >> (8 * i)) & 0xFF);
}

// A 16-bit PCM WAV file with interleaved frames.
std::string wav(const std::vector<int16_t>& interleaved, int channels, int rate) {
    const uint32_t dataSize = uint32_t(interleaved.size() * 2);
    std::string bytes = "RIFF";
    put(bytes, 36 + dataSize, 4);
    bytes += "WAVEfmt ";
    put(bytes, 16, 4);
    put(bytes, 1, 2);
    put(bytes, uint32_t(channels), 2);
    put(bytes, uint32_t(rate), 4);
    put(bytes, uint32_t(rate * channels * 2), 4);
    put(bytes, uint32_t(channels * 2), 2);
    put(bytes, 16, 2);
    bytes += "data";
    put(bytes, dataSize, 4);
    for (const int16_t s : interleaved) put(bytes, uint16_t(s), 2);
    return bytes;
}

bool loggedError(const std::string& text) {
    for (const auto& entry : LogSink::entries())
        if (entry.type == platform::OSLogType::error && entry.message.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(AudioSignal, LoadsTheFirstChannelWithRateAndLength) {
    ScratchDir dir;
    // Left: 0, 0.5, -0.5; right: full scale, to tell the channels apart.
    writeFile(dir / "stereo.wav", wav({0, 32767, 16384, 32767, -16384, 32767}, 2, 22050));
    const auto loaded = sonora::loadAudioSignal(dir / "stereo.wav");
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->rate, 22050.0);
    EXPECT_EQ(loaded->frameCount, 3);
    ASSERT_EQ(loaded->signal.size(), 3u);
    EXPECT_FLOAT_EQ(loaded->signal[0], 0.0f);
    EXPECT_NEAR(loaded->signal[1], 0.5f, 1e-4f);
    EXPECT_NEAR(loaded->signal[2], -0.5f, 1e-4f);
}

TEST(AudioSignal, AFileThatCannotBeOpenedGivesNoneAndAnError) {
    const bool logging = sonora::Settings::enableLogging();
    sonora::Settings::setEnableLogging(true);
    ScratchDir dir;
    writeFile(dir / "not-audio.wav", "this is text, not sound");
    for (const auto& path : {dir / "missing.wav", dir / "not-audio.wav"}) {
        LogSink::clear();
        EXPECT_EQ(sonora::loadAudioSignal(path), std::nullopt);
        EXPECT_TRUE(loggedError("Error in Load Audio Signal: could not read url into audio file"));
    }
    sonora::Settings::setEnableLogging(logging);
}
