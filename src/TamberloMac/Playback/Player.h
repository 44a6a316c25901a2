// The editor's playback service, one per process. This header holds the part the model needs:
// the editor's selected clip, whose every change is announced with
// "NotifyManager.SelectedMusicDidChange".
#pragma once

#include "TamberloMac/Model/MusicModel.h"

#include <memory>

namespace tamberlo {

class Player {
public:
    // The process-wide service, created on first use.
    static Player& shared();

    // The editor's selected clip, or null.
    std::shared_ptr<MusicModel> selectMusic() const { return selectMusic_; }
    // Stores the clip (or null) and posts "NotifyManager.SelectedMusicDidChange" (no object).
    void setSelectMusic(std::shared_ptr<MusicModel> music);

private:
    Player() = default;
    std::shared_ptr<MusicModel> selectMusic_;
};

}  // namespace tamberlo
