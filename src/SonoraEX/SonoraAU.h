// The audio layer's own audio unit: one processing kernel, chosen by the component sub-type, behind
// the platform's unit interface. Buses, render resources, the render block, parameter values,
// bypass and wavetables all go to the kernel through the bridge functions.
#pragma once

#include "SonoraEX/Kernels/DSPBase.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <memory>
#include <optional>
#include <vector>

namespace sonora {

class SonoraAU : public platform::AUAudioUnit {
public:
    // The registered name and version of the class.
    static constexpr const char* registeredName = "Local internal AU";
    static constexpr uint32_t registeredVersion = 4294967295u;

    // init(componentDescription:options:). Throws NSErrorException when the sub-type names no kernel.
    SonoraAU(const platform::AudioComponentDescription& description, platform::AudioComponentInstantiationOptions options);
    ~SonoraAU() override;

    // The factory registerSubclass takes: a new unit, or null with the error.
    static std::shared_ptr<platform::AUAudioUnit> make(const platform::AudioComponentDescription& description,
                                                       platform::AudioComponentInstantiationOptions options,
                                                       platform::NSError* outError);

    std::vector<int> channelCapabilities() const override;
    platform::AUAudioUnitBusArray& inputBusses() override;
    platform::AUAudioUnitBusArray& outputBusses() override;
    bool allocateRenderResources(platform::NSError* outError = nullptr) override;
    void deallocateRenderResources() override;
    // The kernel's reset only.
    void reset() override;
    platform::AUInternalRenderBlock internalRenderBlock() const override;
    // Stores the tree and installs the value observer, value provider and string callback on it.
    void setParameterTree(std::shared_ptr<platform::AUParameterTree> tree) override;
    bool canProcessInPlace() const override;
    bool shouldBypassEffect() const override;
    void setShouldBypassEffect(bool bypass) override;
    bool rendersBypass() const override { return true; }

    // Schedules [0x90, note, velocity] at once; a unit without a MIDI block is a programming error.
    void sendNoteOn(uint8_t note, uint8_t velocity);
    // Note-on for note 64 with velocity 127 / velocity 0.
    void gateOn();
    void gateOff();
    // The kernel's wavetable operation; an index outside 32 bits is a programming error.
    void setWavetable(const std::vector<float>& table, int64_t index);
    void setWavetable(const float* data, size_t size, int64_t index);

    DSPBase* kernel() const { return dsp; }
    // The buffers allocated for the input buses (none for an in-place kernel with one input).
    size_t internalBufferCount() const { return internalBuffers.size(); }

private:
    std::vector<std::shared_ptr<platform::AUAudioUnitBus>> inputBusArray;
    std::vector<std::shared_ptr<platform::AUAudioUnitBus>> outputBusArray;
    std::vector<std::shared_ptr<platform::AVAudioPCMBuffer>> internalBuffers;
    int supportedLeftChannelCount = 2;
    int supportedRightChannelCount = 2;
    std::optional<platform::AUAudioUnitBusArray> auInputBusArray;
    std::optional<platform::AUAudioUnitBusArray> auOutputBusArray;
    DSPBase* dsp = nullptr;
};

// Logs the fixed message of a programming error and throws it as std::logic_error.
[[noreturn]] void programmingError(const char* message);

}  // namespace sonora
