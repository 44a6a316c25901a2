// One track of a media asset: its media type and the formats of its samples.
#pragma once

#include "platform/avfoundation/AVMediaFormat.h"
#include "platform/coremedia/CMFormatDescription.h"

#include <cstdint>
#include <vector>

namespace platform {

class AVAssetTrack {
public:
    AVAssetTrack(AVMediaType mediaType, std::vector<CMAudioFormatDescription> formatDescriptions, int32_t trackID = 0)
        : mediaType_(mediaType), formatDescriptions_(std::move(formatDescriptions)), trackID_(trackID) {}

    AVMediaType mediaType() const { return mediaType_; }
    // The format descriptions of the track's samples.
    const std::vector<CMAudioFormatDescription>& formatDescriptions() const { return formatDescriptions_; }
    // The track's number in its asset: audio tracks count 1, 2, ... in container order (0: unknown).
    int32_t trackID() const { return trackID_; }

private:
    AVMediaType mediaType_;
    std::vector<CMAudioFormatDescription> formatDescriptions_;
    int32_t trackID_ = 0;
};

}  // namespace platform
