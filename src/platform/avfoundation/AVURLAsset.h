// A media file named by URL, seen as tracks (probed with FFmpeg on first use).
#pragma once

#include "platform/avfoundation/AVAssetTrack.h"
#include "platform/foundation/URL.h"

#include <optional>
#include <vector>

namespace platform {

class AVURLAsset {
public:
    // init(url:) / assetWithURL:. Opening is lazy: a missing or unreadable file has no tracks.
    explicit AVURLAsset(URL url) : url_(std::move(url)) {}

    const URL& url() const { return url_; }
    // tracks(withMediaType:): the tracks of that type in container order.
    std::vector<AVAssetTrack> tracks(AVMediaType mediaType) const;

private:
    URL url_;
    mutable std::optional<std::vector<AVAssetTrack>> tracks_;  // probed once
};

}  // namespace platform
