// Which tracks an export mixes: the first soloed track alone when it is not muted; with no soloed
// track, every unmuted track in list order. An empty result means there is nothing to export and
// the caller shows localized("没有可以播放的音轨") instead.
#pragma once

#include "TamberloMac/Model/TrackModel.h"

#include <memory>
#include <vector>

namespace tamberlo {

std::vector<std::shared_ptr<TrackModel>> exportSet(const std::vector<std::shared_ptr<TrackModel>>& tracks);

}  // namespace tamberlo
