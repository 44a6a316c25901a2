#include "SonoraEX/Nodes/CallbackInstrument.h"

#include "SonoraEX/Kernels/KernelBridge.h"
#include "SonoraEX/Node+SonoraAU.h"

namespace sonora {

CallbackInstrument::CallbackInstrument(MIDICallback callback) : avAudioNode_(instantiateInstrument("clbk")) {
    if (callback) akCallbackInstrumentSetCallback(kernelAU(*this).kernel(), std::move(callback));
}

}  // namespace sonora
