// Core Media's description of an audio format, as a media asset's tracks carry it.
#pragma once

#include "platform/coreaudio/CoreAudioTypes.h"

namespace platform {

// CMAudioFormatDescription: the stream description of one audio track.
struct CMAudioFormatDescription {
    AudioStreamBasicDescription streamBasicDescription;
};

// CMAudioFormatDescriptionGetStreamBasicDescription: the description inside (never nullptr).
inline const AudioStreamBasicDescription* CMAudioFormatDescriptionGetStreamBasicDescription(
    const CMAudioFormatDescription& description) {
    return &description.streamBasicDescription;
}

}  // namespace platform
