#include "platform/audiotoolbox/AUAudioUnitBus.h"

#include "platform/audiotoolbox/AudioUnit.h"

namespace platform {

bool AUAudioUnitBus::setFormat(const AVAudioFormat& format, NSError* outError) {
    if (!format.isValid() || !format.isPCM()) {
        if (outError)
            *outError = makeOSStatusError(kAudioUnitErr_FormatNotSupported, "The bus cannot take a non-PCM format.");
        return false;
    }
    format_ = format;
    return true;
}

}  // namespace platform
