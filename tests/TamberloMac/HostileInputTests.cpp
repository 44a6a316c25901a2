// The editor with hostile input and a hostile disk: user files are never destroyed, unusual files
// play and export or are refused, and a mix that misses a clip is a failure.
#include "EditorFixtures.h"

#include "TamberloMac/Document/EditorDocument.h"
#include "TamberloMac/Export/ExportController.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Shell/Localized.h"
#include "platform/avfaudio/AVAudioFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cmath>

using namespace tamberlo;
using testsupport::capture;
using testsupport::q;
using testsupport::readFile;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

// Runs tamberlo-script on `script` in `dir` (its documents folder inside), with the Chinese texts.
std::string runScript(const testsupport::ScratchDir& dir, const std::string& script, int* status) {
    writeFile(dir / "script.json", script);
    return capture("cd " + q(dir.path()) + " && HOME=" + q(dir.path()) + " XDG_DOCUMENTS_DIR=" + q(dir / "Documents") +
                       " LANGUAGE=zh_CN LANG=zh_CN.UTF-8 TAMBERLO_AUDIO_DEVICE=null " +
                       q(testsupport::toolPath("tamberlo-script")) + " script.json 2>&1",
                   status);
}

// Everything in a folder, hidden names included.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void constantWav(const fs::path& path, int16_t value, uint32_t frames = 44100) {
    fs::create_directories(path.parent_path());
    editortest::writeWav16(path, 44100, 2, frames, [value](uint32_t, uint16_t) { return value; });
}

}  // namespace

TEST(HostileInput, ExportToAFolderFailsAndLeavesItAsItWas) {
    testsupport::ScratchDir dir;
    constantWav(dir / "A.wav", 8192);
    for (const char* name : {"out.wav", "out.m4a", "out.mp3"}) {
        fs::create_directories(dir / name);
        writeFile(dir / name / "keep.txt", "mine");
    }
    int status = -1;
    const std::string out = runScript(dir, R"([
        {"cmd": "import", "files": ["A.wav"]},
        {"cmd": "export", "format": "wav", "path": "out.wav"},
        {"cmd": "export", "format": "m4a", "path": "out.m4a"},
        {"cmd": "export", "format": "mp3", "path": "out.mp3"}
    ])", &status);
    EXPECT_EQ(status, 0) << out;
    size_t failures = 0;
    for (size_t at = out.find("export: failed"); at != std::string::npos; at = out.find("export: failed", at + 1)) ++failures;
    EXPECT_EQ(failures, 3u) << out;
    for (const char* name : {"out.wav", "out.m4a", "out.mp3"}) {
        EXPECT_TRUE(fs::is_directory(dir / name)) << name;
        EXPECT_EQ(readFile(dir / name / "keep.txt"), "mine") << name;
    }
}

TEST(HostileInput, AFailedExportKeepsTheEarlierFileAndLeavesNoPartialFile) {
    testsupport::ScratchDir dir;
    // The mix-down's work file: 10 s of 16-bit stereo at 44100 Hz.
    editortest::writeSine(dir / "render.wav", 441000);
    for (const std::string format : {"wav", "caf", "m4a", "aac", "mp3"}) {
        SCOPED_TRACE(format);
        const fs::path destination = dir / ("out." + format);
        auto convert = [&] {
            auto controller = ExportController::make();
            controller->finishDelay = 0;
            controller->renderFile = platform::AVAudioFile::forReading(platform::URL(dir / "render.wav"));
            controller->formatChanged(format);
            controller->saveUrl = platform::URL(destination);
            std::optional<bool> outcome;
            controller->conversionFinishedBlock = [&outcome](bool success) { outcome = success; };
            testing::internal::CaptureStdout();
            controller->convertFormat();
            editortest::spinUntil([&] { return outcome.has_value(); }, 60);
            testing::internal::GetCapturedStdout();
            return outcome;
        };
        ASSERT_EQ(convert(), true);
        const std::string good = readFile(destination);
        constexpr rlim_t kRoom = 16384;
        ASSERT_GT(good.size(), kRoom);

        // A disk that takes no more than 16 KB per file: every new output runs out of room.
        rlimit before{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = before;
        small.rlim_cur = kRoom;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const auto failed = convert();
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(failed, false);
        EXPECT_EQ(readFile(destination), good);
        for (const auto& name : namesIn(dir.path())) EXPECT_NE(name[0], '.') << "a partial file was left: " << name;
    }
}

TEST(HostileInput, TwoFilesOfOneNameKeepTheirOwnAudio) {
    testsupport::ScratchDir dir;
    constantWav(dir / "one" / "z.wav", 8192);
    constantWav(dir / "two" / "z.wav", 4096);
    int status = -1;
    const std::string out = runScript(dir, R"([
        {"cmd": "import", "files": ["one/z.wav"]},
        {"cmd": "import", "files": ["two/z.wav"]},
        {"cmd": "deleteTrack", "track": 0},
        {"cmd": "play", "seconds": 1.5, "capture": "played.wav"},
        {"cmd": "export", "format": "wav", "path": "mix.wav"}
    ])", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("export: succeeded"), std::string::npos) << out;
    EXPECT_EQ(namesIn(dir / "Documents" / "user_docs"), (std::vector<std::string>{"z-1.wav", "z.wav"}));
    EXPECT_EQ(readFile(dir / "Documents" / "user_docs" / "z.wav"), readFile(dir / "one" / "z.wav"));
    EXPECT_EQ(readFile(dir / "Documents" / "user_docs" / "z-1.wav"), readFile(dir / "two" / "z.wav"));

    // The remaining clip (the second file) is what plays and what is exported.
    const auto mix = editortest::readSamples(dir / "mix.wav");
    ASSERT_EQ(mix.size(), 2u * 44100);
    for (float sample : mix) ASSERT_NEAR(sample, 4096 / 32768.0, 1e-4);
    const auto played = editortest::readSamples(dir / "played.wav");
    float loudest = 0;
    for (float sample : played) loudest = std::max(loudest, std::fabs(sample));
    EXPECT_NEAR(loudest, 4096 / 32768.0, 1e-3);
}

TEST(HostileInput, ManyChannelsImportPlayAndExport) {
    if (!testsupport::haveTool("sox")) GTEST_SKIP() << "sox missing";
    testsupport::ScratchDir dir;
    for (int channels : {65, 100})
        ASSERT_EQ(testsupport::run("sox -n -r 8000 -c " + std::to_string(channels) + " -b 16 " +
                                   q(dir / ("ch" + std::to_string(channels) + ".wav")) + " synth 0.5 sine 440"),
                  0);
    int status = -1;
    const std::string out = runScript(dir, R"([
        {"cmd": "import", "files": ["ch65.wav", "ch100.wav"]},
        {"cmd": "play", "seconds": 0.6},
        {"cmd": "export", "format": "wav", "path": "mix.wav"}
    ])", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("tracks: 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("play: played"), std::string::npos) << out;
    EXPECT_NE(out.find("export: succeeded"), std::string::npos) << out;
    EXPECT_EQ(editortest::readSamples(dir / "mix.wav").size(), 2u * 22050);
}

TEST(HostileInput, AClipThatCannotBeReadFailsTheExport) {
    testsupport::ScratchDir dir;
    setPreferredLanguagesForTesting(std::vector<std::string>{"zh-Hans-CN"});
    MusicFileManager::resetShared();
    RecordSequence::resetShared();
    HUD::clearRequests();
    constantWav(dir / "A.wav", 8192);
    constantWav(dir / "B.wav", 4096);
    EditorDocument document;
    std::optional<bool> outcome;
    testing::internal::CaptureStdout();
    document.importMusics({platform::URL(dir / "A.wav"), platform::URL(dir / "B.wav")});
    document.tracks.at(1)->musics.at(0)->file->close();  // its data can no longer be read
    auto controller = document.exportMusics();
    ASSERT_TRUE(controller);
    controller->conversionFinishedBlock = [&outcome](bool success) { outcome = success; };
    EditorDocument::saveExport(controller, "wav", platform::URL(dir / "mix.wav"));
    editortest::spinUntil([&] { return outcome.has_value(); }, 60);
    testing::internal::GetCapturedStdout();
    setPreferredLanguagesForTesting(std::nullopt);
    EXPECT_EQ(outcome, false);
    EXPECT_FALSE(fs::exists(dir / "mix.wav"));
    const auto requests = HUD::requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), HUD::Message{HUD::Kind::error, "导出失败"}), requests.end());
}

TEST(HostileInput, ImportsThatTakeNothingSayItOnce) {
    testsupport::ScratchDir dir;
    fs::create_directories(dir / "folder.wav");
    writeFile(dir / "folder.wav" / "inner.wav", "x");
    writeFile(dir / "notes.wav", "not audio\n");
    int status = -1;
    const std::string out = runScript(dir, R"([
        {"cmd": "import", "files": ["folder.wav", "notes.wav", "missing.wav"]}
    ])", &status);
    EXPECT_EQ(status, 0) << out;
    const auto first = out.find("HUD error: 导入失败");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("HUD error: 导入失败", first + 1), std::string::npos) << out;  // once
    EXPECT_NE(out.find("notes.wav"), std::string::npos) << out;                       // the reason is logged
    EXPECT_FALSE(fs::exists(dir / "Documents" / "user_docs" / "folder.wav"));        // never copied
}

TEST(HostileInput, ScriptValuesOfTheWrongTypeAreAnErrorOfTheStep) {
    testsupport::ScratchDir dir;
    constantWav(dir / "A.wav", 8192);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"cmd": "import", "files": [1]})", "\"files\""},
        {R"({"cmd": "import", "files": "A.wav"})", "\"files\""},
        {R"({"cmd": "export", "format": "wav"})", "\"path\""},
        {R"({"cmd": "trackMute", "track": 0, "mute": "no"})", "\"mute\""},
        {R"({"cmd": "solo", "track": "0"})", "\"track\""},
        {R"({"cmd": "select", "track": 0.5})", "\"track\""},
        {R"({"cmd": 3})", "\"cmd\""},
    };
    for (const auto& [step, named] : cases) {
        SCOPED_TRACE(step);
        int status = -1;
        const std::string out = runScript(dir, R"([{"cmd": "import", "files": ["A.wav"]}, )" + step + "]", &status);
        EXPECT_EQ(status, 1) << out;
        EXPECT_NE(out.find("tamberlo-script: step 2: " + named), std::string::npos) << out;
    }
}

TEST(HostileInput, TimesBeyondTheTimelineAreRefused) {
    testsupport::ScratchDir dir;
    MusicFileManager::resetShared();
    RecordSequence::resetShared();
    constantWav(dir / "A.wav", 8192);
    EditorDocument document;
    testing::internal::CaptureStdout();
    document.importMusics({platform::URL(dir / "A.wav")});
    auto track = document.tracks.at(0);
    auto clip = track->musics.at(0);
    document.select(track, clip);
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {1e6, 1e20, inf, std::nan("")}) {
        document.moveMusic(track, clip, bad);
        document.setFadeIn(bad);
        document.setFadeOut(bad);
        document.setPlayStart(bad);
    }
    document.setFadeOut(2.5);
    document.moveMusic(track, clip, 90000.0);  // within ~27 h
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(clip->startTime, 90000.0);
    EXPECT_EQ(clip->fadeInTime, 0.0);
    EXPECT_EQ(clip->fadeOutTime, 2.5);
    EXPECT_EQ(document.playStart(), 0.0);
}
