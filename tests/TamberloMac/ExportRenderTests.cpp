// The export's mix-down, driven as the window drives it: an EditorDocument arranges clips, picks
// the export set and saves to a format; the files are checked sample by sample and with outside tools.
#include "EditorFixtures.h"

#include "TamberloMac/Document/EditorDocument.h"
#include "TamberloMac/Export/ExportController.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Shell/Localized.h"
#include "platform/foundation/FileManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <set>

using namespace tamberlo;
using testsupport::capture;
using testsupport::q;
namespace fs = std::filesystem;

namespace {

fs::path documents() { return platform::FileManager::defaultManager().documentDirectoryURL().filePath(); }

std::string probe(const fs::path& path, const std::string& entries) {
    return capture("ffprobe -v error -show_entries " + entries + " -of default=nw=1 " + q(path) + " 2>/dev/null");
}

// Samples as 16-bit values, one vector per channel.
std::vector<std::vector<int>> channelsOf(const fs::path& path) {
    uint32_t channels = 0;
    const auto samples = editortest::readSamples(path, &channels);
    std::vector<std::vector<int>> out(channels);
    for (size_t i = 0; i < samples.size(); ++i) out[i % channels].push_back(int(std::lround(samples[i] * 32768.0)));
    return out;
}

// The largest difference between a channel and the expected values.
int worstDifference(const std::vector<int>& channel, const std::vector<int>& expected) {
    if (channel.size() != expected.size()) return std::numeric_limits<int>::max();
    int worst = 0;
    for (size_t i = 0; i < channel.size(); ++i) worst = std::max(worst, std::abs(channel[i] - expected[i]));
    return worst;
}

// The left channel of a file decoded by ffmpeg at 44100 Hz.
std::vector<float> decodeLeft(const fs::path& path) {
    testsupport::ScratchDir dir;
    const fs::path raw = dir / "decoded.f32";
    if (testsupport::run("ffmpeg -v error -y -i " + q(path) + " -af 'pan=mono|c0=c0' -ar 44100 -f f32le " + q(raw)) != 0)
        return {};
    return testsupport::readFloats(raw);
}

double correlationAt(const std::vector<float>& reference, const std::vector<float>& decoded, long lag, size_t from,
                     size_t count) {
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = from; i < from + count && i < reference.size(); ++i) {
        const long j = long(i) + lag;
        if (j < 0 || size_t(j) >= decoded.size()) continue;
        xy += double(reference[i]) * decoded[size_t(j)];
        xx += double(reference[i]) * reference[i];
        yy += double(decoded[size_t(j)]) * decoded[size_t(j)];
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// Correlation of the whole signal after aligning the codec's delay (found on one second of it).
double alignedCorrelation(const std::vector<float>& reference, const std::vector<float>& decoded) {
    long bestLag = 0;
    double best = -1;
    for (long lag = -3000; lag <= 3000; ++lag) {
        const double c = correlationAt(reference, decoded, lag, 44100, 44100);
        if (c > best) best = c, bestLag = lag;
    }
    return correlationAt(reference, decoded, bestLag, 0, reference.size());
}

// A document over a fresh work-file store and history, in Chinese.
struct Editor {
    testsupport::ScratchDir dir;
    EditorDocument document;

    Editor() {
        setPreferredLanguagesForTesting(std::vector<std::string>{"zh-Hans-CN"});
        MusicFileManager::resetShared();
        RecordSequence::resetShared();
        HUD::clearRequests();
    }
    ~Editor() { setPreferredLanguagesForTesting(std::nullopt); }

    void import(const std::vector<std::string>& names) {
        std::vector<platform::URL> urls;
        for (const auto& name : names) urls.emplace_back(dir / name);
        quietly([&] { document.importMusics(urls); });
    }
    std::shared_ptr<MusicModel> clip(size_t track) { return document.tracks.at(track)->musics.at(0); }

    // A, B at 6 s, fade-in 1 s on A, fade-out 2 s on B, B's volume 0.5.
    void arrangeAB(const std::string& a = "A.wav", const std::string& b = "B.wav") {
        import({a, b});
        quietly([&] {
            document.moveMusic(document.tracks[1], clip(1), 6.0);
            document.select(document.tracks[0], clip(0));
            document.setFadeIn(1.0);
            document.select(document.tracks[1], clip(1));
            document.setFadeOut(2.0);
            document.setTrackVolume(document.tracks[1], 0.5);
        });
    }

    // A.wav and B.wav (constant signals) written and arranged.
    void arrangeWrittenAB() {
        editortest::writeA(dir / "A.wav");
        editortest::writeB(dir / "B.wav");
        arrangeAB();
    }

    struct Outcome {
        bool offered = false;          // there was something to export
        std::optional<bool> success;   // the conversion's outcome
        fs::path render;               // the render work file
    };

    // `setUp` sees the sheet's controller before the save.
    Outcome exportTo(const std::string& format, const fs::path& path,
                     const std::function<void(ExportController&)>& setUp = {}) {
        Outcome outcome;
        quietly([&] {
            auto controller = document.exportMusics();
            editortest::spinFor(0.02);
            if (!controller) return;
            outcome.offered = true;
            controller->conversionFinishedBlock = [&outcome](bool success) { outcome.success = success; };
            if (setUp) setUp(*controller);
            EditorDocument::saveExport(controller, format, platform::URL(path));
            editortest::spinUntil([&] { return outcome.success.has_value(); }, 60);
            if (controller->renderFile) outcome.render = controller->renderFile->url().filePath();
        });
        return outcome;
    }

    static void quietly(const std::function<void()>& work) {
        testing::internal::CaptureStdout();
        work();
        testing::internal::GetCapturedStdout();
    }
};

// What the A/B arrangement must sound like: A faded in over 1 s, B (half volume) from 6 s to 10 s
// fading out over its last 2 s.
std::vector<int> expectedAB(bool withB = true) {
    std::vector<int> expected(441000, 8192);
    for (int n = 0; n < 44100; ++n) expected[n] = int(std::lround(8192.0 * (n + 1) / 44100));
    if (withB) {
        for (int n = 264600; n < 352800; ++n) expected[n] = 10240;
        for (int k = 0; k < 88200; ++k) expected[352800 + k] = 8192 + int(std::lround(2048.0 * (1 - (k + 1) / 88200.0)));
    }
    return expected;
}

bool hudShowed(HUD::Kind kind, const std::string& text) {
    const auto requests = HUD::requests();
    return std::find(requests.begin(), requests.end(), HUD::Message{kind, text}) != requests.end();
}

}  // namespace

TEST(ExportRender, WavMatchesTheMixFormulaAndSox) {
    Editor editor;
    editor.arrangeWrittenAB();
    const auto outcome = editor.exportTo("wav", editor.dir / "mix.wav");
    ASSERT_TRUE(outcome.offered);
    ASSERT_EQ(outcome.success, true);
    EXPECT_TRUE(hudShowed(HUD::Kind::success, "导出成功"));

    uint32_t channels = 0;
    double rate = 0;
    editortest::readSamples(editor.dir / "mix.wav", &channels, &rate);
    EXPECT_EQ(channels, 2u);
    EXPECT_EQ(rate, 44100);
    if (testsupport::haveTool("ffprobe")) {
        EXPECT_EQ(probe(editor.dir / "mix.wav", "stream=codec_name,sample_rate,channels"),
                  "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\n");
    }
    const auto mix = channelsOf(editor.dir / "mix.wav");
    ASSERT_EQ(mix.size(), 2u);
    ASSERT_EQ(mix[0].size(), 441000u);
    EXPECT_LE(worstDifference(mix[0], expectedAB()), 1);
    EXPECT_LE(worstDifference(mix[1], expectedAB()), 1);

    // The render went to the first work path; it and the padded clips are gone with the export.
    const fs::path work = documents() / "user_operate";
    EXPECT_EQ(outcome.render, work / "00001.caf");
    EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 0);

    if (!testsupport::haveTool("sox")) GTEST_SKIP() << "needs sox for the reference mix";
    const fs::path d = editor.dir.path();
    ASSERT_EQ(testsupport::run("sox -D " + q(d / "A.wav") + " " + q(d / "Af.wav") + " fade t 1 && sox -D " +
                               q(d / "B.wav") + " " + q(d / "Bp.wav") + " pad 6 fade t 0 -0 2 && sox -D -m -v 1 " +
                               q(d / "Af.wav") + " -v 0.5 " + q(d / "Bp.wav") + " -b 16 " + q(d / "ref.wav")),
              0);
    const auto reference = channelsOf(d / "ref.wav");
    EXPECT_LE(worstDifference(mix[0], reference[0]), 1);
    EXPECT_LE(worstDifference(mix[1], reference[1]), 1);
}

TEST(ExportRender, EveryFormatCarriesTheMix) {
    if (!testsupport::haveTool("ffprobe") || !testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    Editor editor;
    // Sines, since the lossy codecs drop the constant signals.
    editortest::writeSine(editor.dir / "A.wav", 441000);
    editortest::writeSine(editor.dir / "B.wav", 176400);
    editor.arrangeAB();

    const auto wav = editor.exportTo("wav", editor.dir / "mix.wav");
    ASSERT_EQ(wav.success, true);
    const auto caf = editor.exportTo("caf", editor.dir / "mix.caf");
    ASSERT_EQ(caf.success, true);
    // The render's own format: the same samples as the wav.
    const auto wavChannels = channelsOf(editor.dir / "mix.wav");
    EXPECT_EQ(channelsOf(editor.dir / "mix.caf"), wavChannels);
    EXPECT_EQ(probe(editor.dir / "mix.caf", "stream=codec_name,sample_rate,channels"),
              "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\n");

    std::vector<float> reference;
    for (int sample : wavChannels[0]) reference.push_back(float(sample) / 32768.0f);

    struct Case {
        std::string format;
        std::string streams;
    };
    const std::vector<Case> cases{{"m4a", "codec_name=aac\nsample_rate=44100\nchannels=2\n"},
                                  {"aac", "codec_name=aac\nsample_rate=44100\nchannels=2\n"},
                                  {"mp3", "codec_name=mp3\nsample_rate=44100\nchannels=2\n"}};
    for (const auto& c : cases) {
        const fs::path out = editor.dir / ("mix." + c.format);
        const auto outcome = editor.exportTo(c.format, out);
        ASSERT_EQ(outcome.success, true) << c.format;
        EXPECT_EQ(probe(out, "stream=codec_name,sample_rate,channels"), c.streams) << c.format;
        EXPECT_GE(alignedCorrelation(reference, decodeLeft(out)), 0.99) << c.format;
    }
    EXPECT_EQ(probe(editor.dir / "mix.m4a", "format_tags=major_brand"), "TAG:major_brand=M4A \n");
    const std::string bitRate = probe(editor.dir / "mix.m4a", "stream=bit_rate");
    EXPECT_NEAR(std::stod(bitRate.substr(bitRate.find('=') + 1)), 192000, 30000);
    EXPECT_NE(probe(editor.dir / "mix.aac", "format=format_name").find("mp4"), std::string::npos);
    const std::string head = testsupport::readFile(editor.dir / "mix.mp3").substr(0, 2048);
    EXPECT_TRUE(head.find("Xing") != std::string::npos || head.find("Info") != std::string::npos);
    EXPECT_NE(head.find("LAME"), std::string::npos);
}

TEST(ExportRender, MuteAndSoloChooseWhatIsMixed) {
    Editor editor;
    editor.arrangeWrittenAB();
    auto& document = editor.document;
    const auto A = document.tracks[0];
    const auto B = document.tracks[1];

    // Track B muted: not in the export set.
    document.setTrackMute(B, true);
    ASSERT_EQ(editor.exportTo("wav", editor.dir / "muted.wav").success, true);
    EXPECT_LE(worstDifference(channelsOf(editor.dir / "muted.wav")[0], expectedAB(false)), 1);

    // Clip B muted: mixed at gain 0, and it still sets the length when it ends last.
    document.setTrackMute(B, false);
    Editor::quietly([&] {
        document.moveMusic(B, editor.clip(1), 8.0);
        document.select(B, editor.clip(1));
        document.muteMusic();
    });
    ASSERT_EQ(editor.exportTo("wav", editor.dir / "clipmuted.wav").success, true);
    auto expected = expectedAB(false);
    expected.resize(529200, 0);
    EXPECT_LE(worstDifference(channelsOf(editor.dir / "clipmuted.wav")[0], expected), 1);
    Editor::quietly([&] {
        document.muteMusic();
        document.moveMusic(B, editor.clip(1), 6.0);
    });

    // B soloed: B alone, silent until 6 s.
    document.toggleOnlyPlay(B);
    ASSERT_EQ(editor.exportTo("wav", editor.dir / "solo.wav").success, true);
    std::vector<int> alone(441000, 0);
    for (int n = 264600; n < 352800; ++n) alone[n] = 2048;
    for (int k = 0; k < 88200; ++k) alone[352800 + k] = int(std::lround(2048.0 * (1 - (k + 1) / 88200.0)));
    EXPECT_LE(worstDifference(channelsOf(editor.dir / "solo.wav")[0], alone), 1);

    // B soloed and muted: nothing to export, no file.
    document.setTrackMute(B, true);
    HUD::clearRequests();
    const auto nothing = editor.exportTo("wav", editor.dir / "nothing.wav");
    EXPECT_FALSE(nothing.offered);
    EXPECT_FALSE(fs::exists(editor.dir / "nothing.wav"));
    EXPECT_TRUE(hudShowed(HUD::Kind::info, "没有可以播放的音轨"));

    // Every track muted: the same.
    document.toggleOnlyPlay(B);
    document.setTrackMute(A, true);
    EXPECT_FALSE(editor.exportTo("wav", editor.dir / "allmuted.wav").offered);
    EXPECT_FALSE(fs::exists(editor.dir / "allmuted.wav"));
}

TEST(ExportRender, ClipsAtOtherRatesArePaddedAtTheirOwnRate) {
    Editor editor;
    editortest::writeWav16(editor.dir / "C.wav", 48000, 1, 96000, [](uint32_t f, uint16_t) {
        return int16_t(std::lround(16384.0 * std::sin(2 * M_PI * 441.0 * f / 48000.0)));
    });
    editor.import({"C.wav"});
    Editor::quietly([&] { editor.document.moveMusic(editor.document.tracks[0], editor.clip(0), 7.5); });
    // The clip's work file, read once it is prepared (the export removes it when it ends): 7.5 s of
    // silence at 48 kHz, then the clip.
    int64_t padded = -1;
    const auto outcome = editor.exportTo("wav", editor.dir / "c.wav", [&padded](ExportController& controller) {
        controller.progressBlock = [&padded](double, const std::string&) {
            padded = platform::AVAudioFile::forReading(platform::URL(documents() / "user_operate" / "00002"))->length();
        };
    });
    ASSERT_EQ(outcome.success, true);
    EXPECT_EQ(padded, 360000 + 96000);

    const auto mix = channelsOf(editor.dir / "c.wav");
    ASSERT_EQ(mix.size(), 2u);
    ASSERT_EQ(mix[0].size(), 418950u);
    // The resampler's filter rings faintly (about ±10) just before the clip; the onset is the sine itself.
    const auto onset = std::find_if(mix[0].begin(), mix[0].end(), [](int s) { return std::abs(s) >= 20; }) - mix[0].begin();
    EXPECT_NEAR(double(onset), 330750, 1);
    EXPECT_EQ(mix[0], mix[1]);

    if (!testsupport::haveTool("sox")) GTEST_SKIP() << "needs sox for the resampled reference";
    ASSERT_EQ(testsupport::run("sox -D " + q(editor.dir / "C.wav") + " -r 44100 " + q(editor.dir / "C44.wav")), 0);
    const auto reference = channelsOf(editor.dir / "C44.wav")[0];
    double best = -1e9;
    for (long shift = -2; shift <= 2; ++shift) {
        double signal = 0, noise = 0;
        for (size_t i = 0; i < reference.size(); ++i) {
            const long j = 330750 + long(i) + shift;
            if (j < 0 || size_t(j) >= mix[0].size()) continue;
            for (const auto& channel : mix) {
                signal += double(reference[i]) * reference[i];
                noise += double(channel[size_t(j)] - reference[i]) * (channel[size_t(j)] - reference[i]);
            }
        }
        best = std::max(best, 10 * std::log10(signal / std::max(noise, 1e-9)));
    }
    EXPECT_GE(best, 50.0);
}

TEST(ExportRender, FailuresAreReportedAndTheNextExportWorks) {
    Editor editor;
    editortest::writeA(editor.dir / "A.wav");
    editor.import({"A.wav"});

    // An unwritable destination: the conversion fails and says so.
    const auto failed = editor.exportTo("wav", editor.dir / "missing" / "x.wav");
    EXPECT_EQ(failed.success, false);
    EXPECT_TRUE(hudShowed(HUD::Kind::error, "导出失败"));
    EXPECT_FALSE(hudShowed(HUD::Kind::success, "导出成功"));
    EXPECT_EQ(editor.exportTo("wav", editor.dir / "x.wav").success, true);
    EXPECT_TRUE(fs::exists(editor.dir / "x.wav"));

    // The same sheet saved again after a failure runs a whole new mix-down.
    {
        auto controller = editor.document.exportMusics();
        ASSERT_TRUE(controller);
        std::vector<bool> outcomes;
        controller->conversionFinishedBlock = [&](bool success) { outcomes.push_back(success); };
        Editor::quietly([&] {
            EditorDocument::saveExport(controller, "wav", platform::URL(editor.dir / "missing" / "again.wav"));
            editortest::spinUntil([&] { return outcomes.size() == 1; }, 60);
            EditorDocument::saveExport(controller, "wav", platform::URL(editor.dir / "again.wav"));
            editortest::spinUntil([&] { return outcomes.size() == 2; }, 60);
        });
        EXPECT_EQ(outcomes, (std::vector<bool>{false, true}));
        EXPECT_LE(worstDifference(channelsOf(editor.dir / "again.wav")[0], std::vector<int>(441000, 8192)), 1);
    }

    // A render file that cannot be created (the work folder is a file).
    const fs::path work = documents() / "user_operate";
    fs::rename(work, documents() / "user_operate.saved");
    testsupport::writeFile(work, "not a folder");
    HUD::clearRequests();
    EXPECT_EQ(editor.exportTo("wav", editor.dir / "y.wav").success, false);
    EXPECT_TRUE(hudShowed(HUD::Kind::error, "导出失败"));
    EXPECT_FALSE(fs::exists(editor.dir / "y.wav"));
    fs::remove(work);
    fs::rename(documents() / "user_operate.saved", work);

    // Nothing to render: tracks without clips.
    auto controller = ExportController::make();
    controller->tracks = {TrackModel::make()};
    std::optional<bool> outcome;
    controller->conversionFinishedBlock = [&](bool success) { outcome = success; };
    Editor::quietly([&] {
        EditorDocument::saveExport(controller, "wav", platform::URL(editor.dir / "z.wav"));
        editortest::spinUntil([&] { return outcome.has_value(); }, 60);
    });
    EXPECT_EQ(outcome, false);
    EXPECT_FALSE(fs::exists(editor.dir / "z.wav"));
}

// Exports, failed or not, take their work files with them: what stays in the work folder is what
// the document refers to (here the halves of a split, which the clips and the history hold).
TEST(ExportRender, AnExportLeavesOnlyTheWorkFilesTheDocumentRefersTo) {
    Editor editor;
    editor.arrangeWrittenAB();
    auto& document = editor.document;
    Editor::quietly([&] {
        document.select(document.tracks[0], editor.clip(0));
        document.split(3.0);
    });
    const fs::path work = documents() / "user_operate";
    std::set<fs::path> referenced;
    for (const auto& track : document.tracks)
        for (const auto& clip : track->musics)
            if (clip->file->url().filePath().parent_path() == work) referenced.insert(clip->file->url().filePath());
    ASSERT_EQ(referenced.size(), 2u);
    const auto held = [&work] {
        std::set<fs::path> files;
        for (const auto& entry : fs::directory_iterator(work)) files.insert(entry.path());
        return files;
    };
    ASSERT_EQ(held(), referenced);

    EXPECT_EQ(editor.exportTo("wav", editor.dir / "missing" / "x.wav").success, false);  // the conversion fails
    EXPECT_EQ(held(), referenced);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(editor.exportTo("m4a", editor.dir / "x.m4a").success, true);
        EXPECT_EQ(held(), referenced);
    }
    // The clips still play from their files.
    for (const auto& path : referenced) EXPECT_GT(platform::AVAudioFile::forReading(platform::URL(path))->length(), 0);
}

TEST(ExportRender, ProgressFollowsTheClipPreparation) {
    Editor editor;
    editortest::writeWav16(editor.dir / "s.wav", 44100, 2, 441, [](uint32_t, uint16_t) { return int16_t(100); });
    auto track = TrackModel::make();
    for (int i = 0; i < 8; ++i) {
        auto clip = MusicModel::make();
        clip->file = platform::AVAudioFile::forReading(platform::URL(editor.dir / "s.wav"));
        clip->startTime = 0.01 * i;
        track->musics.push_back(clip);
    }
    track->musics[3]->file = nullptr;  // no audio: skipped, but counted
    auto controller = ExportController::make();
    controller->tracks = {track};
    std::vector<std::string> labels;
    int starts = 0;
    std::optional<bool> outcome;
    controller->renderStartBlock = [&] { ++starts; };
    controller->progressBlock = [&](double, const std::string& label) { labels.push_back(label); };
    controller->conversionFinishedBlock = [&](bool success) { outcome = success; };
    Editor::quietly([&] {
        EditorDocument::saveExport(controller, "wav", platform::URL(editor.dir / "p.wav"));
        editortest::spinUntil([&] { return outcome.has_value(); }, 60);
    });
    EXPECT_EQ(outcome, true);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(labels, (std::vector<std::string>{"12.5%", "25.0%", "37.5%", "50.0%", "62.5%", "75.0%", "87.5%", "100.0%"}));
}

TEST(ExportRender, BufferFadesAreLinearRampsPerFrame) {
    // A 10-frame buffer at 10 Hz of ones, so that frame i of a 1 s fade-in gets (i + 1) / 10.
    struct Case {
        double fadeIn, fadeOut;
        std::vector<float> gains;
    };
    const std::vector<Case> cases{
        {1.0, 0, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f}},
        {0.5, 0, {0.2f, 0.4f, 0.6f, 0.8f, 1.0f, 1, 1, 1, 1, 1}},
        {0, 0.5, {1, 1, 1, 1, 1, 0.8f, 0.6f, 0.4f, 0.2f, 0.0f}},
        {0, 2.0, {0.95f, 0.9f, 0.85f, 0.8f, 0.75f, 0.7f, 0.65f, 0.6f, 0.55f, 0.5f}},  // longer than the clip
        {0.8, 0.8, {0.125f, 0.25f, 0.375f * 0.875f, 0.5f * 0.75f, 0.625f * 0.625f, 0.75f * 0.5f, 0.875f * 0.375f,
                    1.0f * 0.25f, 0.125f, 0.0f}},
        {0, 0, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {-1, std::nan(""), {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        auto buffer = platform::AVAudioPCMBuffer::make(platform::AVAudioFormat::standardFormatWithSampleRate(10, 2), 10);
        buffer->setFrameLength(10);
        for (int ch = 0; ch < 2; ++ch) std::fill_n(buffer->floatChannelData()[ch], 10, 1.0f);
        ExportController::applyBufferFade(*buffer, c.fadeIn, c.fadeOut);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < 10; ++i)
                EXPECT_NEAR(buffer->floatChannelData()[ch][i], c.gains[size_t(i)], 1e-5)
                    << "in " << c.fadeIn << " out " << c.fadeOut << " frame " << i;
    }
}

TEST(ExportRender, ScriptDriverRunsTheDocumentCommands) {
    testsupport::ScratchDir dir;
    editortest::writeA(dir / "A.wav");
    editortest::writeB(dir / "B.wav");
    testsupport::writeFile(dir / "notes.wav", "not audio at all\n");
    fs::create_directories(dir / "Documents" / "user_operate");
    testsupport::writeFile(dir / "Documents" / "user_operate" / "stale.caf", "stale");
    testsupport::writeFile(dir / "script.json", R"([
        {"cmd": "import", "files": ["A.wav", "B.wav", "notes.wav"]},
        {"cmd": "move", "track": 1, "clip": 0, "start": 6.0},
        {"cmd": "fadeIn", "track": 0, "clip": 0, "seconds": 1},
        {"cmd": "fadeOut", "track": 1, "clip": 0, "seconds": 2},
        {"cmd": "trackVolume", "track": 1, "volume": 0.5},
        {"cmd": "export", "format": "wav", "path": "nowhere/mix.wav"},
        {"cmd": "export", "format": "wav", "path": "mix.wav"},
        {"cmd": "trackMute", "track": 0},
        {"cmd": "trackMute", "track": 1},
        {"cmd": "export", "format": "wav", "path": "muted.wav"},
        {"cmd": "undo"},
        {"cmd": "redo"},
        {"cmd": "select", "track": 5}
    ])");
    int status = -1;
    const std::string out = capture("cd " + q(dir.path()) + " && HOME=" + q(dir.path()) + " XDG_DOCUMENTS_DIR=" +
                                        q(dir / "Documents") + " LANGUAGE=zh_CN LANG=zh_CN.UTF-8 TAMBERLO_AUDIO_DEVICE=null " +
                                        q(testsupport::toolPath("tamberlo-script")) + " script.json 2>&1",
                                    &status);
    EXPECT_EQ(status, 1) << out;  // the last step names a track that does not exist
    EXPECT_NE(out.find("step 13: no track 5"), std::string::npos) << out;
    EXPECT_NE(out.find("记录索引======== 1"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "Documents" / "user_docs" / "notes.wav"));  // copied, but no track
    EXPECT_FALSE(fs::exists(dir / "Documents" / "user_operate" / "stale.caf"));
    EXPECT_NE(out.find("tracks: 2\n"
                       "  [0] \"A.wav\" volume=1.0 mute=false solo=false\n"
                       "      (0) \"A.wav\" start=0.0 duration=10.0 fadeIn=1.0 fadeOut=0.0 mute=false file=user_docs/A.wav\n"
                       " *[1] \"B.wav\" volume=0.5 mute=false solo=false\n"
                       "     *(0) \"B.wav\" start=6.0 duration=4.0 fadeIn=0.0 fadeOut=2.0 mute=false file=user_docs/B.wav\n"),
              std::string::npos)
        << out;

    // The failed export says so, the next one works, the all-muted one makes nothing.
    const auto failed = out.find("export: failed");
    const auto succeeded = out.find("export: succeeded");
    ASSERT_NE(failed, std::string::npos) << out;
    ASSERT_NE(succeeded, std::string::npos) << out;
    EXPECT_LT(failed, succeeded);
    EXPECT_NE(out.find("HUD error: 导出失败"), std::string::npos);
    EXPECT_EQ(out.find("HUD success: 导出成功"), out.rfind("HUD success: 导出成功"));  // once: the second export
    EXPECT_LE(worstDifference(channelsOf(dir / "mix.wav")[0], expectedAB()), 1);
    EXPECT_NE(out.find("HUD info: 没有可以播放的音轨\nexport: nothing to export"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "muted.wav"));
    // Undo takes the fade-out away, redo brings it back; both reset the track volumes.
    EXPECT_NE(out.find("== step 11: undo\n记录索引======== 3\n"), std::string::npos) << out;
    const std::string redone = out.substr(out.find("== step 12: redo"));
    EXPECT_NE(redone.find("记录索引======== 4\n"), std::string::npos) << out;
    // The selected clip stays selected: its restored copy takes its place.
    EXPECT_NE(redone.find(" *[1] \"B.wav\" volume=1.0 mute=false solo=false\n"
                          "     *(0) \"B.wav\" start=6.0 duration=4.0 fadeIn=0.0 fadeOut=2.0"),
              std::string::npos)
        << out;
}

// A clip cut at every ruler time of its first ten seconds exports to the same samples as the uncut
// clip: each half is padded with exactly the frames that split and playback place it at.
TEST(ExportRender, SplitClipsExportToTheUncutSamples) {
    for (const uint32_t rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        Editor editor;
        editortest::writeWav16(editor.dir / "S.wav", rate, 2, rate * 10, [](uint32_t f, uint16_t c) {
            return int16_t(int((f * 7919u + c * 4099u) % 20000u) - 10000);
        });
        editor.import({"S.wav"});
        const auto whole = editor.exportTo("wav", editor.dir / "whole.wav");
        ASSERT_EQ(whole.success, true);

        auto& document = editor.document;
        Editor::quietly([&] {
            document.select(document.tracks[0], editor.clip(0));
            for (int x = 1; x <= 33; ++x) document.split(x * 0.3);
        });
        ASSERT_EQ(document.tracks[0]->musics.size(), 34u);
        const auto cut = editor.exportTo("wav", editor.dir / "cut.wav");
        ASSERT_EQ(cut.success, true);

        const auto expected = channelsOf(editor.dir / "whole.wav");
        const auto actual = channelsOf(editor.dir / "cut.wav");
        ASSERT_EQ(actual.size(), expected.size());
        // At the mix's own rate the pieces add up exactly. At 48 kHz each piece is resampled on its
        // own, and the sum of the pieces rounds differently from the whole in the last bit; a frame
        // out of place in this noise would differ by thousands.
        for (size_t c = 0; c < actual.size(); ++c)
            EXPECT_LE(worstDifference(actual[c], expected[c]), rate == 44100 ? 0 : 1);
    }
}
