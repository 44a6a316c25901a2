// The editor's open document and the commands that change it, without a window: the track list,
// the selected track, and every edit the window's buttons, rows, lanes and rulers ask for. Each
// command sends its usage event first; every change except track mute, solo and volume ends with
// a snapshot in the history (RecordSequence). Playback goes through Player::shared(), the
// selected clip is Player::shared().selectMusic(). Main thread only.
//
//   EditorDocument document;
//   document.importMusics({URL("/music/a.wav")});
//   document.select(document.tracks[0], document.tracks[0]->musics[0]);
//   document.setFadeIn(1.0);
//   document.setPlayStart(3.0);
//   document.playAll();
#pragma once

#include "TamberloMac/Export/ExportController.h"
#include "TamberloMac/Model/TrackModel.h"
#include "platform/foundation/URL.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamberlo {

class EditorDocument {
public:
    // The tracks, in display order.
    std::vector<std::shared_ptr<TrackModel>> tracks;
    // The track of the editing lane: target of split and of the selected-clip commands.
    std::shared_ptr<TrackModel> selectedTrack;
    // The current playback was started for all tracks (true) or for the selected track alone.
    bool isPlayAll = false;

    // --- Import ---

    // importMusics: keeps the audiovisual files (nothing happens without one), stops playback,
    // imports them into the work-file store and appends one track per clip (clip at 0 s, track
    // named after it). Returns the new tracks.
    std::vector<std::shared_ptr<TrackModel>> importMusics(const std::vector<platform::URL>& urls);

    // --- Selection ---

    // Makes `track` the selected track and `music` (or none) the selected clip.
    void select(std::shared_ptr<TrackModel> track, std::shared_ptr<MusicModel> music);
    // A clip is selected and the selected track holds it.
    bool canOperate() const;

    // --- Clip edits ---

    // Moves a clip of `track` to `startTime` seconds, kept at or after 0 s and between its
    // neighbours (a clip never passes another); selects it, records, and reschedules playback.
    void moveMusic(const std::shared_ptr<TrackModel>& track, const std::shared_ptr<MusicModel>& music, double startTime);
    // The selected clip's fade-in or fade-out length in seconds (0 = none); nothing without canOperate.
    void setFadeIn(double seconds);
    void setFadeOut(double seconds);
    // Toggles the selected clip's mute; nothing without canOperate.
    void muteMusic();
    // Removes the selected clip from the selected track (playback stops); nothing without canOperate.
    void deleteMusic();
    // Cuts the selected track's clip under `time` (the playhead) in two and shows "拆分成功";
    // false, and no message, when nothing was cut (no selected track, or no clip under `time`).
    bool split(double time);

    // --- Track edits (mute, solo and volume are not recorded) ---

    void setTrackMute(const std::shared_ptr<TrackModel>& track, bool mute);
    // Solo switch: the track toggles, every other track is unsoloed; posts
    // "NotifyManager.OnlyPlayTrackDidChange".
    void toggleOnlyPlay(const std::shared_ptr<TrackModel>& track);
    void setTrackVolume(const std::shared_ptr<TrackModel>& track, double volume);
    // Stops playback and appends the track's copy (new work files, name "x-1.wav"); returns it.
    std::shared_ptr<TrackModel> duplicateTrack(const std::shared_ptr<TrackModel>& track);
    // Appends a copy already made (a row's copy command, which stops playback itself) and records.
    std::shared_ptr<TrackModel> appendCopy(std::shared_ptr<TrackModel> copy);
    // Stops playback and removes the track.
    void deleteTrack(const std::shared_ptr<TrackModel>& track);

    // --- History (the selected track and clip become their restored copies, or none) ---

    void undo();
    void redo();

    // --- Playback ---

    // The master gain (reschedules playback).
    void setMainVolume(double volume);
    // Moves the playhead: the next play or reschedule starts there.
    void setPlayStart(double seconds);
    double playStart() const { return playStart_; }
    // Play/stop all tracks; play/stop the selected track alone (nothing without one).
    void playAll();
    void playSelectedTrack();
    void stop();

    // --- Export ---

    // The export command: stops playback; with no track that plays shows "没有可以播放的音轨", with
    // playing tracks but no clip on them "没有可以导出的内容", and returns none; otherwise a
    // controller holding the export set (exportSet).
    std::shared_ptr<ExportController> exportMusics();
    // The sheet's save: the format and destination, then the mix-down and the conversion. The
    // outcome arrives through the controller's blocks and the status overlay.
    static void saveExport(const std::shared_ptr<ExportController>& controller, const std::string& format,
                           const platform::URL& destination);

private:
    void record();
    void loadRecordTracks();
    void rebindSelectedTrack();
    void rebindSelectedMusic();
    double playStart_ = 0;
};

}  // namespace tamberlo
