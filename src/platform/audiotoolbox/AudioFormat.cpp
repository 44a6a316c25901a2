#include "platform/audiotoolbox/AudioFormat.h"

namespace platform {

OSStatus AudioFormatGetProperty(AudioFormatPropertyID propertyID, uint32_t, const void*, uint32_t* ioPropertyDataSize,
                                void* outPropertyData) {
    if (propertyID != kAudioFormatProperty_FormatInfo) return kAudioFormatUnsupportedPropertyError;
    if (!ioPropertyDataSize || !outPropertyData) return kAudio_ParamError;
    if (*ioPropertyDataSize != sizeof(AudioStreamBasicDescription)) return kAudioFormatBadPropertySizeError;
    auto& d = *static_cast<AudioStreamBasicDescription*>(outPropertyData);
    auto packets = [&](uint32_t framesPerPacket) {
        d.mFramesPerPacket = framesPerPacket;
        d.mBytesPerPacket = 0;
        d.mBytesPerFrame = 0;
        d.mBitsPerChannel = 0;
        return noErr;
    };
    switch (d.mFormatID) {
    case kAudioFormatMPEG4AAC: return packets(1024);
    case kAudioFormatMPEGLayer3: return packets(1152);
    case kAudioFormatAppleLossless: return packets(4096);
    case kAudioFormatLinearPCM: {
        const uint32_t bits = d.mBitsPerChannel;
        const bool isFloat = d.mFormatFlags & kAudioFormatFlagIsFloat;
        if (bits == 0 || bits % 8 != 0 || bits > 64 || (isFloat && bits != 32 && bits != 64) || (!isFloat && bits > 32) ||
            d.mChannelsPerFrame == 0)
            return kAudioFormatUnsupportedDataFormatError;
        const bool nonInterleaved = d.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
        d.mFramesPerPacket = 1;
        d.mBytesPerFrame = (bits / 8) * (nonInterleaved ? 1 : d.mChannelsPerFrame);
        d.mBytesPerPacket = d.mBytesPerFrame;
        d.mFormatFlags |= kAudioFormatFlagIsPacked;
        return noErr;
    }
    default: return kAudioFormatUnsupportedDataFormatError;
    }
}

}  // namespace platform
