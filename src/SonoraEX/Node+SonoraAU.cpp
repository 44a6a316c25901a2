#include "SonoraEX/Node+SonoraAU.h"

#include "Sonora/Internals/Engine/AudioComponentDescriptions.h"
#include "platform/avfaudio/AVAudioNode.h"

namespace sonora {

std::shared_ptr<platform::AVAudioUnit> instantiateAU(const platform::AudioComponentDescription& description) {
    platform::AUAudioUnit::registerSubclass(SonoraAU::make, description, SonoraAU::registeredName,
                                            SonoraAU::registeredVersion);
    std::shared_ptr<platform::AVAudioUnit> result;
    // The platform completes before it returns, on this thread.
    platform::AVAudioUnit::instantiate(description, 0, [&](std::shared_ptr<platform::AVAudioUnit> unit, auto) {
        result = std::move(unit);
    });
    if (!result) programmingError("Unable to instantiate AVAudioUnit");
    return result;
}

std::shared_ptr<platform::AVAudioUnit> instantiateGenerator(std::string_view subType) {
    return instantiateAU(generatorDescription(subType));
}
std::shared_ptr<platform::AVAudioUnit> instantiateInstrument(std::string_view subType) {
    return instantiateAU(instrumentDescription(subType));
}
std::shared_ptr<platform::AVAudioUnit> instantiateEffect(std::string_view subType) {
    return instantiateAU(musicEffectDescription(subType));
}
std::shared_ptr<platform::AVAudioUnit> instantiateMixer(std::string_view subType) {
    return instantiateAU(mixerDescription(subType));
}

SonoraAU& kernelAU(const Node& node) {
    const auto avNode = node.avAudioNode();
    auto* unit = avNode ? dynamic_cast<SonoraAU*>(avNode->auAudioUnit().get()) : nullptr;
    if (!unit) programmingError("Wrong audio unit type.");
    return *unit;
}

void playNote(Node& node, uint8_t note, uint8_t velocity) {
    node.start();
    kernelAU(node).sendNoteOn(note, velocity);
}

void sendDefaultNoteOn(const Node& node, uint8_t velocity) { kernelAU(node).sendNoteOn(64, velocity); }

void gateOn(const Node& node) { sendDefaultNoteOn(node, 127); }

void gateOff(const Node& node) { sendDefaultNoteOn(node, 0); }

}  // namespace sonora
