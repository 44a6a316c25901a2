#include "Sonora/Internals/Settings/Settings.h"

#include <gtest/gtest.h>

using sonora::Settings;
using BufferLength = Settings::BufferLength;

namespace {

// Settings are process-wide: each test puts back what it changed.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        format_ = Settings::audioFormat();
        bufferLength_ = Settings::bufferLength();
        recordingBufferLength_ = Settings::recordingBufferLength();
        flush_ = Settings::flushRecordingOnStop();
        logging_ = Settings::enableLogging();
    }
    void TearDown() override {
        Settings::setAudioFormat(format_);
        Settings::setBufferLength(bufferLength_);
        Settings::setRecordingBufferLength(recordingBufferLength_);
        Settings::setFlushRecordingOnStop(flush_);
        Settings::setEnableLogging(logging_);
    }

private:
    platform::AVAudioFormat format_;
    BufferLength bufferLength_{};
    BufferLength recordingBufferLength_{};
    bool flush_ = false;
    bool logging_ = true;
};

}  // namespace

TEST_F(SettingsTest, FactoryValues) {
    EXPECT_EQ(Settings::sampleRate(), 44100.0);
    EXPECT_EQ(Settings::channelCount(), 2u);
    EXPECT_TRUE(Settings::audioFormat().isStandard());
    EXPECT_FALSE(Settings::audioFormat().isInterleaved());
    EXPECT_EQ(Settings::audioFormat().commonFormat(), platform::AVAudioCommonFormat::pcmFormatFloat32);
    EXPECT_EQ(Settings::audioFormat(), Settings::defaultAudioFormat());
    EXPECT_EQ(Settings::samplesCount(Settings::bufferLength()), 1024u);
    EXPECT_EQ(Settings::recordingBufferLength(), BufferLength::veryLong);
    EXPECT_FALSE(Settings::flushRecordingOnStop());
    EXPECT_TRUE(Settings::enableLogging());
}

TEST_F(SettingsTest, RateAndChannelCountChangeOneAtATime) {
    Settings::setSampleRate(48000);
    EXPECT_EQ(Settings::sampleRate(), 48000.0);
    EXPECT_EQ(Settings::channelCount(), 2u);
    Settings::setChannelCount(1);
    EXPECT_EQ(Settings::sampleRate(), 48000.0);
    EXPECT_EQ(Settings::channelCount(), 1u);
    EXPECT_TRUE(Settings::audioFormat().isStandard());
    // The factory format stays as it was.
    EXPECT_EQ(Settings::defaultAudioFormat().sampleRate(), 44100.0);
}

TEST_F(SettingsTest, ARefusedCombinationGivesAnEmptyFormat) {
    Settings::setChannelCount(0);
    EXPECT_FALSE(Settings::audioFormat().isValid());
    EXPECT_EQ(Settings::audioFormat(), platform::AVAudioFormat());
}

TEST_F(SettingsTest, SettingAFormatStoresItUnchanged) {
    const platform::AVAudioFormat interleaved(platform::AVAudioCommonFormat::pcmFormatInt16, 22050, 2, true);
    Settings::setAudioFormat(interleaved);
    EXPECT_EQ(Settings::audioFormat(), interleaved);
    EXPECT_EQ(Settings::sampleRate(), 22050.0);
}

TEST_F(SettingsTest, BufferLengths) {
    const struct {
        BufferLength length;
        int rawValue;
        uint32_t samples;
    } table[] = {
        {BufferLength::shortest, 5, 32}, {BufferLength::veryShort, 6, 64}, {BufferLength::short_, 7, 128},
        {BufferLength::medium, 8, 256},  {BufferLength::long_, 9, 512},    {BufferLength::veryLong, 10, 1024},
        {BufferLength::huge, 11, 2048},  {BufferLength::longest, 12, 4096},
    };
    size_t index = 0;
    for (const auto& row : table) {
        EXPECT_EQ(Settings::allBufferLengths[index++], row.length);
        EXPECT_EQ(static_cast<int>(row.length), row.rawValue);
        EXPECT_EQ(Settings::samplesCount(row.length), row.samples);
        EXPECT_EQ(Settings::bufferLengthFromRawValue(row.rawValue), row.length);
        EXPECT_EQ(Settings::bufferLengthFromSamplesCount(row.samples), row.length);
    }
    EXPECT_EQ(Settings::bufferLengthFromRawValue(4), std::nullopt);
    EXPECT_EQ(Settings::bufferLengthFromRawValue(13), std::nullopt);
    EXPECT_EQ(Settings::bufferLengthFromSamplesCount(100), std::nullopt);
    EXPECT_EQ(Settings::bufferLengthFromSamplesCount(256), BufferLength::medium);
    EXPECT_DOUBLE_EQ(Settings::duration(BufferLength::veryLong), 1024.0 / 44100.0);
    Settings::setSampleRate(48000);
    EXPECT_DOUBLE_EQ(Settings::duration(BufferLength::veryLong), 1024.0 / 48000.0);
}

TEST_F(SettingsTest, SimpleSwitchesKeepWhatIsSet) {
    Settings::setBufferLength(BufferLength::short_);
    Settings::setRecordingBufferLength(BufferLength::huge);
    Settings::setFlushRecordingOnStop(true);
    Settings::setEnableLogging(false);
    EXPECT_EQ(Settings::bufferLength(), BufferLength::short_);
    EXPECT_EQ(Settings::recordingBufferLength(), BufferLength::huge);
    EXPECT_TRUE(Settings::flushRecordingOnStop());
    EXPECT_FALSE(Settings::enableLogging());
}
