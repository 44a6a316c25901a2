// Playback against the real-time clock on the null output device: what the device plays (captured
// to a file), when clips join, how fades step, and where the playhead goes.
#include "EditorFixtures.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "TamberloMac/Playback/Player.h"
#include "platform/avfaudio/AVAudioFile.h"

#include <gtest/gtest.h>

#include <regex>

using namespace tamberlo;
namespace fs = std::filesystem;

namespace {

// The left channel of a captured file.
std::vector<float> leftChannel(const fs::path& path) {
    auto file = platform::AVAudioFile::forReading(platform::URL(path));
    auto buffer = platform::AVAudioPCMBuffer::make(file->processingFormat(), uint32_t(file->length()));
    file->read(*buffer);
    return std::vector<float>(buffer->floatChannelData()[0], buffer->floatChannelData()[0] + buffer->frameLength());
}

float at(const std::vector<float>& samples, double seconds) { return samples.at(size_t(seconds * 44100)); }

// Runs the editor's script driver on `script` in the folder (its home) on the null device; returns
// what it printed and sets the exit status.
std::string runScript(const testsupport::ScratchDir& dir, const std::string& script, int* status) {
    return testsupport::capture("cd " + testsupport::q(dir.path()) + " && HOME=" + testsupport::q(dir.path()) +
                                    " XDG_DOCUMENTS_DIR=" + testsupport::q(dir / "Documents") +
                                    " TAMBERLO_AUDIO_DEVICE=null " +
                                    testsupport::q(testsupport::toolPath("tamberlo-script")) + " " + script,
                                status);
}

}  // namespace

// A from 0 s with a 1 s fade-in; B (volume 0.5) from 6 s with a 2 s fade-out; played from 3 s.
TEST(PlayerRealtime, TheDevicePlaysTheArrangementFromThePlayhead) {
    testsupport::ScratchDir dir;
    editortest::writeA(dir / "A.wav");
    editortest::writeB(dir / "B.wav");
    testsupport::writeFile(dir / "play.json", R"([
        {"cmd": "import", "files": ["A.wav", "B.wav"]},
        {"cmd": "move", "track": 1, "clip": 0, "start": 6.0},
        {"cmd": "fadeIn", "track": 0, "clip": 0, "seconds": 1},
        {"cmd": "fadeOut", "track": 1, "clip": 0, "seconds": 2},
        {"cmd": "trackVolume", "track": 1, "volume": 0.5},
        {"cmd": "play", "from": 3.0, "seconds": 7.6, "capture": "capture.wav"},
        {"cmd": "play", "seconds": 0.5}
    ])");
    int status = -1;
    const std::string out = runScript(dir, "play.json", &status);
    ASSERT_EQ(status, 0) << out;

    // The playhead: from 3 s on, past the end of the material (10 s), and on again after stop/play.
    const std::regex positions(R"(play: played, positions ([0-9.e-]+) to ([0-9.e-]+))");
    std::vector<std::pair<double, double>> runs;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), positions); it != std::sregex_iterator(); ++it)
        runs.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    ASSERT_EQ(runs.size(), 2u) << out;
    EXPECT_NEAR(runs[0].first, 3.02, 0.05);
    EXPECT_NEAR(runs[0].second, 10.6, 0.1);
    EXPECT_NEAR(runs[1].first, runs[0].second + 0.02, 0.05);
    EXPECT_NEAR(runs[1].second, runs[0].second + 0.5, 0.1);

    // Times below are from the start of the device.
    const auto left = leftChannel(dir / "capture.wav");
    ASSERT_GE(left.size(), size_t(7.5 * 44100));
    for (double t : {0.05, 1.0, 2.9}) EXPECT_FLOAT_EQ(at(left, t), 0.25f) << t;
    const auto join = std::find_if(left.begin(), left.end(), [](float s) { return s > 0.3f; }) - left.begin();
    EXPECT_NEAR(double(join) / 44100, 3.0, 0.025);
    for (double t : {3.05, 4.0, 5.0}) EXPECT_FLOAT_EQ(at(left, t), 0.3125f) << t;

    // B's share (0.0625) falls in steps of 0.1 s from +5 s to +7 s.
    std::vector<double> steps;
    for (size_t i = size_t(4.95 * 44100); i < size_t(7.05 * 44100); ++i)
        if (std::abs(left[i] - left[i - 1]) > 1e-4f) steps.push_back(double(i) / 44100);
    ASSERT_GE(steps.size(), 18u);
    EXPECT_LE(steps.size(), 23u);
    EXPECT_NEAR(steps.front(), 5.1, 0.04);
    // Each step is a main-queue timer: on a busy machine one comes late and the next catches up, so
    // single gaps vary; on average they are 0.1 s, and none is missing or doubled.
    EXPECT_NEAR((steps[steps.size() - 2] - steps.front()) / double(steps.size() - 2), 0.1, 0.015);
    for (size_t k = 1; k + 1 < steps.size(); ++k) {
        EXPECT_GT(steps[k] - steps[k - 1], 0.01) << k;
        EXPECT_LT(steps[k] - steps[k - 1], 0.19) << k;
    }
    EXPECT_NEAR(at(left, 6.03), 0.25f + 0.0625f * 0.5f, 0.004f);

    // Silence once both clips have ended at +7 s.
    EXPECT_NEAR(steps.back(), 7.0, 0.03);
    for (size_t i = size_t(7.05 * 44100); i < left.size(); ++i) ASSERT_EQ(left[i], 0.0f) << double(i) / 44100;
}

// A clip that starts 1 s after play with a 5 s fade-out on 2 s of audio: the fade begins with the
// clip, at 2/5 of the gain, and reaches 0 at its end, rather than running out before the clip starts.
TEST(PlayerRealtime, AFadeOutLongerThanALateClipStartsWithTheClip) {
    testsupport::ScratchDir dir;
    editortest::writeWav16(dir / "late.wav", 44100, 2, 88200, [](uint32_t, uint16_t) { return int16_t(1000); });
    auto clip = MusicModel::make();
    clip->file = platform::AVAudioFile::forReading(platform::URL(dir / "late.wav"));
    clip->startTime = 1.0;
    clip->fadeOutTime = 5.0;
    auto track = TrackModel::make();
    track->musics = {clip};

    auto& player = Player::shared();
    testing::internal::CaptureStdout();
    player.setTracks({track});
    player.start = 0;
    player.play();
    const auto volume = [&] {
        return std::dynamic_pointer_cast<sonora::AudioPlayer>(player.engine()->output()->connections()[0])->volume();
    };
    editortest::spinFor(0.5);
    EXPECT_FLOAT_EQ(volume(), 1.0f);
    editortest::spinFor(1.05);  // +1.55 s: half a second into the fade
    EXPECT_NEAR(volume(), 0.3f, 0.03f);
    editortest::spinFor(1.0);  // +2.55 s
    EXPECT_NEAR(volume(), 0.1f, 0.03f);
    player.stop();
    testing::internal::GetCapturedStdout();
}

// A file cut in two and played across the cut: both halves keep their places on the timeline, so
// what the device plays is the export's mix-down over the same span, sample for sample.
TEST(PlayerRealtime, PlaybackAcrossACutEqualsTheExport) {
    testsupport::ScratchDir dir;
    uint32_t noise = 12345;  // every stretch of the file is unlike every other, so any shift shows
    editortest::writeWav16(dir / "N.wav", 44100, 2, 441000, [&noise](uint32_t, uint16_t) {
        noise = noise * 1664525u + 1013904223u;
        return int16_t(noise >> 16);
    });
    testsupport::writeFile(dir / "cut.json", R"([
        {"cmd": "import", "files": ["N.wav"]},
        {"cmd": "split", "track": 0, "time": 5.1},
        {"cmd": "play", "from": 4.0, "seconds": 2.5, "capture": "capture.wav"},
        {"cmd": "export", "format": "wav", "path": "mix.wav"}
    ])");
    int status = -1;
    const std::string out = runScript(dir, "cut.json", &status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_NE(out.find("export: succeeded"), std::string::npos) << out;

    const auto played = leftChannel(dir / "capture.wav");
    const auto mix = leftChannel(dir / "mix.wav");
    const size_t from = 4 * 44100;
    ASSERT_GE(mix.size(), size_t(6.5 * 44100));
    // Where the capture holds the timeline's 4.2 s tells where it holds any other time.
    const size_t mark = from + 8820;
    const auto found = std::search(played.begin(), played.end(), mix.begin() + mark, mix.begin() + mark + 64);
    ASSERT_NE(found, played.end());
    const ptrdiff_t shift = (found - played.begin()) - ptrdiff_t(mark);  // captured index − timeline frame
    // Sound starts at the playhead, or as far after it as the device was late to start the first
    // clip; from there on every frame is the export's, across the cut at 5.1 s to the end of play.
    const auto heard = std::find_if(played.begin(), played.end(), [](float v) { return v != 0; }) - played.begin();
    const ptrdiff_t first = heard - shift;
    EXPECT_GE(first, ptrdiff_t(from));
    EXPECT_LT(first, ptrdiff_t(from + 4096));
    const ptrdiff_t end = std::min<ptrdiff_t>(ptrdiff_t(played.size()) - shift, ptrdiff_t(6.5 * 44100));
    ASSERT_GT(end, ptrdiff_t(6.3 * 44100));
    for (ptrdiff_t k = first; k < end; ++k)
        ASSERT_EQ(played[size_t(k + shift)], mix[size_t(k)]) << "at " << double(k) / 44100 << " s";
}
