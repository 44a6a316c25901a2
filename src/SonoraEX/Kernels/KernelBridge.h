// The flat functions through which the audio unit (SonoraAU) and the nodes reach a kernel, and
// the process-wide registry of kernels by four-character name and of parameter addresses by name.
// The three kernels of the library register on first use of the registry.
#pragma once

#include "SonoraEX/Kernels/DSPBase.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sonora {

using DSPCreateFunction = DSPBase* (*)();

// Registry. A name registered twice stops the process ("redundant DSP kernel registration",
// "Parameter already registered.").
void addCreateFunction(const char* name, DSPCreateFunction create);
void addParameter(const char* name, uint64_t address);
// The kernel registered under the name (owned by the caller), or null after printing
// "Unknown DSPBase subclass: <name>".
DSPBase* create(const char* name);
// The four characters of the code, most significant byte first, as the kernel name.
DSPBase* akCreateDSPForSubtype(uint32_t subtype);
// The address registered under the name; 0 after printing a message when there is none.
uint64_t akGetParameterAddress(const char* name);

// Bridge: every function takes the kernel first.
size_t akDSPGetInputBusCount(DSPBase* dsp);
bool akDSPCanProcessInPlace(DSPBase* dsp);
void akDSPSetBuffer(DSPBase* dsp, platform::AudioBufferList* list, size_t bus);
void akDSPAllocateRenderResources(DSPBase* dsp, int channelCount, double sampleRate);
void akDSPDeallocateRenderResources(DSPBase* dsp);
void akDSPReset(DSPBase* dsp);
void akDSPSetParameter(DSPBase* dsp, uint64_t address, float value);
float akDSPGetParameter(DSPBase* dsp, uint64_t address);
void akDSPSetBypass(DSPBase* dsp, bool bypass);
bool akDSPGetBypass(DSPBase* dsp);
void akDSPSetWavetable(DSPBase* dsp, const float* table, size_t length, int index);
// Null: nothing.
void akDSPDelete(DSPBase* dsp);
platform::AUInternalRenderBlock akDSPInternalRenderBlock(DSPBase* dsp);

// The callback instrument's closure (status, data 1, data 2), called off the render thread.
void akCallbackInstrumentSetCallback(DSPBase* dsp, std::function<void(uint8_t, uint8_t, uint8_t)> callback);

// Seeds the C library's pseudo-random generator.
void akSetSeed(uint32_t seed);

}  // namespace sonora
