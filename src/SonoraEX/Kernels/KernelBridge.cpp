#include "SonoraEX/Kernels/KernelBridge.h"

#include "SonoraEX/Kernels/CallbackInstrumentDSP.h"
#include "SonoraEX/Kernels/FaderDSP.h"
#include "SonoraEX/Kernels/StereoFieldLimiterDSP.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace sonora {

namespace {

std::map<std::string, DSPCreateFunction>* factoryMap = nullptr;
std::map<std::string, uint64_t>* paramMap = nullptr;

[[noreturn]] void fatal(const char* function, const char* condition, const char* message) {
    std::fprintf(stderr, "%s: Assertion `%s' failed: %s\n", function, condition, message);
    std::fflush(stderr);
    std::abort();
}

// The library's kernels register here, from code every unit links, so that a static link keeps them.
void registerKernels() {
    static std::once_flag once;
    std::call_once(once, [] {
        addCreateFunction("clbk", [] { return static_cast<DSPBase*>(new CallbackInstrumentDSP()); });
        addCreateFunction("fder", [] { return static_cast<DSPBase*>(new FaderDSP()); });
        addParameter("FaderParameterLeftGain", FaderDSP::leftGainAddress);
        addParameter("FaderParameterRightGain", FaderDSP::rightGainAddress);
        addParameter("FaderParameterFlipStereo", FaderDSP::flipStereoAddress);
        addParameter("FaderParameterMixToMono", FaderDSP::mixToMonoAddress);
        addCreateFunction("sflm", [] { return static_cast<DSPBase*>(new StereoFieldLimiterDSP()); });
        addParameter("StereoFieldLimiterParameterAmount", StereoFieldLimiterDSP::amountAddress);
    });
}

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void addCreateFunction(const char* name, DSPCreateFunction create) {
    std::lock_guard lock(registryMutex());
    if (!factoryMap) factoryMap = new std::map<std::string, DSPCreateFunction>();
    if (factoryMap->count(name) != 0) fatal("addCreateFunction", "factoryMap->count(name) == 0", "redundant DSP kernel registration");
    (*factoryMap)[name] = create;
}

void addParameter(const char* name, uint64_t address) {
    std::lock_guard lock(registryMutex());
    if (!paramMap) paramMap = new std::map<std::string, uint64_t>();
    if (paramMap->count(name) != 0) fatal("addParameter", "paramMap->count(name) == 0", "Parameter already registered.");
    (*paramMap)[name] = address;
}

DSPBase* create(const char* name) {
    registerKernels();
    DSPCreateFunction function = nullptr;
    {
        std::lock_guard lock(registryMutex());
        if (!factoryMap) fatal("create", "factoryMap", "Fatal error: node factory not initialized.");
        const auto it = factoryMap->find(name ? name : "");
        if (it != factoryMap->end()) function = it->second;
    }
    if (!function) {
        std::printf("Unknown DSPBase subclass: %s\n", name ? name : "");
        std::fflush(stdout);
        return nullptr;
    }
    return function();
}

DSPBase* akCreateDSPForSubtype(uint32_t subtype) {
    const char name[5] = {char((subtype >> 24) & 0xFF), char((subtype >> 16) & 0xFF), char((subtype >> 8) & 0xFF),
                          char(subtype & 0xFF), 0};
    return create(name);
}

uint64_t akGetParameterAddress(const char* name) {
    registerKernels();
    std::lock_guard lock(registryMutex());
    if (!paramMap) fatal("akGetParameterAddress", "paramMap", "akGetParameterAddress: Fatal error: parameter map not initialized.");
    const auto it = paramMap->find(name ? name : "");
    if (it == paramMap->end()) {
        std::printf("akGetParameterAddress: Unknown parameter name: %s\n", name ? name : "");
        std::fflush(stdout);
        return 0;
    }
    return it->second;
}

size_t akDSPGetInputBusCount(DSPBase* dsp) { return dsp->inputBusCount(); }
bool akDSPCanProcessInPlace(DSPBase* dsp) { return dsp->canProcessInPlace(); }
void akDSPSetBuffer(DSPBase* dsp, platform::AudioBufferList* list, size_t bus) { dsp->setBuffer(list, bus); }
void akDSPAllocateRenderResources(DSPBase* dsp, int channelCount, double sampleRate) { dsp->init(channelCount, sampleRate); }
void akDSPDeallocateRenderResources(DSPBase* dsp) { dsp->deinit(); }
void akDSPReset(DSPBase* dsp) { dsp->reset(); }
void akDSPSetParameter(DSPBase* dsp, uint64_t address, float value) { dsp->setParameter(address, value, false); }
float akDSPGetParameter(DSPBase* dsp, uint64_t address) { return dsp->getParameter(address); }
void akDSPSetBypass(DSPBase* dsp, bool bypass) { dsp->setBypass(bypass); }
bool akDSPGetBypass(DSPBase* dsp) { return dsp->bypassed(); }
void akDSPSetWavetable(DSPBase* dsp, const float* table, size_t length, int index) { dsp->setWavetable(table, length, index); }
void akDSPDelete(DSPBase* dsp) { delete dsp; }
platform::AUInternalRenderBlock akDSPInternalRenderBlock(DSPBase* dsp) { return dsp->internalRenderBlock(); }

void akCallbackInstrumentSetCallback(DSPBase* dsp, std::function<void(uint8_t, uint8_t, uint8_t)> callback) {
    if (auto* instrument = dynamic_cast<CallbackInstrumentDSP*>(dsp)) instrument->setCallback(std::move(callback));
}

void akSetSeed(uint32_t seed) { std::srand(seed); }

}  // namespace sonora
