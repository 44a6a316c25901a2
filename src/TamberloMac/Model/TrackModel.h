// One track of the editor: a named list of clips in timeline order, with a volume (linear gain),
// a mute switch and a solo switch (isOnlyPlay).
#pragma once

#include "TamberloMac/Model/MusicModel.h"

#include <memory>
#include <string>
#include <vector>

namespace tamberlo {

class TrackModel {
public:
    // A track with a new identity, no name, no clips, volume 1.0, not muted, not soloed.
    TrackModel();
    static std::shared_ptr<TrackModel> make() { return std::make_shared<TrackModel>(); }

    std::string identify;
    std::string name;
    // The clips, in timeline order.
    std::vector<std::shared_ptr<MusicModel>> musics;
    double volume = 1.0;
    bool isMute = false;
    // Solo: when any track has it set, only the first such track sounds.
    bool isOnlyPlay = false;

    // The end of the LAST clip of the list (its start + its duration); 0 without clips.
    double duration() const;

    // splitAtTime: cuts the clip under `time` (timeline seconds) in two work files; the first half
    // becomes the selected clip. Nothing happens when no clip has at least one frame on each side
    // of the cut.
    void splitAtTime(double time);
    // True when this very clip object is one of the track's clips.
    bool holds(const std::shared_ptr<MusicModel>& music) const;
    // deleteMusicWithMusic: removes every occurrence of that clip object.
    void deleteMusicWithMusic(const std::shared_ptr<MusicModel>& music);
    // The track for the history: same identity, name and clip copies (newCopy), but volume 1.0,
    // not muted, not soloed.
    std::shared_ptr<TrackModel> newCopy() const;
    // The track-copy command's copy: new identity, name with "-1" before the extension, every clip
    // duplicated into a work file of its own; volume, mute and solo not copied.
    std::shared_ptr<TrackModel> duplicate() const;
};

// The name of a copied track: "song.mp3" → "song-1.mp3", "take" → "take-1.", "" → "-1".
std::string duplicateTrackName(const std::string& name);

}  // namespace tamberlo
