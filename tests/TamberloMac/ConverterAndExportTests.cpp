// The MP3/AAC converter, the export's format dispatch and the export-set rule.
#include "EditorFixtures.h"

#include "Services/Analytics/TrackManager.h"
#include "TamberloMac/Export/ExportController.h"
#include "TamberloMac/Export/ExportSet.h"
#include "TamberloMac/Export/ZRBAudioConverter.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Shell/Localized.h"
#include "platform/audiotoolbox/AudioFile.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tamberlo;
using testsupport::capture;
using testsupport::q;
namespace fs = std::filesystem;

namespace {

std::string probe(const fs::path& path, const std::string& entries) {
    return capture("ffprobe -v error -show_entries " + entries + " -of default=nw=1 " + q(path) + " 2>/dev/null");
}

// The left channel of a file decoded by ffmpeg, as floats at 44100 Hz.
std::vector<float> decodeLeft(const fs::path& path) {
    testsupport::ScratchDir dir;
    const fs::path raw = dir / "decoded.f32";
    if (testsupport::run("ffmpeg -v error -y -i " + q(path) + " -af 'pan=mono|c0=c0' -ar 44100 -f f32le " + q(raw)) != 0)
        return {};
    return testsupport::readFloats(raw);
}

// The best normalised correlation of `decoded` against `reference` over leads of 0...3000 frames.
double bestCorrelation(const std::vector<float>& reference, const std::vector<float>& decoded) {
    double best = 0;
    for (size_t lag = 0; lag <= 3000 && lag < decoded.size(); ++lag) {
        const size_t n = std::min(reference.size(), decoded.size() - lag);
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 0; i < n; ++i) {
            xy += double(reference[i]) * decoded[i + lag];
            xx += double(reference[i]) * reference[i];
            yy += double(decoded[i + lag]) * decoded[i + lag];
        }
        if (xx > 0 && yy > 0) best = std::max(best, xy / std::sqrt(xx * yy));
    }
    return best;
}

std::vector<float> leftOf(const fs::path& wav) {
    uint32_t channels = 0;
    const auto samples = editortest::readSamples(wav, &channels);
    std::vector<float> left;
    for (size_t i = 0; i < samples.size(); i += channels) left.push_back(samples[i]);
    return left;
}

bool convertWith(const fs::path& in, const fs::path& out, uint32_t type, uint32_t format, int32_t channels = 0) {
    ZRBAudioConverter converter;
    converter.inputFile = in.string();
    converter.outputFile = out.string();
    converter.outputFileType = type;
    converter.outputFormatID = format;
    converter.outputNumberChannels = channels;
    testing::internal::CaptureStdout();
    const bool result = converter.convert();
    testing::internal::GetCapturedStdout();
    return result;
}

}  // namespace

TEST(ZRBAudioConverter, Mp3CarriesAVbrTagAndTheSignal) {
    if (!testsupport::haveTool("ffprobe") || !testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    testsupport::ScratchDir dir;
    struct Case {
        uint16_t channels;
        std::string layout;
    };
    for (const Case& c : {Case{2, "channels=2"}, Case{1, "channels=1"}}) {
        const fs::path in = dir / ("sine" + std::to_string(c.channels) + ".wav");
        const fs::path out = dir / ("sine" + std::to_string(c.channels) + ".mp3");
        editortest::writeSine(in, 88200, c.channels);
        ASSERT_TRUE(convertWith(in, out, platform::kAudioFileMP3Type, platform::kAudioFormatMPEGLayer3, c.channels));
        EXPECT_EQ(probe(out, "stream=codec_name,sample_rate,channels"),
                  "codec_name=mp3\nsample_rate=44100\n" + c.layout + "\n");
        const std::string head = testsupport::readFile(out).substr(0, 1200);
        EXPECT_TRUE(head.find("Xing") != std::string::npos || head.find("Info") != std::string::npos);
        EXPECT_NE(head.find("LAME"), std::string::npos);
        EXPECT_GE(bestCorrelation(leftOf(in), decodeLeft(out)), 0.99) << c.channels;
    }
}

TEST(ZRBAudioConverter, AacIsWrittenInAnMpeg4File) {
    if (!testsupport::haveTool("ffprobe") || !testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    testsupport::ScratchDir dir;
    editortest::writeSine(dir / "sine.wav", 88200);
    ASSERT_TRUE(convertWith(dir / "sine.wav", dir / "out.aac", platform::kAudioFileMPEG4Type, platform::kAudioFormatMPEG4AAC));
    EXPECT_NE(probe(dir / "out.aac", "format=format_name").find("mp4"), std::string::npos);
    EXPECT_EQ(probe(dir / "out.aac", "stream=codec_name,sample_rate,channels"),
              "codec_name=aac\nsample_rate=44100\nchannels=2\n");
    EXPECT_GE(bestCorrelation(leftOf(dir / "sine.wav"), decodeLeft(dir / "out.aac")), 0.99);
}

TEST(ZRBAudioConverter, WithoutTypeAndFormatWritesSixteenBitCaf) {
    testsupport::ScratchDir dir;
    editortest::writeWav16(dir / "in.wav", 48000, 1, 4800, [](uint32_t f, uint16_t) { return int16_t(f % 100); });
    ASSERT_TRUE(convertWith(dir / "in.wav", dir / "out.caf", 0, 0));
    auto file = platform::AVAudioFile::forReading(platform::URL(dir / "out.caf"));
    EXPECT_EQ(file->fileFormat().sampleRate(), 44100);
    EXPECT_EQ(file->fileFormat().channelCount(), 2u);
    EXPECT_EQ(file->fileFormat().streamDescription().mBitsPerChannel, 16u);
    EXPECT_NEAR(double(file->length()), 4410, 2);
}

TEST(ZRBAudioConverter, ReportsEveryFailure) {
    testsupport::ScratchDir dir;
    editortest::writeSine(dir / "sine.wav", 4410);
    testsupport::writeFile(dir / "text.wav", "not audio\n");
    const fs::path missingFolder = dir / "no" / "such" / "folder";
    struct Case {
        std::string name;
        fs::path in, out;
        uint32_t type, format;
        int32_t channels;
    };
    const uint32_t mp4 = platform::kAudioFileMPEG4Type, aac = platform::kAudioFormatMPEG4AAC;
    const uint32_t mpg3 = platform::kAudioFileMP3Type, mp3 = platform::kAudioFormatMPEGLayer3;
    const std::vector<Case> cases{
        {"no input path", "", dir / "a.caf", 0, 0, 0},
        {"no output path", dir / "sine.wav", "", 0, 0, 0},
        {"refused pair", dir / "sine.wav", dir / "b.wav", platform::kAudioFileWAVEType, platform::FourCC("alac"), 0},
        {"missing input", dir / "missing.wav", dir / "c.caf", 0, 0, 0},
        {"text input", dir / "text.wav", dir / "d.mp3", mpg3, mp3, 0},
        {"caf into a missing folder", dir / "sine.wav", missingFolder / "e.caf", 0, 0, 0},
        {"aac into a missing folder", dir / "sine.wav", missingFolder / "f.aac", mp4, aac, 0},
        {"mp3 into a missing folder", dir / "sine.wav", missingFolder / "g.mp3", mpg3, mp3, 0},
        {"mp3 with three channels", dir / "sine.wav", dir / "h.mp3", mpg3, mp3, 3},
        {"file type it cannot write", dir / "sine.wav", dir / "i.sd2", platform::FourCC("Sd2f"), 0, 0},
    };
    for (const auto& c : cases) EXPECT_FALSE(convertWith(c.in, c.out, c.type, c.format, c.channels)) << c.name;
    EXPECT_FALSE(fs::exists(dir / "b.wav"));
}

TEST(ZRBAudioConverter, FormatDump) {
    platform::AudioStreamBasicDescription format{44100, platform::kAudioFormatLinearPCM, 12, 4, 1, 4, 2, 16, 0};
    const std::string text = ZRBAudioConverter::descriptionForAudioFormat(format);
    EXPECT_NE(text.find("Sample Rate:              44100 \n"), std::string::npos);
    EXPECT_NE(text.find("Format ID:                 lpcm \n"), std::string::npos);
    EXPECT_EQ(ZRBAudioConverter::descriptionForStandardFlags(12),
              "kAudioFormatFlagIsSignedInteger \nkAudioFormatFlagIsPacked \nkLinearPCMFormatFlagIsSignedInteger \n"
              "kLinearPCMFormatFlagIsPacked \nkLinearPCMFormatFlagsSampleFractionShift \n"
              "kAppleLosslessFormatFlag_32BitSourceData \n");
}

namespace {

struct DispatchRun {
    bool finished = false;
    bool success = false;
    int done = 0;
    int dismissed = 0;
};

DispatchRun runExport(const fs::path& render, const std::optional<fs::path>& destination, const std::string& format) {
    auto controller = ExportController::make();
    DispatchRun run;
    controller->renderFile = platform::AVAudioFile::forReading(platform::URL(render));
    if (destination) controller->saveUrl = platform::URL(*destination);
    controller->formatChanged(format);
    controller->conversionFinishedBlock = [&run](bool success) {
        run.finished = true;
        run.success = success;
    };
    controller->doneBlock = [&run] { ++run.done; };
    controller->dismissBlock = [&run] { ++run.dismissed; };
    testing::internal::CaptureStdout();
    controller->convertFormat();
    editortest::spinUntil([&] { return run.finished; }, 30);
    if (run.success) editortest::spinUntil([&] { return run.done > 0; });
    testing::internal::GetCapturedStdout();
    return run;
}

}  // namespace

TEST(ExportController, FormatChangedSetsTheFormatsOptions) {
    auto controller = ExportController::make();
    controller->formatChanged("wav");
    controller->formatChanged("m4a");
    EXPECT_EQ(controller->options.format, "m4a");
    EXPECT_EQ(controller->options.sampleRate, 44100);
    EXPECT_EQ(controller->options.channels, 2u);
    EXPECT_EQ(controller->options.bitRate(), 192000u);
    EXPECT_EQ(controller->options.bitDepth, 16u);  // kept from "wav"
    controller->formatChanged(std::nullopt);
    EXPECT_EQ(controller->options.format, "m4a");
}

TEST(ExportController, ConvertsTheRenderIntoEveryFormat) {
    if (!testsupport::haveTool("ffprobe")) GTEST_SKIP() << "needs ffprobe";
    setPreferredLanguagesForTesting(std::vector<std::string>{"zh-Hans-CN"});
    TrackManager::shareInstance().reset();
    TrackManager::initialWithLaunchOptions();
    testsupport::ScratchDir dir;
    editortest::writeSine(dir / "sine.wav", 44100);
    ASSERT_TRUE(convertWith(dir / "sine.wav", dir / "00001.caf", 0, 0));  // the render: 44100 Hz, 16-bit, stereo CAF

    const std::vector<std::pair<std::string, std::string>> cases{
        {"wav", "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\n"},
        {"caf", "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\n"},
        {"m4a", "codec_name=aac\nsample_rate=44100\nchannels=2\n"},
        {"aac", "codec_name=aac\nsample_rate=44100\nchannels=2\n"},
        {"mp3", "codec_name=mp3\nsample_rate=44100\nchannels=2\n"},
    };
    for (const auto& [format, streams] : cases) {
        HUD::clearRequests();
        TrackManager::shareInstance().clearEvents();
        const fs::path out = dir / ("20240101120000." + format);
        const DispatchRun run = runExport(dir / "00001.caf", out, format);
        EXPECT_TRUE(run.success) << format;
        EXPECT_EQ(run.done, 1) << format;
        EXPECT_EQ(run.dismissed, 1) << format;
        EXPECT_EQ(probe(out, "stream=codec_name,sample_rate,channels"), streams) << format;
        EXPECT_EQ(HUD::requests(), (std::vector<HUD::Message>{{HUD::Kind::progress, "格式转换中..."},
                                                              {HUD::Kind::success, "导出成功"}}))
            << format;
        std::vector<std::string> steps;
        for (const auto& event : TrackManager::shareInstance().events())
            if (event.name == "Complete_Export") steps.push_back(event.text("step_name"));
        EXPECT_EQ(steps, (std::vector<std::string>{"export_format", "export_convert", "export_success"})) << format;
    }
    EXPECT_NE(probe(dir / "20240101120000.aac", "format=format_name").find("mp4"), std::string::npos);
    EXPECT_EQ(probe(dir / "20240101120000.m4a", "format_tags=major_brand"), "TAG:major_brand=M4A \n");
    const std::string bitRate = probe(dir / "20240101120000.m4a", "stream=bit_rate");
    EXPECT_NEAR(std::stod(bitRate.substr(bitRate.find('=') + 1)), 192000, 30000);
    setPreferredLanguagesForTesting(std::nullopt);
}

TEST(ExportController, AFailedConversionSaysSoAndCanBeRepeated) {
    setPreferredLanguagesForTesting(std::vector<std::string>{"zh-CN"});
    testsupport::ScratchDir dir;
    editortest::writeSine(dir / "render.wav", 4410);
    for (const std::string format : {"wav", "m4a", "aac", "mp3"}) {
        HUD::clearRequests();
        const DispatchRun failed = runExport(dir / "render.wav", dir / "missing" / ("x." + format), format);
        EXPECT_TRUE(failed.finished) << format;
        EXPECT_FALSE(failed.success) << format;
        EXPECT_EQ(failed.done, 0) << format;
        const auto requests = HUD::requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.back(), (HUD::Message{HUD::Kind::error, "导出失败"})) << format;

        const DispatchRun again = runExport(dir / "render.wav", dir / ("x." + format), format);
        EXPECT_TRUE(again.success) << format;
    }
    const DispatchRun nowhere = runExport(dir / "render.wav", std::nullopt, "wav");
    EXPECT_TRUE(nowhere.finished);
    EXPECT_FALSE(nowhere.success);
    setPreferredLanguagesForTesting(std::nullopt);
}

TEST(ExportSet, SoloWinsUnlessMutedOtherwiseEveryUnmutedTrack) {
    struct Flags {
        bool mute, solo;
    };
    struct Case {
        std::vector<Flags> tracks;
        std::vector<size_t> expected;
    };
    const std::vector<Case> cases{
        {{{false, false}, {false, false}}, {0, 1}},
        {{{false, false}, {true, false}}, {0}},
        {{{false, false}, {false, true}}, {1}},
        {{{false, false}, {true, true}}, {}},
        {{{false, true}, {false, true}}, {0}},
        {{{true, true}, {false, true}}, {}},
        {{{true, false}, {true, false}}, {}},
        {{}, {}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<std::shared_ptr<TrackModel>> tracks;
        for (const auto& flags : cases[i].tracks) {
            auto track = TrackModel::make();
            track->isMute = flags.mute;
            track->isOnlyPlay = flags.solo;
            tracks.push_back(track);
        }
        std::vector<std::shared_ptr<TrackModel>> expected;
        for (size_t index : cases[i].expected) expected.push_back(tracks[index]);
        EXPECT_EQ(exportSet(tracks), expected) << "case " << i;
    }
}
