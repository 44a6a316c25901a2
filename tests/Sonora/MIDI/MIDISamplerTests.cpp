// The MIDI-driven sampler: its private destination, messages passed whole to the unit, and the
// destination disposed of with the object.
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/MIDI/MIDI.h"
#include "Sonora/MIDI/MIDISampler.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/coremidi/MIDIObjects.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

using namespace sonora;
namespace pm = platform;

namespace {

struct Sent {
    pm::AUEventSampleTime time;
    uint8_t cable;
    std::vector<uint8_t> bytes;
    bool operator==(const Sent&) const = default;
};

// A second client that sends packet lists to an endpoint.
class Sender {
public:
    Sender() {
        pm::MIDIClientCreateWithBlock("sender", &client_, nullptr);
        pm::MIDIOutputPortCreate(client_, "out", &port_);
    }
    ~Sender() { pm::MIDIClientDispose(client_); }
    pm::OSStatus send(pm::MIDIEndpointRef to, const std::vector<std::vector<uint8_t>>& packets) {
        std::vector<uint8_t> buffer(1024);
        auto* list = reinterpret_cast<pm::MIDIPacketList*>(buffer.data());
        pm::MIDIPacket* packet = pm::MIDIPacketListInit(list);
        for (const auto& bytes : packets)
            packet = pm::MIDIPacketListAdd(list, buffer.size(), packet, 0, bytes.size(), bytes.data());
        const pm::OSStatus status = pm::MIDISend(port_, to, list, buffer.size());
        pm::MIDIDrain();
        return status;
    }

private:
    pm::MIDIClientRef client_ = 0;
    pm::MIDIPortRef port_ = 0;
};

bool listed(pm::MIDIEndpointRef endpoint) {
    for (pm::ItemCount i = 0; i < pm::MIDIGetNumberOfDestinations(); ++i)
        if (pm::MIDIGetDestination(i) == endpoint) return true;
    return false;
}

}  // namespace

TEST(MIDISampler, PublishesAPrivateDestinationNamedAfterIt) {
    MIDISampler named("Piano");
    ASSERT_NE(named.midiIn(), 0u);
    std::string name;
    EXPECT_EQ(pm::MIDIObjectGetStringProperty(named.midiIn(), pm::kMIDIPropertyName, &name), pm::noErr);
    EXPECT_EQ(name, "Piano");
    EXPECT_FALSE(listed(named.midiIn()));
    EXPECT_NE(named.connectionTreeDescription().find("MIDISampler(\"Piano\")"), std::string::npos);

    MIDISampler unnamed;
    EXPECT_EQ(unnamed.name().size(), 18u);
    EXPECT_EQ(unnamed.name().substr(0, 2), "0x");
    unnamed.setName("Later");
    pm::MIDIObjectGetStringProperty(unnamed.midiIn(), pm::kMIDIPropertyName, &name);
    EXPECT_NE(name, "Later");

    unnamed.disableMIDI();
    EXPECT_EQ(unnamed.midiIn(), 0u);
    unnamed.disableMIDI();
    EXPECT_EQ(unnamed.midiIn(), 0u);
}

TEST(MIDISampler, EveryMessageReachesTheUnitWholeAndInOrder) {
    MIDISampler sampler("Recorder");
    std::mutex mutex;
    std::vector<Sent> sent;
    sampler.disableMIDI();
    sampler.samplerUnit()->auAudioUnit()->setScheduleMIDIEventBlock(
        [&](pm::AUEventSampleTime time, uint8_t cable, pm::NSInteger length, const uint8_t* bytes) {
            std::lock_guard lock(mutex);
            sent.push_back({time, cable, std::vector<uint8_t>(bytes, bytes + length)});
        });
    sampler.enableMIDI(MIDI::sharedInstance().client());
    ASSERT_NE(sampler.midiIn(), 0u);

    Sender sender;
    ASSERT_EQ(sender.send(sampler.midiIn(), {{0x90, 60, 0, 0xB1, 7, 100, 0xC2, 5},
                                             {0xE0, 0x00, 0x40},
                                             {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}),
              pm::noErr);
    const auto imm = pm::AUEventSampleTimeImmediate;
    const std::vector<Sent> expected = {{imm, 0, {0x90, 60, 0}},
                                        {imm, 0, {0xB1, 7, 100}},
                                        {imm, 0, {0xC2, 5}},
                                        {imm, 0, {0xE0, 0x00, 0x40}},
                                        {imm, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}};
    std::lock_guard lock(mutex);
    EXPECT_EQ(sent, expected);
}

TEST(MIDISampler, DestroyingItDisposesOfTheDestination) {
    pm::MIDIEndpointRef endpoint = 0;
    {
        auto sampler = std::make_shared<MIDISampler>("Gone");
        endpoint = sampler->midiIn();
        Sender sender;
        EXPECT_EQ(sender.send(endpoint, {{0x90, 60, 100}}), pm::noErr);
    }
    std::string name;
    EXPECT_NE(pm::MIDIObjectGetStringProperty(endpoint, pm::kMIDIPropertyName, &name), pm::noErr);
    Sender sender;
    EXPECT_NE(sender.send(endpoint, {{0x90, 60, 100}}), pm::noErr);
}

TEST(MIDISampler, NotesFromAnotherClientSoundLikeDirectOnes) {
    const std::string soundFont = "/usr/share/sounds/sf2/TimGM6mb";
    if (!std::filesystem::exists(soundFont + ".sf2")) GTEST_SKIP() << "no SoundFont";
    auto render = [&](bool viaMIDI) {
        auto sampler = std::make_shared<MIDISampler>("Piano");
        sampler->loadMelodicSoundFont(soundFont, 0);
        AudioEngine engine;
        engine.setOutput(sampler);
        engine.startTest(0.5);
        if (viaMIDI) {
            Sender sender;
            sender.send(sampler->midiIn(), {{0x90, 64, 100, 0x90, 67, 90}, {0x90, 64, 0}});
        } else {
            sampler->play(64, 100);
            sampler->play(67, 90);
            sampler->receivedNoteOn(64, 0, 0);
        }
        auto buffer = engine.render(0.5);
        engine.stop();
        return std::vector<float>(buffer->floatChannelData()[0], buffer->floatChannelData()[0] + buffer->frameLength());
    };
    const auto direct = render(false);
    const auto viaMIDI = render(true);
    ASSERT_EQ(direct.size(), viaMIDI.size());
    double energy = 0;
    for (size_t i = 0; i < direct.size(); ++i) {
        ASSERT_NEAR(direct[i], viaMIDI[i], 1e-6) << i;
        energy += direct[i] * direct[i];
    }
    EXPECT_GT(energy, 0.1);
}
