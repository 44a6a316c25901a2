#include "Sonora/MIDI/MIDISampler.h"

#include "Sonora/Internals/ErrorHandling/CheckError.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/ObjectAddress.h"
#include "Sonora/MIDI/MIDI.h"
#include "Sonora/MIDI/MIDIPacketSequence.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"

namespace sonora {

MIDISampler::MIDISampler(std::optional<std::string> name) {
    name_ = name ? *name : objectAddressString(this);
    enableMIDI(MIDI::sharedInstance().client(), name_);
    platform::MIDIObjectSetIntegerProperty(midiIn_, platform::kMIDIPropertyPrivate, 1);
}

MIDISampler::~MIDISampler() { disableMIDI(); }

void MIDISampler::enableMIDI(platform::MIDIClientRef client, std::optional<std::string> name) {
    // The block keeps only the unit's scheduling block, which holds the unit weakly: a message
    // arriving while this object goes away reaches nothing freed.
    platform::AUScheduleMIDIEventBlock schedule = samplerUnit()->auAudioUnit()->scheduleMIDIEventBlock();
    if (!schedule) {
        Log({"Expected AU to respond to MIDI."}, OSLog::midi(), OSLogType::error);
        return;
    }
    const platform::OSStatus status = platform::MIDIDestinationCreateWithBlock(
        client, name ? *name : name_, &midiIn_,
        [schedule](const platform::MIDIPacketList* list, size_t bytes, void*) {
            MIDIPacketListIterator packets(list, bytes);
            while (const auto packet = packets.next())
                for (const auto& event : packetEvents(*packet))
                    schedule(platform::AUEventSampleTimeImmediate, 0, platform::NSInteger(event.data.size()),
                             event.data.data());
        });
    CheckError(status);
}

void MIDISampler::disableMIDI() {
    if (midiIn_ == 0) return;
    platform::MIDIEndpointDispose(midiIn_);
    midiIn_ = 0;
}

void MIDISampler::receivedNoteOn(uint8_t noteNumber, uint8_t velocity, uint8_t channel) {
    if (velocity == 0) stop(noteNumber, channel);
    else play(noteNumber, velocity, channel);
}

void MIDISampler::receivedController(uint8_t controller, uint8_t value, uint8_t channel) {
    samplerUnit()->sendController(controller, value, channel);
}

void MIDISampler::play(uint8_t noteNumber, uint8_t velocity, uint8_t channel) {
    samplerUnit()->startNote(noteNumber, velocity, channel);
}

void MIDISampler::stop(uint8_t noteNumber, uint8_t channel) { samplerUnit()->stopNote(noteNumber, channel); }

}  // namespace sonora
