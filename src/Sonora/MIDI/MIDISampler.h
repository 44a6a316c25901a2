// A sampler other programs can play: it publishes a private virtual MIDI destination under its
// name, and every message sent there goes whole, in order, to the sampler unit's MIDI input, to be
// played at once. Destroying the sampler disposes of the destination.
//
//   auto sampler = std::make_shared<MIDISampler>("Piano");
//   sampler->loadMelodicSoundFont("/usr/share/sounds/sf2/TimGM6mb", 0);
//   // sampler->midiIn() now takes notes from any client
#pragma once

#include "Sonora/Nodes/Playback/AppleSampler/AppleSampler.h"
#include "platform/coremidi/MIDIObjects.h"

#include <optional>
#include <string>

namespace sonora {

class MIDISampler : public AppleSampler, public NamedNode {
public:
    // init(name:): `name`, or the object's address text, names the node and its destination.
    explicit MIDISampler(std::optional<std::string> name = std::nullopt);
    ~MIDISampler() override;

    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return AppleSampler::avAudioNode(); }
    std::string typeName() const override { return "MIDISampler"; }

    platform::MIDIEndpointRef midiIn() const { return midiIn_; }
    std::string name() const override { return name_; }
    // Does not rename a published destination.
    void setName(std::string name) override { name_ = std::move(name); }

    // Publishes the destination on `client`, named `name` or else name().
    virtual void enableMIDI(platform::MIDIClientRef client, std::optional<std::string> name = std::nullopt);
    // Velocity 0 stops the note.
    virtual void receivedNoteOn(uint8_t noteNumber, uint8_t velocity, uint8_t channel);
    virtual void receivedController(uint8_t controller, uint8_t value, uint8_t channel);
    // Disposes of the destination; nothing when there is none.
    virtual void disableMIDI();

    void play(uint8_t noteNumber, uint8_t velocity, uint8_t channel = 0) override;
    void stop(uint8_t noteNumber, uint8_t channel = 0) override;

private:
    platform::MIDIEndpointRef midiIn_ = 0;
    std::string name_ = "(unset)";
};

}  // namespace sonora
