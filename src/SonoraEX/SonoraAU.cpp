#include "SonoraEX/SonoraAU.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/MIDI/MIDIEvent.h"
#include "SonoraEX/Kernels/KernelBridge.h"
#include "platform/audiotoolbox/AudioUnit.h"

#include <cstdio>
#include <limits>
#include <stdexcept>

namespace sonora {

using platform::AUAudioUnitBus;
using platform::AUAudioUnitBusType;
using platform::AVAudioFormat;

void programmingError(const char* message) {
    Log({message}, OSLog::general(), OSLogType::error);
    throw std::logic_error(message);
}

SonoraAU::SonoraAU(const platform::AudioComponentDescription& description, platform::AudioComponentInstantiationOptions)
    : AUAudioUnit(description, 0, 0) {
    dsp = akCreateDSPForSubtype(description.componentSubType);
    if (!dsp)
        throw platform::NSErrorException(platform::makeOSStatusError(
            platform::invalidComponentID,
            "No processing kernel is named " + platform::fourCharCodeString(description.componentSubType) + "."));
    const AVAudioFormat format = AVAudioFormat::standardFormatWithSampleRate(44100.0, 2);
    for (size_t i = 0; i < akDSPGetInputBusCount(dsp); ++i)
        inputBusArray.push_back(std::make_shared<AUAudioUnitBus>(AUAudioUnitBusType::input, uint32_t(i), format));
    outputBusArray.push_back(std::make_shared<AUAudioUnitBus>(AUAudioUnitBusType::output, 0, format));
    setParameterTree(platform::AUParameterTree::createTree({}));
}

SonoraAU::~SonoraAU() { akDSPDelete(dsp); }

std::shared_ptr<platform::AUAudioUnit> SonoraAU::make(const platform::AudioComponentDescription& description,
                                                      platform::AudioComponentInstantiationOptions options,
                                                      platform::NSError* outError) {
    try {
        return std::make_shared<SonoraAU>(description, options);
    } catch (const platform::NSErrorException& e) {
        if (outError) *outError = e.error();
        return nullptr;
    }
}

std::vector<int> SonoraAU::channelCapabilities() const { return {supportedLeftChannelCount, supportedRightChannelCount}; }

platform::AUAudioUnitBusArray& SonoraAU::inputBusses() {
    if (!auInputBusArray) auInputBusArray.emplace(this, AUAudioUnitBusType::input, inputBusArray);
    return *auInputBusArray;
}

platform::AUAudioUnitBusArray& SonoraAU::outputBusses() {
    if (!auOutputBusArray) auOutputBusArray.emplace(this, AUAudioUnitBusType::output, outputBusArray);
    return *auOutputBusArray;
}

bool SonoraAU::allocateRenderResources(platform::NSError* outError) {
    if (!AUAudioUnit::allocateRenderResources(outError)) return false;
    internalBuffers.clear();
    if (!inputBusArray.empty() && inputBusArray[0]->format().isValid() &&
        !(canProcessInPlace() && inputBusArray.size() < 2)) {
        const AVAudioFormat& format = inputBusArray[0]->format();
        for (size_t i = 0; i < inputBusArray.size(); ++i) {
            auto buffer = platform::AVAudioPCMBuffer::make(format, maximumFramesToRender());
            if (!buffer) continue;
            buffer->setFrameLength(maximumFramesToRender());
            akDSPSetBuffer(dsp, buffer->mutableAudioBufferList(), i);
            internalBuffers.push_back(std::move(buffer));
        }
    }
    if (!outputBusArray.empty() && outputBusArray[0]->format().isValid()) {
        const AVAudioFormat& format = outputBusArray[0]->format();
        akDSPAllocateRenderResources(dsp, int(format.channelCount()), format.sampleRate());
    }
    return true;
}

void SonoraAU::deallocateRenderResources() {
    AUAudioUnit::deallocateRenderResources();
    akDSPDeallocateRenderResources(dsp);
    for (size_t i = 0; i < internalBuffers.size(); ++i) akDSPSetBuffer(dsp, nullptr, i);
    internalBuffers.clear();
}

void SonoraAU::reset() { akDSPReset(dsp); }

platform::AUInternalRenderBlock SonoraAU::internalRenderBlock() const { return akDSPInternalRenderBlock(dsp); }

void SonoraAU::setParameterTree(std::shared_ptr<platform::AUParameterTree> tree) {
    AUAudioUnit::setParameterTree(tree);
    if (!tree) return;
    // The kernel, not the unit, is held: the blocks never keep the unit alive.
    DSPBase* kernel = dsp;
    std::weak_ptr<AUAudioUnit> weak = weak_from_this();
    const bool owned = !weak.expired();
    tree->implementorValueObserver = [kernel, weak, owned](platform::AUParameter* parameter, platform::AUValue value) {
        const auto unit = weak.lock();
        if (owned && !unit) return;
        akDSPSetParameter(kernel, parameter->address(), value);
    };
    tree->implementorValueProvider = [kernel, weak, owned](platform::AUParameter* parameter) {
        const auto unit = weak.lock();
        if (owned && !unit) return 0.0f;
        return akDSPGetParameter(kernel, parameter->address());
    };
    tree->implementorStringFromValueCallback = [](platform::AUParameter*, const platform::AUValue* value) -> std::string {
        if (!value) return "Invalid";
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", double(*value));
        return text;
    };
}

bool SonoraAU::canProcessInPlace() const { return akDSPCanProcessInPlace(dsp); }

bool SonoraAU::shouldBypassEffect() const { return akDSPGetBypass(dsp); }

void SonoraAU::setShouldBypassEffect(bool bypass) { akDSPSetBypass(dsp, bypass); }

void SonoraAU::sendNoteOn(uint8_t note, uint8_t velocity) {
    const auto block = scheduleMIDIEventBlock();
    if (!block) programmingError("Attempt to trigger audio unit which doesn't respond to MIDI.");
    const MIDIEvent event = MIDIEvent::noteOn(note, velocity, 0);
    block(platform::AUEventSampleTimeImmediate, 0, platform::NSInteger(event.data.size()), event.data.data());
}

void SonoraAU::gateOn() { sendNoteOn(64, 127); }

void SonoraAU::gateOff() { sendNoteOn(64, 0); }

void SonoraAU::setWavetable(const std::vector<float>& table, int64_t index) { setWavetable(table.data(), table.size(), index); }

void SonoraAU::setWavetable(const float* data, size_t size, int64_t index) {
    if (index < std::numeric_limits<int32_t>::min() || index > std::numeric_limits<int32_t>::max())
        programmingError("Wavetable index out of range.");
    akDSPSetWavetable(dsp, data, size, int(index));
}

}  // namespace sonora
