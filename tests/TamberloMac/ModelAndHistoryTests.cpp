// The clip and track model and the undo history.
#include "EditorFixtures.h"

#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Model/AVAudioFileDuration.h"
#include "TamberloMac/Model/TrackModel.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tamberlo;
using editortest::writeWav16;

namespace {

std::shared_ptr<MusicModel> clipOf(const std::filesystem::path& path, double start) {
    auto music = MusicModel::make();
    music->file = platform::AVAudioFile::forReading(platform::URL(path));
    music->startTime = start;
    return music;
}

}  // namespace

TEST(MusicModel, EmptyOrMissingAudioHasZeroDurationNotNaN) {
    testsupport::ScratchDir dir;
    writeWav16(dir / "empty.wav", 44100, 2, 0, [](uint32_t, uint16_t) { return int16_t(0); });
    auto empty = clipOf(dir / "empty.wav", 2.0);
    EXPECT_EQ(empty->duration(), 0.0);

    auto none = MusicModel::make();
    EXPECT_EQ(none->duration(), 0.0);

    auto track = TrackModel::make();
    track->musics = {empty};
    EXPECT_EQ(track->duration(), 2.0);
    EXPECT_FALSE(std::isnan(track->duration()));
}

TEST(TrackModel, DurationIsTheEndOfTheLastClipInListOrder) {
    testsupport::ScratchDir dir;
    writeWav16(dir / "one.wav", 44100, 1, 44100, [](uint32_t, uint16_t) { return int16_t(1); });
    auto track = TrackModel::make();
    EXPECT_EQ(track->duration(), 0.0);
    track->musics = {clipOf(dir / "one.wav", 10.0), clipOf(dir / "one.wav", 2.0)};
    EXPECT_DOUBLE_EQ(track->duration(), 3.0);  // not 11
}

TEST(TrackModel, NewCopyKeepsClipsButResetsVolumeMuteAndSolo) {
    auto track = TrackModel::make();
    track->name = "take.wav";
    track->volume = 0.5;
    track->isMute = true;
    track->isOnlyPlay = true;
    auto clip = MusicModel::make();
    clip->fadeInTime = 1;
    clip->isMute = true;
    track->musics = {clip};

    auto copy = track->newCopy();
    EXPECT_EQ(copy->identify, track->identify);
    EXPECT_EQ(copy->name, "take.wav");
    EXPECT_EQ(copy->volume, 1.0);
    EXPECT_FALSE(copy->isMute);
    EXPECT_FALSE(copy->isOnlyPlay);
    ASSERT_EQ(copy->musics.size(), 1u);
    EXPECT_NE(copy->musics[0], clip);
    EXPECT_EQ(copy->musics[0]->identify, clip->identify);
    EXPECT_EQ(copy->musics[0]->fadeInTime, 1.0);
    EXPECT_TRUE(copy->musics[0]->isMute);
}

TEST(TrackModel, DeleteRemovesEveryOccurrenceAndIgnoresStrangers) {
    auto track = TrackModel::make();
    auto a = MusicModel::make(), b = MusicModel::make();
    track->musics = {a, b, a};
    track->deleteMusicWithMusic(MusicModel::make());
    EXPECT_EQ(track->musics.size(), 3u);
    track->deleteMusicWithMusic(a);
    ASSERT_EQ(track->musics.size(), 1u);
    EXPECT_EQ(track->musics[0], b);
}

TEST(TrackModel, DuplicateNames) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"song.mp3", "song-1.mp3"}, {"My Song.wav", "My Song-1.wav"}, {"take", "take-1."},
        {"", "-1"},                 {"B.wav", "B-1.wav"},             {"50% mix#2.wav", "50% mix#2-1.wav"},
        {"intro:take.wav", "intro:take-1.wav"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(duplicateTrackName(name), expected) << name;
}

namespace {
std::vector<std::shared_ptr<TrackModel>> named(const std::string& name) {
    auto track = TrackModel::make();
    track->name = name;
    return {track};
}
std::string shown(const RecordSequence& history) {
    const auto tracks = history.displays();
    return tracks.empty() ? "" : tracks[0]->name;
}
}  // namespace

TEST(RecordSequence, CursorMovesAndReportsChanges) {
    struct Step {
        std::string op;  // "record X", "back", "next"
        long opIndex;
        bool hasChange;
        std::string shown;
    };
    const std::vector<Step> steps{
        {"back", 0, false, ""},    {"record A", 1, true, "A"}, {"record B", 2, true, "B"}, {"back", 1, true, "A"},
        {"record C", 2, true, "C"}, {"next", 2, false, "C"},   {"back", 1, true, "A"},     {"back", 0, true, ""},
        {"back", 0, false, ""},    {"next", 1, true, "A"},     {"next", 2, true, "C"},
    };
    RecordSequence history;
    for (const auto& step : steps) {
        testing::internal::CaptureStdout();
        if (step.op == "back") {
            history.back();
        } else if (step.op == "next") {
            history.next();
        } else {
            history.record(named(step.op.substr(7)));
        }
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(history.opIndex(), step.opIndex) << step.op;
        EXPECT_EQ(history.hasChange, step.hasChange) << step.op;
        EXPECT_EQ(shown(history), step.shown) << step.op;
        EXPECT_EQ(out, step.hasChange ? "记录索引======== " + std::to_string(step.opIndex) + "\n" : "") << step.op;
    }
    EXPECT_EQ(history.seq().size(), 2u);  // A, C: B was cut with the redo tail
}

TEST(RecordSequence, SnapshotsAreCopiesThatShareTheAudio) {
    testsupport::ScratchDir dir;
    writeWav16(dir / "a.wav", 44100, 1, 100, [](uint32_t, uint16_t) { return int16_t(1); });
    auto track = TrackModel::make();
    track->musics = {clipOf(dir / "a.wav", 1.0)};
    RecordSequence history;
    testing::internal::CaptureStdout();
    history.record({track});
    testing::internal::GetCapturedStdout();

    track->musics[0]->startTime = 5.0;
    const auto stored = history.displays();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]->musics[0]->startTime, 1.0);
    EXPECT_EQ(stored[0]->musics[0]->file, track->musics[0]->file);

    // Reloading makes fresh copies each time, so editing them leaves the snapshot alone.
    auto reloaded = stored[0]->newCopy();
    reloaded->musics[0]->fadeInTime = 3;
    EXPECT_EQ(history.displays()[0]->musics[0]->fadeInTime, 0.0);
}
