#include "TamberloMac/Document/EditorDocument.h"

#include "Services/Analytics/TrackManager.h"
#include "TamberloMac/Export/ExportSet.h"
#include "TamberloMac/Files/AudiovisualContent.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Playback/Player.h"
#include "TamberloMac/Shell/Localized.h"

#include <algorithm>
#include <cmath>

namespace tamberlo {

namespace {

void homeEvent(const std::string& action) { TrackManager::TrackPage("VC_Home", action); }

bool holds(const std::shared_ptr<TrackModel>& track, const std::shared_ptr<MusicModel>& music) {
    return track && track->holds(music);
}

// The timeline ends where the export's 44100 Hz mix-down reaches 2^32 frames (about 27 h): a time
// past it, or one that is not a number, is refused. Negative times clamp to 0 where they are used.
constexpr double kTimelineEndSeconds = 4294967295.0 / 44100.0;

bool fitsTimeline(double seconds) { return std::isfinite(seconds) && seconds <= kTimelineEndSeconds; }

}  // namespace

std::vector<std::shared_ptr<TrackModel>> EditorDocument::importMusics(const std::vector<platform::URL>& urls) {
    homeEvent("Action_Add");
    const auto kept = audiovisualContentURLs(urls);
    if (kept.empty()) {
        if (!urls.empty()) HUD::showErrorWithStatus(localized("导入失败"));
        return {};
    }
    stop();

    const auto imported = MusicFileManager::shared().importMusicsWithArr(kept);
    // Files that gave no clip are in the log with their reason; the user hears of them once.
    if (imported.size() < urls.size()) HUD::showErrorWithStatus(localized("导入失败"));
    std::vector<std::shared_ptr<TrackModel>> added;
    for (const auto& music : imported) {
        music->startTime = 0.0;
        auto track = TrackModel::make();
        track->name = music->name;
        track->musics = {music};
        added.push_back(track);
    }
    tracks.insert(tracks.end(), added.begin(), added.end());
    record();
    return added;
}

void EditorDocument::select(std::shared_ptr<TrackModel> track, std::shared_ptr<MusicModel> music) {
    // A different track while it played alone ends that playback, as the window's selection does.
    if (track != selectedTrack && Player::shared().isPlay() && !isPlayAll) stop();
    selectedTrack = std::move(track);
    Player::shared().setSelectMusic(std::move(music));
}

bool EditorDocument::canOperate() const { return holds(selectedTrack, Player::shared().selectMusic()); }

void EditorDocument::moveMusic(const std::shared_ptr<TrackModel>& track, const std::shared_ptr<MusicModel>& music,
                               double startTime) {
    if (!holds(track, music) || !fitsTimeline(startTime + music->duration())) return;
    const auto at = std::find(track->musics.begin(), track->musics.end(), music);
    double earliest = 0;
    if (at != track->musics.begin() && *(at - 1)) earliest = (*(at - 1))->startTime + (*(at - 1))->duration();
    double time = std::max(startTime, earliest);
    if (at + 1 != track->musics.end() && *(at + 1))
        time = std::max(earliest, std::min(time, (*(at + 1))->startTime - music->duration()));
    music->startTime = time;
    select(track, music);
    record();
    Player::shared().updatePlayer();
}

void EditorDocument::setFadeIn(double seconds) {
    homeEvent("Action_Music_FadeIn");
    if (!canOperate() || !fitsTimeline(seconds)) return;
    Player::shared().selectMusic()->fadeInTime = std::max(0.0, seconds);
    record();
    Player::shared().updatePlayer();
}

void EditorDocument::setFadeOut(double seconds) {
    homeEvent("Action_Music_FadeOut");
    if (!canOperate() || !fitsTimeline(seconds)) return;
    Player::shared().selectMusic()->fadeOutTime = std::max(0.0, seconds);
    record();
    Player::shared().updatePlayer();
}

void EditorDocument::muteMusic() {
    homeEvent("Action_Music_Mute");
    if (!canOperate()) return;
    auto music = Player::shared().selectMusic();
    music->isMute = !music->isMute;
    record();
    Player::shared().updatePlayer();
}

void EditorDocument::deleteMusic() {
    homeEvent("Action_Music_Delete");
    if (!canOperate()) return;
    stop();
    selectedTrack->deleteMusicWithMusic(Player::shared().selectMusic());
    Player::shared().setSelectMusic(nullptr);
    record();
}

bool EditorDocument::split(double time) {
    homeEvent("Action_Music_Split");
    if (!selectedTrack) return false;
    stop();
    const size_t clipsBefore = selectedTrack->musics.size();
    selectedTrack->splitAtTime(time);
    const bool cut = selectedTrack->musics.size() > clipsBefore;
    record();
    // Only a cut is a success: a time outside every clip of the track cuts nothing.
    if (cut) HUD::showSuccessWithStatus(localized("拆分成功"));
    return cut;
}

void EditorDocument::setTrackMute(const std::shared_ptr<TrackModel>& track, bool mute) {
    homeEvent("Action_Track_Mute");
    if (!track) return;
    track->isMute = mute;
    Player::shared().updatePlayer();
}

void EditorDocument::toggleOnlyPlay(const std::shared_ptr<TrackModel>& track) {
    homeEvent("Action_Track_Only_Play");
    if (!track) return;
    for (const auto& other : tracks)
        if (other) other->isOnlyPlay = other == track ? !other->isOnlyPlay : false;
    NotifyManager::post(NotifyManager::OnlyPlayTrackDidChange());
    Player::shared().updatePlayer();
}

void EditorDocument::setTrackVolume(const std::shared_ptr<TrackModel>& track, double volume) {
    if (!track || !std::isfinite(volume)) return;
    track->volume = std::max(0.0, volume);
    Player::shared().updatePlayer();
    homeEvent("Action_Track_Volume");
}

std::shared_ptr<TrackModel> EditorDocument::duplicateTrack(const std::shared_ptr<TrackModel>& track) {
    if (!track) return nullptr;
    stop();
    return appendCopy(track->duplicate());
}

std::shared_ptr<TrackModel> EditorDocument::appendCopy(std::shared_ptr<TrackModel> copy) {
    homeEvent("Action_Track_Copy");
    if (!copy) return nullptr;
    tracks.push_back(copy);
    record();
    return copy;
}

void EditorDocument::deleteTrack(const std::shared_ptr<TrackModel>& track) {
    if (!track) return;
    stop();
    homeEvent("Action_Track_Delete");
    std::erase(tracks, track);
    record();
    rebindSelectedTrack();
}

void EditorDocument::undo() {
    RecordSequence::shared().back();
    loadRecordTracks();
}

void EditorDocument::redo() {
    RecordSequence::shared().next();
    loadRecordTracks();
}

void EditorDocument::setMainVolume(double volume) {
    homeEvent("Action_Main_Volume");
    if (!std::isfinite(volume)) return;
    Player::shared().mainVolume = std::max(0.0, volume);
    Player::shared().updatePlayer();
}

void EditorDocument::setPlayStart(double seconds) {
    if (!fitsTimeline(seconds)) return;
    playStart_ = std::max(0.0, seconds);
    Player::shared().start = playStart_;
}

void EditorDocument::playAll() {
    homeEvent("Action_Main_Play");
    auto& player = Player::shared();
    player.setTracks(tracks);
    if (player.isPlay() && isPlayAll) {
        player.stop();
        return;
    }
    isPlayAll = true;
    player.play();
}

void EditorDocument::playSelectedTrack() {
    homeEvent("Action_Single_Play");
    if (!selectedTrack) return;
    auto& player = Player::shared();
    player.setTracks({selectedTrack});
    if (player.isPlay() && !isPlayAll) {
        player.stop();
        return;
    }
    isPlayAll = false;
    player.play();
}

void EditorDocument::stop() { Player::shared().stop(); }

std::shared_ptr<ExportController> EditorDocument::exportMusics() {
    homeEvent("Action_Export");
    stop();
    const auto set = exportSet(tracks);
    if (set.empty()) {
        HUD::showInfoWithStatus(localized("没有可以播放的音轨"));
        return nullptr;
    }
    // Tracks that play but hold no clip (the last one was deleted) give nothing to mix down: that
    // is not a failed export.
    if (std::none_of(set.begin(), set.end(), [](const auto& track) { return track && !track->musics.empty(); })) {
        HUD::showInfoWithStatus(localized("没有可以导出的内容"));
        return nullptr;
    }
    TrackManager::TrackCompleteRate("Complete_Export", "export_start", 1);
    auto controller = ExportController::make();
    controller->tracks = set;
    return controller;
}

void EditorDocument::saveExport(const std::shared_ptr<ExportController>& controller, const std::string& format,
                                const platform::URL& destination) {
    if (!controller) return;
    controller->formatChanged(format);
    controller->saveUrl = destination;
    controller->render();
}

void EditorDocument::record() { RecordSequence::shared().record(tracks); }

void EditorDocument::loadRecordTracks() {
    auto& history = RecordSequence::shared();
    if (!history.hasChange) return;
    tracks.clear();
    for (const auto& track : history.displays()) tracks.push_back(track->newCopy());
    rebindSelectedTrack();
    rebindSelectedMusic();
}

// The selected clip becomes its copy in the restored tracks, or none when they no longer hold it,
// so that what the window shows of it is the document's state after the step.
void EditorDocument::rebindSelectedMusic() {
    auto& player = Player::shared();
    const auto old = player.selectMusic();
    if (!old) return;
    for (const auto& track : tracks) {
        if (!track) continue;
        for (const auto& music : track->musics)
            if (music && music->identify == old->identify) return player.setSelectMusic(music);
    }
    player.setSelectMusic(nullptr);
}

void EditorDocument::rebindSelectedTrack() {
    if (!selectedTrack) return;
    const std::string identify = selectedTrack->identify;
    selectedTrack = nullptr;
    for (const auto& track : tracks)
        if (track && track->identify == identify) {
            selectedTrack = track;
            break;
        }
}

}  // namespace tamberlo
