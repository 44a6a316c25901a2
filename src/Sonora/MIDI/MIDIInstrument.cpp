#include "Sonora/MIDI/MIDIInstrument.h"

#include "Sonora/Internals/ErrorHandling/CheckError.h"
#include "Sonora/Internals/Utilities/ObjectAddress.h"
#include "Sonora/MIDI/MIDI.h"
#include "Sonora/MIDI/MIDIPacketSequence.h"
#include "platform/avfaudio/AVAudioNode.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <mutex>

namespace sonora {

namespace {

// A node that is only a place in the graph until a subclass brings its own.
class PlainAudioNode : public platform::AVAudioNode {
public:
    PlainAudioNode() : AVAudioNode(0, 1) {}
};

}  // namespace

struct MIDIInstrument::Receiver {
    // Recursive: an operation may give up the last reference to its own instrument.
    std::recursive_mutex mutex;
    MIDIInstrument* instrument = nullptr;

    void deliver(const std::vector<MIDIEvent>& events) {
        std::lock_guard lock(mutex);
        for (const MIDIEvent& event : events) {
            if (!instrument) return;
            instrument->handleReceivedEvent(event);
        }
    }
};

MIDIInstrument::MIDIInstrument(std::optional<std::string> midiInputName)
    : avAudioNode_(std::make_shared<PlainAudioNode>()), receiver_(std::make_shared<Receiver>()) {
    receiver_->instrument = this;
    name_ = midiInputName ? *midiInputName : objectAddressString(this);
    enableMIDI(MIDI::sharedInstance().client(), name_);
    platform::MIDIObjectSetIntegerProperty(midiIn_, platform::kMIDIPropertyPrivate, 1);
}

MIDIInstrument::~MIDIInstrument() {
    {
        std::lock_guard lock(receiver_->mutex);
        receiver_->instrument = nullptr;
    }
    disableMIDI();
}

void MIDIInstrument::enableMIDI(MIDIClientRef client, std::optional<std::string> name) {
    disableMIDI();
    std::weak_ptr<Receiver> receiver = receiver_;
    MIDIEndpointRef endpoint = 0;
    const platform::OSStatus status = platform::MIDIDestinationCreateWithBlock(
        client, name ? *name : name_, &endpoint, [receiver](const platform::MIDIPacketList* list, size_t bytes, void*) {
            if (receiver.expired()) return;
            // Every message of every packet: a chord sent as one packet is several events.
            std::vector<MIDIEvent> events;
            MIDIPacketListIterator packets(list, bytes);
            while (const auto packet = packets.next())
                for (MIDIEvent& event : packetEvents(*packet)) events.push_back(std::move(event));
            if (events.empty()) return;
            platform::DispatchQueue::main().async([receiver, events = std::move(events)] {
                if (const auto alive = receiver.lock()) alive->deliver(events);
            });
        });
    CheckError(status);
    if (status == platform::noErr) midiIn_ = endpoint;
}

void MIDIInstrument::disableMIDI() {
    if (midiIn_ == 0) return;
    platform::MIDIEndpointDispose(midiIn_);
    midiIn_ = 0;
}

void MIDIInstrument::handleReceivedEvent(const MIDIEvent& event) {
    if (event.data.empty()) return;
    const uint8_t status = event.data[0];
    const uint8_t kind = status >> 4;
    if (kind < 0x8 || kind > 0xE) return;
    // Program change and channel pressure are two-byte messages; the others need three.
    const bool twoBytes = kind == 0xC || kind == 0xD;
    if (event.data.size() < (twoBytes ? 2u : 3u)) return;
    const uint8_t channel = status & 0x0F;
    const uint8_t data1 = event.data[1];
    const uint8_t data2 = event.data.size() > 2 && !twoBytes ? event.data[2] : 0;
    switch (kind) {
    case 0x8: stopNote(data1, channel); break;
    case 0x9:
        if (data2 > 0) startNote(data1, data2, channel);
        else stopNote(data1, channel);
        break;
    case 0xA: receivedMIDIAftertouch(data1, data2, channel, std::nullopt, std::nullopt); break;
    case 0xB: receivedMIDIController(data1, data2, channel, std::nullopt, std::nullopt); break;
    case 0xC: changeProgram(data1, channel); break;
    case 0xD: receivedMIDIAftertouch(data1, channel, std::nullopt, std::nullopt); break;
    case 0xE: receivedMIDIPitchWheel(uint16_t(data1 + data2 * 128), channel, std::nullopt, std::nullopt); break;
    default: break;
    }
}

void MIDIInstrument::receivedMIDINoteOn(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, PortID, Stamp) {
    if (velocity > 0) {
        mpeActiveNotes.emplace_back(noteNumber, channel);
        startNote(noteNumber, velocity, channel);
    } else {
        // Most keyboards end a note with velocity 0: the pair goes as with a note-off.
        stopNote(noteNumber, channel);
        std::erase(mpeActiveNotes, std::pair<MIDIByte, MIDIByte>(noteNumber, channel));
    }
}

void MIDIInstrument::receivedMIDINoteOff(MIDIByte noteNumber, MIDIByte, MIDIByte channel, PortID, Stamp) {
    stopNote(noteNumber, channel);
    std::erase(mpeActiveNotes, std::pair<MIDIByte, MIDIByte>(noteNumber, channel));
}

void MIDIInstrument::startNote(MIDIByte, MIDIByte, MIDIByte, Stamp) {}

void MIDIInstrument::stopNote(MIDIByte, MIDIByte, Stamp) {}

void MIDIInstrument::changeProgram(MIDIByte, MIDIByte, Stamp) {}

}  // namespace sonora
