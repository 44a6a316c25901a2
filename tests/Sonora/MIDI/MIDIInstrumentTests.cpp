// MIDI instruments fed over the loopback MIDI service (their virtual destination) and through the
// listener path.
#include "Sonora/MIDI/MIDICallbackInstrument.h"
#include "Sonora/MIDI/MIDI.h"
#include "platform/coremidi/MIDIObjects.h"

#include "main/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace sonora;
using testsupport::spinUntil;
namespace pm = platform;

namespace {

using Message = std::vector<uint8_t>;


// Another program's client and output port that sends packets to a destination.
struct Sender {
    pm::MIDIClientRef client = 0;
    pm::MIDIPortRef port = 0;
    Sender() {
        pm::MIDIClientCreateWithBlock("sender", &client, nullptr);
        pm::MIDIOutputPortCreate(client, "out", &port);
    }
    ~Sender() { pm::MIDIClientDispose(client); }
    // One packet per entry, each holding the bytes given (several messages may share a packet).
    pm::OSStatus send(pm::MIDIEndpointRef destination, const std::vector<Message>& packets) {
        std::vector<uint8_t> buffer(1024);
        auto* list = reinterpret_cast<pm::MIDIPacketList*>(buffer.data());
        pm::MIDIPacket* packet = pm::MIDIPacketListInit(list);
        for (const Message& bytes : packets)
            packet = pm::MIDIPacketListAdd(list, buffer.size(), packet, 0, bytes.size(), bytes.data());
        return pm::MIDISend(port, destination, list, buffer.size());
    }
};

struct Recording {
    std::vector<Message> calls;
    MIDICallbackInstrument::Callback callback() {
        return [this](uint8_t s, uint8_t d1, uint8_t d2) { calls.push_back({s, d1, d2}); };
    }
};

// Records the program changes the callback never sees.
struct ProgramCounting : MIDICallbackInstrument {
    using MIDICallbackInstrument::MIDICallbackInstrument;
    std::vector<Message> programs;
    void changeProgram(MIDIByte program, MIDIByte channel, Stamp) override { programs.push_back({program, channel}); }
};

}  // namespace

TEST(MIDIInstrument, DestinationTurnsEveryMessageOfAPacketIntoCalls) {
    Recording recording;
    ProgramCounting instrument("keys", recording.callback());
    EXPECT_EQ(instrument.name(), "keys");
    ASSERT_NE(instrument.midiIn(), 0u);
    int32_t isPrivate = 0;
    pm::MIDIObjectGetIntegerProperty(instrument.midiIn(), pm::kMIDIPropertyPrivate, &isPrivate);
    EXPECT_EQ(isPrivate, 1);

    Sender sender;
    ASSERT_EQ(sender.send(instrument.midiIn(), {{0x90, 60, 100, 0x90, 64, 90, 0x90, 67, 80},  // a chord in one packet
                                                {0x91, 60, 0},                   // velocity 0 stops
                                                {0xC2, 5, 0xD3, 40},             // two two-byte messages
                                                {0xE4, 0x00, 0x40},
                                                {0xA5, 61, 7, 0xB6, 7, 99},
                                                {0xF8}}),
              pm::noErr);
    const std::vector<Message> expected = {{0x90, 60, 100}, {0x90, 64, 90}, {0x90, 67, 80}, {0x81, 60, 0},
                                           {0xD3, 40, 0},   {0xE4, 0x00, 0x40}, {0xA5, 61, 7}, {0xB6, 7, 99}};
    ASSERT_TRUE(spinUntil([&] { return recording.calls.size() >= expected.size(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(recording.calls, expected);
    EXPECT_EQ(instrument.programs, (std::vector<Message>{{5, 2}})) << "program changes go to changeProgram only";

    instrument.callback = nullptr;
    sender.send(instrument.midiIn(), {{0x90, 1, 1}});
    spinUntil([] { return false; }, 0.1);
    EXPECT_EQ(recording.calls.size(), expected.size()) << "no callback: ignored";
}

TEST(MIDIInstrument, GoingAwayDisposesTheDestinationAndDropsMessagesOnTheirWay) {
    Recording recording;
    Sender sender;
    pm::MIDIEndpointRef endpoint = 0;
    {
        MIDICallbackInstrument instrument("short-lived", recording.callback());
        endpoint = instrument.midiIn();
        sender.send(endpoint, {{0x90, 60, 100}});  // handled on the main queue, after the instrument is gone
    }
    EXPECT_NE(sender.send(endpoint, {{0x90, 61, 100}}), pm::noErr);
    spinUntil([] { return false; }, 0.1);
    EXPECT_TRUE(recording.calls.empty());
}

TEST(MIDIInstrument, ListenerPathTracksActiveNotes) {
    Recording recording;
    MIDICallbackInstrument instrument("listener", recording.callback());
    instrument.receivedMIDINoteOn(60, 100, 1, std::nullopt, std::nullopt);
    instrument.receivedMIDINoteOn(60, 90, 1, std::nullopt, std::nullopt);
    instrument.receivedMIDINoteOn(62, 90, 2, std::nullopt, std::nullopt);
    instrument.receivedMIDINoteOff(60, 0, 1, std::nullopt, std::nullopt);
    EXPECT_EQ(instrument.mpeActiveNotes, (std::vector<std::pair<MIDIByte, MIDIByte>>{{62, 2}}));
    // A note-on with velocity 0 ends the note like a note-off, also in the list.
    instrument.receivedMIDINoteOn(62, 0, 2, std::nullopt, std::nullopt);
    EXPECT_TRUE(instrument.mpeActiveNotes.empty());
    for (int i = 0; i < 100; ++i) instrument.receivedMIDINoteOn(70, 0, 0, std::nullopt, std::nullopt);
    EXPECT_TRUE(instrument.mpeActiveNotes.empty());

    instrument.receivedMIDIPitchWheel(8192, 3, std::nullopt, std::nullopt);
    instrument.receivedMIDIAftertouch(33, 4, std::nullopt, std::nullopt);
    EXPECT_EQ(recording.calls.at(3), (Message{0x81, 60, 0}));
    EXPECT_EQ(recording.calls.at(4), (Message{0x82, 62, 0}));
    EXPECT_EQ(recording.calls.at(recording.calls.size() - 2), (Message{0xE3, 0x00, 0x40}));
    EXPECT_EQ(recording.calls.back(), (Message{0xD4, 33, 0}));
}
