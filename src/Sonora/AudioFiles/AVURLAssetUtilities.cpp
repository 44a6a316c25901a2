#include "Sonora/AudioFiles/AVURLAssetUtilities.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/coremedia/CMFormatDescription.h"

namespace sonora {

std::optional<platform::AVAudioFormat> audioFormat(const platform::AVURLAsset& asset) {
    try {
        return platform::AVAudioFile::forReading(asset.url())->fileFormat();
    } catch (const platform::NSErrorException&) {
        // Not an audio file the reader opens: fall back to the asset's tracks.
    }
    for (const auto& track : asset.tracks(platform::AVMediaType::audio)) {
        if (track.mediaType() != platform::AVMediaType::audio) continue;
        for (const auto& description : track.formatDescriptions()) {
            const platform::AVAudioFormat format(*platform::CMAudioFormatDescriptionGetStreamBasicDescription(description));
            if (format.isValid()) return format;
        }
    }
    return std::nullopt;
}

}  // namespace sonora
