// Making the layer's own audio units and reaching them from a node: instantiation by sub-type, the
// node's SonoraAU, and MIDI triggers through it.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "SonoraEX/SonoraAU.h"
#include "platform/audiotoolbox/AVAudioUnit.h"

#include <memory>
#include <string_view>

namespace sonora {

// Registers SonoraAU for the description ("Local internal AU", version 4294967295) and makes a
// node over a new unit, on this thread. No unit is the programming error "Unable to instantiate AVAudioUnit".
std::shared_ptr<platform::AVAudioUnit> instantiateAU(const platform::AudioComponentDescription& description);
// instantiate(generator:) 'augn', (instrument:) 'aumu', (effect:) 'aumf', (mixer:) 'aumx'.
std::shared_ptr<platform::AVAudioUnit> instantiateGenerator(std::string_view subType);
std::shared_ptr<platform::AVAudioUnit> instantiateInstrument(std::string_view subType);
std::shared_ptr<platform::AVAudioUnit> instantiateEffect(std::string_view subType);
std::shared_ptr<platform::AVAudioUnit> instantiateMixer(std::string_view subType);

// Node.kernelAU: the node's unit, which must be a SonoraAU ("Wrong audio unit type." otherwise).
SonoraAU& kernelAU(const Node& node);
// Node.playNote(note:velocity:): start(), then the note-on.
void playNote(Node& node, uint8_t note, uint8_t velocity);
// Node.sendDefaultNoteOn(velocity:): note 64, without start().
void sendDefaultNoteOn(const Node& node, uint8_t velocity);
void gateOn(const Node& node);
void gateOff(const Node& node);

}  // namespace sonora
