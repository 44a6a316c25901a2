// The names of the editor's notifications, posted without an object on the default notification
// centre (platform::NotificationCenter::defaultCenter()).
#pragma once

#include <string>

namespace tamberlo {

class NotifyManager {
public:
    // The selected clip changed (playback service, split).
    static std::string SelectedMusicDidChange() { return "NotifyManager.SelectedMusicDidChange"; }
    // A track's solo switch changed (track rows).
    static std::string OnlyPlayTrackDidChange() { return "NotifyManager.OnlyPlayTrackDidChange"; }
    // Playback started or stopped.
    static std::string PlayStateDidChange() { return "NotifyManager.PlayStateDidChange"; }

    // Posts the named notification, with no object, on the default centre.
    static void post(const std::string& name);
};

}  // namespace tamberlo
