#include "platform/avfoundation/AVURLAsset.h"

#include "platform/media/FFmpegBackend.h"

namespace platform {

std::vector<AVAssetTrack> AVURLAsset::tracks(AVMediaType mediaType) const {
    if (!tracks_) {
        tracks_.emplace();
        // Only audio tracks are described; the asset has no use for the others.
        int32_t trackID = 0;
        for (const AudioStreamBasicDescription& d : detail::probeAudioStreams(url_.path()))
            tracks_->emplace_back(AVMediaType::audio, std::vector<CMAudioFormatDescription>{{d}}, ++trackID);
    }
    std::vector<AVAssetTrack> found;
    for (const AVAssetTrack& track : *tracks_)
        if (track.mediaType() == mediaType) found.push_back(track);
    return found;
}

}  // namespace platform
