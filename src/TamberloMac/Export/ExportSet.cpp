#include "TamberloMac/Export/ExportSet.h"

namespace tamberlo {

std::vector<std::shared_ptr<TrackModel>> exportSet(const std::vector<std::shared_ptr<TrackModel>>& tracks) {
    for (const auto& track : tracks) {
        if (track && track->isOnlyPlay) {
            if (track->isMute) return {};
            return {track};
        }
    }
    std::vector<std::shared_ptr<TrackModel>> set;
    for (const auto& track : tracks)
        if (track && !track->isMute) set.push_back(track);
    return set;
}

}  // namespace tamberlo
