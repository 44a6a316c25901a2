// Import into the work-file store, split and duplicate, and undo/redo over them.
#include "EditorFixtures.h"

#include "TamberloMac/Files/AudiovisualContent.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Playback/Player.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

using namespace tamberlo;
namespace fs = std::filesystem;

namespace {

fs::path documents() { return platform::FileManager::defaultManager().documentDirectoryURL().filePath(); }

std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A and B imported into a fresh store and history, one track each, recorded once.
struct Session {
    testsupport::ScratchDir dir;
    std::vector<std::shared_ptr<TrackModel>> tracks;
    std::string recordOutput;

    Session() {
        editortest::writeA(dir / "A.wav");
        editortest::writeB(dir / "B.wav");
        MusicFileManager::resetShared();
        RecordSequence::resetShared();
        tracks = editortest::tracksFor(
            MusicFileManager::shared().importMusicsWithArr({platform::URL(dir / "A.wav"), platform::URL(dir / "B.wav")}));
        testing::internal::CaptureStdout();
        RecordSequence::shared().record(tracks);
        recordOutput = testing::internal::GetCapturedStdout();
    }
    void record() {
        testing::internal::CaptureStdout();
        RecordSequence::shared().record(tracks);
        testing::internal::GetCapturedStdout();
    }
    void reload() {
        if (!RecordSequence::shared().hasChange) return;
        tracks.clear();
        for (const auto& track : RecordSequence::shared().displays()) tracks.push_back(track->newCopy());
    }
    void undo() {
        testing::internal::CaptureStdout();
        RecordSequence::shared().back();
        testing::internal::GetCapturedStdout();
        reload();
    }
    void redo() {
        testing::internal::CaptureStdout();
        RecordSequence::shared().next();
        testing::internal::GetCapturedStdout();
        reload();
    }
    void split(const std::shared_ptr<TrackModel>& track, double time) {
        testing::internal::CaptureStdout();
        track->splitAtTime(time);
        testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST(MusicFileManager, StartEmptiesTheWorkFoldersAndImportCopiesEachFile) {
    fs::create_directories(documents() / "user_docs");
    fs::create_directories(documents() / "user_operate" / "old-folder");
    testsupport::writeFile(documents() / "user_docs" / "stale.wav", "old");
    testsupport::writeFile(documents() / "user_operate" / "00007.caf", "old");

    Session session;
    EXPECT_EQ(listing(documents() / "user_docs"), (std::vector<std::string>{"A.wav", "B.wav"}));
    EXPECT_TRUE(listing(documents() / "user_operate").empty());
    ASSERT_EQ(session.tracks.size(), 2u);
    EXPECT_EQ(session.tracks[0]->name, "A.wav");
    EXPECT_EQ(session.tracks[1]->name, "B.wav");
    EXPECT_DOUBLE_EQ(session.tracks[0]->duration(), 10.0);
    EXPECT_DOUBLE_EQ(session.tracks[1]->duration(), 4.0);
    EXPECT_EQ(session.tracks[0]->musics[0]->file->url().filePath(), documents() / "user_docs" / "A.wav");
    EXPECT_EQ(session.recordOutput, "记录索引======== 1\n");
}

TEST(MusicFileManager, SkipsFilesItCannotCopyOrOpen) {
    testsupport::ScratchDir dir;
    MusicFileManager store;
    testsupport::writeFile(dir / "fake.wav", "this is text, not audio\n");
    editortest::writeB(dir / "B.wav");
    testing::internal::CaptureStdout();
    const auto musics = store.importMusicsWithArr(
        {platform::URL(dir / "fake.wav"), platform::URL(dir / "missing.wav"), platform::URL(dir / "B.wav")});
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(musics.size(), 1u);
    EXPECT_EQ(musics[0]->name, "B.wav");
    EXPECT_TRUE(fs::exists(fs::path(store.savePath()) / "fake.wav"));  // copied, not a clip
    EXPECT_FALSE(out.empty());                                          // the failed copy says why
    EXPECT_TRUE(store.importMusicsWithArr({}).empty());
}

TEST(MusicFileManager, ImportingTheStoresOwnCopyOpensItInPlace) {
    MusicFileManager store;
    const fs::path copy = fs::path(store.savePath()) / "B.wav";
    editortest::writeB(copy);
    const auto musics = store.importMusicsWithArr({platform::URL(copy), platform::URL(copy)});
    ASSERT_EQ(musics.size(), 2u);
    EXPECT_EQ(musics[0]->file->length(), 176400);
    EXPECT_EQ(musics[1]->file->length(), 176400);
    EXPECT_TRUE(fs::exists(copy));
}

// A link is imported as the file it names, whether relative or absolute; the copy keeps its own
// bytes when the original changes later.
TEST(MusicFileManager, ImportingASymbolicLinkCopiesTheFileItNames) {
    testsupport::ScratchDir dir;
    MusicFileManager store;
    fs::create_directories(dir / "real");
    editortest::writeA(dir / "real" / "A.wav");
    fs::create_symlink("real/A.wav", dir / "relative.wav");
    fs::create_symlink(dir / "real" / "A.wav", dir / "absolute.wav");
    fs::create_symlink(dir / "real" / "gone.wav", dir / "dangling.wav");
    testing::internal::CaptureStdout();
    const auto musics = store.importMusicsWithArr(
        {platform::URL(dir / "relative.wav"), platform::URL(dir / "absolute.wav"), platform::URL(dir / "dangling.wav")});
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(musics.size(), 2u);
    editortest::writeB(dir / "real" / "A.wav");  // the original changes afterwards
    for (const auto& music : musics) {
        const fs::path copy = music->file->url().filePath();
        EXPECT_EQ(copy.parent_path(), fs::path(store.savePath()));
        EXPECT_FALSE(fs::is_symlink(copy)) << copy;
        EXPECT_EQ(music->file->length(), 441000) << copy;
        EXPECT_EQ(platform::AVAudioFile::forReading(platform::URL(copy))->length(), 441000) << copy;
    }
    EXPECT_EQ(musics[0]->name, "relative.wav");
    EXPECT_EQ(musics[1]->name, "absolute.wav");
}

// Start-up empties the work folders, but never through a link: a work folder that is a link or a
// file becomes a folder of its own, the link's target keeps everything, and one line says so.
TEST(MusicFileManager, AWorkFolderThatIsALinkOrAFileIsReplacedAndNothingBehindItDeleted) {
    for (const char* folder : {"user_docs", "user_operate"}) {
        for (const bool link : {true, false}) {
            SCOPED_TRACE(std::string(folder) + (link ? " as a link" : " as a file"));
            testsupport::ScratchDir dir;
            fs::create_directories(dir / "target" / "sub");
            testsupport::writeFile(dir / "target" / "keep.wav", "mine");
            testsupport::writeFile(dir / "target" / "sub" / "deep.wav", "mine too");
            const fs::path work = documents() / folder;
            fs::create_directories(documents());
            fs::remove_all(work);
            if (link) fs::create_directory_symlink(dir / "target", work);
            else testsupport::writeFile(work, "a file in the folder's place");
            platform::LogSink::clear();
            MusicFileManager store;
            EXPECT_TRUE(fs::is_directory(fs::symlink_status(work)));
            EXPECT_TRUE(listing(work).empty());
            EXPECT_EQ(testsupport::readFile(dir / "target" / "keep.wav"), "mine");
            EXPECT_EQ(testsupport::readFile(dir / "target" / "sub" / "deep.wav"), "mine too");
            int lines = 0;
            for (const auto& entry : platform::LogSink::entries())
                lines += entry.message.find(work.string()) != std::string::npos;
            EXPECT_EQ(lines, 1);
        }
    }
}

TEST(MusicFileManager, WorkPathsCountUpWithFiveDigits) {
    MusicFileManager store;
    EXPECT_EQ(store.nextOperatePath(), store.operatePath() + "/00001");
    EXPECT_EQ(store.nextOperatePath(), store.operatePath() + "/00002");
    EXPECT_EQ(store.operateFileCount(), 2);
}

TEST(AudiovisualContent, ByMimeTypeOrKnownExtension) {
    testsupport::ScratchDir dir;
    editortest::writeB(dir / "noext");
    testsupport::writeFile(dir / "notes.txt", "hello\n");
    testsupport::writeFile(dir / "fake.wav", "hello\n");
    testsupport::writeFile(dir / "mix.CAF", "x");
    testsupport::writeFile(dir / "clip.ts", "x");
    const std::vector<std::pair<std::string, bool>> cases{
        {"noext", true}, {"notes.txt", false}, {"fake.wav", true}, {"mix.CAF", true}, {"clip.ts", true},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(isAudiovisualContent(platform::URL(dir / name)), expected) << name;
    EXPECT_EQ(audiovisualContentURLs({platform::URL(dir / "notes.txt"), platform::URL(dir / "noext")}).size(), 1u);
}

TEST(SplitAndDuplicate, SplitWritesTwoWorkFilesWithTheClipsSamples) {
    Session session;
    auto a = session.tracks[0];
    auto b = session.tracks[1];
    auto original = a->musics[0];
    b->musics[0]->startTime = 6.0;
    session.record();
    a->musics[0]->fadeInTime = 1;
    session.record();
    b->musics[0]->fadeOutTime = 2;
    session.record();
    b->volume = 0.5;  // not an edit of the history

    int selectionNotices = 0;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto token =
        center.addObserver(NotifyManager::SelectedMusicDidChange(), [&](const platform::Notification&) { ++selectionNotices; });
    Player::shared().setSelectMusic(original);
    selectionNotices = 0;

    testing::internal::CaptureStdout();
    a->splitAtTime(3.0);
    const std::string out = testing::internal::GetCapturedStdout();
    center.removeObserver(token);
    EXPECT_EQ(out, "splitTime===3.0,startTime===0.0,duration===10.0\n");
    EXPECT_EQ(selectionNotices, 2);  // cleared, then the first half

    ASSERT_EQ(a->musics.size(), 2u);
    const auto& first = a->musics[0];
    const auto& second = a->musics[1];
    EXPECT_EQ(Player::shared().selectMusic(), first);
    EXPECT_EQ(first->startTime, 0.0);
    EXPECT_EQ(second->startTime, 3.0);
    EXPECT_EQ(first->fadeInTime, 0.0);
    EXPECT_EQ(first->name, "");
    const fs::path operate = MusicFileManager::shared().operatePath();
    EXPECT_EQ(first->file->url().filePath(), operate / "00001.caf");
    EXPECT_EQ(second->file->url().filePath(), operate / "00002.caf");
    EXPECT_EQ(first->file->length(), 132300);
    EXPECT_EQ(second->file->length(), 308700);
    for (const auto& half : {first, second}) {
        const auto samples = editortest::readSamples(half->file->url().filePath());
        ASSERT_FALSE(samples.empty());
        EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](float s) { return s == 0.25f; }));
    }
    if (testsupport::haveTool("soxi")) {
        EXPECT_EQ(testsupport::capture("soxi -s " + testsupport::q(operate / "00001.caf")), "132300\n");
        EXPECT_EQ(testsupport::capture("soxi -s " + testsupport::q(operate / "00002.caf")), "308700\n");
    }
    session.record();

    // Undo twice (the split, B's fade-out): one A clip with its fade-in, every volume back to 1.0;
    // redo twice: the split again.
    session.undo();
    session.undo();
    ASSERT_EQ(session.tracks[0]->musics.size(), 1u);
    EXPECT_EQ(session.tracks[0]->musics[0]->fadeInTime, 1.0);
    EXPECT_EQ(session.tracks[1]->musics[0]->startTime, 6.0);
    EXPECT_EQ(session.tracks[1]->musics[0]->fadeOutTime, 0.0);
    EXPECT_EQ(session.tracks[0]->musics[0]->file, original->file);
    for (const auto& track : session.tracks) EXPECT_EQ(track->volume, 1.0);
    session.redo();
    session.redo();
    ASSERT_EQ(session.tracks[0]->musics.size(), 2u);
    EXPECT_EQ(session.tracks[0]->musics[1]->startTime, 3.0);
}

TEST(SplitAndDuplicate, SplitNeedsAFrameOnEachSide) {
    Session session;
    auto b = session.tracks[1];
    b->musics[0]->startTime = 6.0;
    // x/10×3 and x×3/10 differ in the last place for many x: a cut that close to the start must
    // not turn into an empty first half.
    const std::vector<double> times{6.0, 6.0 + 1e-12, 6.0 + 0.4 / 44100, 10.0, 2.0, 11.0};
    for (double t : times) {
        session.split(b, t);
        ASSERT_EQ(b->musics.size(), 1u) << t;
    }
    EXPECT_EQ(MusicFileManager::shared().operateFileCount(), 0);

    // One frame after the start is a real cut: one frame and the rest.
    session.split(b, 6.0 + 1.0 / 44100);
    ASSERT_EQ(b->musics.size(), 2u);
    EXPECT_EQ(b->musics[0]->file->length(), 1);
    EXPECT_EQ(b->musics[1]->file->length(), 176399);
}

TEST(SplitAndDuplicate, DuplicateTrackCopiesClipsIntoNewWorkFiles) {
    Session session;
    auto b = session.tracks[1];
    b->musics[0]->startTime = 6.0;
    b->musics[0]->fadeOutTime = 2.0;
    b->volume = 0.5;
    b->isOnlyPlay = true;

    auto copy = b->duplicate();
    EXPECT_EQ(copy->name, "B-1.wav");
    EXPECT_NE(copy->identify, b->identify);
    EXPECT_EQ(copy->volume, 1.0);
    EXPECT_FALSE(copy->isOnlyPlay);
    ASSERT_EQ(copy->musics.size(), 1u);
    const auto& clip = copy->musics[0];
    EXPECT_NE(clip->identify, b->musics[0]->identify);
    EXPECT_EQ(clip->startTime, 6.0);
    EXPECT_EQ(clip->fadeOutTime, 2.0);
    EXPECT_EQ(clip->name, "B.wav");
    EXPECT_EQ(clip->file->url().filePath(), fs::path(MusicFileManager::shared().operatePath()) / "00001.caf");
    EXPECT_EQ(clip->file->length(), 176400);
    const auto samples = editortest::readSamples(clip->file->url().filePath());
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](float s) { return s == 0.125f; }));

    // Split halves then a duplicate take work files 2, 3 and 4 in that order.
    session.split(session.tracks[0], 5.0);
    auto again = session.tracks[0]->musics[0]->duplicate();
    EXPECT_EQ(again->file->url().filePath(), fs::path(MusicFileManager::shared().operatePath()) / "00004.caf");
}
