#include "platform/audiotoolbox/AUAudioUnitBus.h"

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AudioUnit.h"

namespace platform {

bool AUAudioUnitBus::setFormat(const AVAudioFormat& format, NSError* outError) {
    if (!format.isValid() || !format.isPCM()) {
        if (outError)
            *outError = makeOSStatusError(kAudioUnitErr_FormatNotSupported, "The bus cannot take a non-PCM format.");
        return false;
    }
    if (format == format_) return true;
    if (ownerAudioUnit_ && ownerAudioUnit_->renderResourcesAllocated()) {
        if (outError)
            *outError = makeOSStatusError(kAudioUnitErr_Initialized, "The bus format cannot change while the unit renders.");
        return false;
    }
    if (ownerAudioUnit_ && !ownerAudioUnit_->shouldChangeToFormat(format, *this)) {
        if (outError) *outError = makeOSStatusError(kAudioUnitErr_FormatNotSupported, "The unit refused the bus format.");
        return false;
    }
    format_ = format;
    return true;
}

}  // namespace platform
