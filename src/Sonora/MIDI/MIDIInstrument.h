// The base of playable instruments: a node with a virtual MIDI destination of its own (other
// programs can play it) that is also a MIDIListener (the library's MIDI input can play it).
// Incoming channel messages become calls of the overridable operations below, which do nothing
// here. Messages at the destination are copied on the MIDI thread and handled on the main queue.
#pragma once

#include "Sonora/MIDI/MIDIListener.h"
#include "Sonora/Nodes/Node.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sonora {

class MIDIInstrument : public NamedNode, public MIDIListener {
public:
    // Names the instrument (its address as text without a name) and publishes its destination on
    // the shared MIDI object's client, marked private.
    explicit MIDIInstrument(std::optional<std::string> midiInputName = std::nullopt);
    // Disposes of the destination; messages still on their way are dropped.
    ~MIDIInstrument() override;
    MIDIInstrument(const MIDIInstrument&) = delete;
    MIDIInstrument& operator=(const MIDIInstrument&) = delete;

    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return avAudioNode_; }
    void setAVAudioNode(std::shared_ptr<platform::AVAudioNode> node) { avAudioNode_ = std::move(node); }
    // The virtual destination; 0 while there is none.
    MIDIEndpointRef midiIn() const { return midiIn_; }
    std::string name() const override { return name_; }
    void setName(std::string name) override { name_ = std::move(name); }

    // (note, channel) of the notes started through the listener path and not stopped there yet.
    std::vector<std::pair<MIDIByte, MIDIByte>> mpeActiveNotes;

    // Creates the virtual destination on the client, named `name` or the instrument's name; an
    // earlier destination of this instrument is disposed of. A failure is logged; midiIn stays 0.
    virtual void enableMIDI(MIDIClientRef client, std::optional<std::string> name = std::nullopt);
    // Disposes of the destination, if any.
    void disableMIDI();

    void receivedMIDINoteOn(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, PortID portID,
                            Stamp timeStamp) override;
    void receivedMIDINoteOff(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, PortID portID,
                             Stamp timeStamp) override;

    virtual void startNote(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, Stamp timeStamp = std::nullopt);
    virtual void stopNote(MIDIByte noteNumber, MIDIByte channel, Stamp timeStamp = std::nullopt);
    virtual void changeProgram(MIDIByte program, MIDIByte channel, Stamp timeStamp = std::nullopt);

    // The main-queue half of the receive path: one received event to the operations above.
    void handleReceivedEvent(const MIDIEvent& event);

private:
    struct Receiver;

    std::shared_ptr<platform::AVAudioNode> avAudioNode_;
    MIDIEndpointRef midiIn_ = 0;
    std::string name_ = "(unset)";
    // What the destination's read block and the main-queue tasks reach the instrument through;
    // they hold it weakly, and the destructor detaches the instrument from it.
    std::shared_ptr<Receiver> receiver_;
};

}  // namespace sonora
