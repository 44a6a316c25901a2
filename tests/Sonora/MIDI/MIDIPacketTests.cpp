#include "Sonora/MIDI/MIDI.h"
#include "Sonora/MIDI/MIDIPacketSequence.h"
#include "platform/coremidi/MIDIServices.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace sonora;
using Bytes = std::vector<uint8_t>;

namespace {

class MIDIPacketTest : public ::testing::Test {
protected:
    void SetUp() override { MIDI::sharedInstance().resetSysExStateForTesting(); }
    void TearDown() override { MIDI::sharedInstance().resetSysExStateForTesting(); }
};

// A packet list built with the platform calls in a buffer of `size` bytes.
struct PacketList {
    explicit PacketList(size_t size = 1024) : buffer(size) { current = platform::MIDIPacketListInit(list()); }
    platform::MIDIPacketList* list() { return reinterpret_cast<platform::MIDIPacketList*>(buffer.data()); }
    bool add(MIDITimeStamp time, const Bytes& bytes) {
        current = platform::MIDIPacketListAdd(list(), buffer.size(), current, time, bytes.size(), bytes.data());
        return current != nullptr;
    }
    std::vector<MIDIPacketBytes> packets() {
        std::vector<MIDIPacketBytes> result;
        MIDIPacketListIterator it(list(), buffer.size());
        while (auto p = it.next()) result.push_back(*p);
        return result;
    }
    std::vector<uint8_t> buffer;
    platform::MIDIPacket* current;
};

std::vector<Bytes> eventData(const MIDIPacketBytes& packet) {
    std::vector<Bytes> result;
    for (const auto& event : packetEvents(packet)) result.push_back(event.data);
    return result;
}

MIDIPacketBytes bytesPacket(const Bytes& bytes, MIDITimeStamp time = 9) { return {time, bytes}; }

}  // namespace

TEST_F(MIDIPacketTest, RecordLayoutAndListBuilding) {
    EXPECT_EQ(sizeof(platform::MIDIPacket), 268u);
    EXPECT_EQ(sizeof(platform::MIDIPacketList), 272u);

    PacketList empty;
    EXPECT_TRUE(empty.packets().empty());

    PacketList list;
    ASSERT_TRUE(list.add(1, {0x90, 60, 100}));
    ASSERT_TRUE(list.add(1, {0x80, 60, 0}));  // same time: joins the first packet
    ASSERT_TRUE(list.add(2, {0xF0, 0x43}));
    ASSERT_TRUE(list.add(2, {0x12, 0xF7}));  // SysEx never joins
    const auto packets = list.packets();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(Bytes(packets[0].bytes.begin(), packets[0].bytes.end()), (Bytes{0x90, 60, 100, 0x80, 60, 0}));
    EXPECT_EQ(packets[1].timeStamp, 2u);
    // The second packet starts right after the first one's data bytes.
    EXPECT_EQ(packets[1].bytes.data(), packets[0].bytes.data() + 6 + platform::kMIDIPacketHeaderSize);

    PacketList small(4 + 10 + 3);
    EXPECT_TRUE(small.add(1, {0x90, 60, 100}));
    EXPECT_FALSE(small.add(2, {0xF8}));  // does not fit
    EXPECT_EQ(small.packets().size(), 1u);
}

TEST_F(MIDIPacketTest, AListThatLiesAboutItsCountStopsAtItsEnd) {
    PacketList list(4 + 10 + 3 + 10 + 2);
    ASSERT_TRUE(list.add(1, {0x90, 60, 100}));
    ASSERT_TRUE(list.add(2, {0xC0, 5}));
    uint32_t lie = 1000;
    std::memcpy(list.buffer.data(), &lie, 4);
    EXPECT_EQ(list.packets().size(), 2u);
    // A packet whose length runs past the buffer ends the walk.
    const uint16_t tooLong = 300;
    std::memcpy(list.buffer.data() + 4 + 8, &tooLong, 2);
    EXPECT_TRUE(list.packets().empty());
    EXPECT_TRUE(MIDIEvent::eventsFromPacketList(list.list(), list.buffer.size()).empty());
}

TEST_F(MIDIPacketTest, EventsOfAPacket) {
    const struct {
        Bytes bytes;
        std::vector<Bytes> events;
    } cases[] = {
        {{0x90, 60, 100, 0x80, 60, 0}, {{0x90, 60, 100}, {0x80, 60, 0}}},
        {{0xC0, 5, 0xB0, 7, 100}, {{0xC0, 5}, {0xB0, 7, 100}}},
        {{0x90, 60, 100, 61, 100}, {{0x90, 60, 100}}},  // running status ends the walk
        {{}, {}},
        {{0xF4}, {}},
        {{0x90, 60}, {{0x90, 60, 0}}},  // past the length reads 0, not the next packet's bytes
    };
    for (const auto& c : cases) EXPECT_EQ(eventData(bytesPacket(c.bytes)), c.events);

    // Channel and system messages alike carry the packet's time stamp.
    const auto events = packetEvents(bytesPacket({0x90, 60, 100, 0xC0, 5, 0xF8}, 42));
    ASSERT_EQ(events.size(), 3u);
    for (const auto& event : events) EXPECT_EQ(event.timeStamp, 42u);
    EXPECT_EQ(events[2].data, Bytes{0xF8});
}

TEST_F(MIDIPacketTest, SysExLeftOpenEndsAtTheNextStatusByte) {
    auto& shared = MIDI::sharedInstance();
    EXPECT_EQ(eventData(bytesPacket({0xF0, 0x43, 0x12})), std::vector<Bytes>{{}});
    ASSERT_TRUE(shared.isReceivingSysEx());
    // Messages on the event-list road are not taken for the open message's continuation.
    MIDI midi;
    const auto ump = midi.processUMPMessages(std::vector<uint32_t>{0x20903C64}, 5);
    ASSERT_EQ(ump.size(), 1u);
    EXPECT_EQ(ump[0].data, (Bytes{0x90, 0x3C, 0x64}));
    // Data and real-time bytes continue it; a status byte drops it and is read as its own message.
    EXPECT_TRUE(eventData(bytesPacket({0x01, 0x02})).empty());
    EXPECT_TRUE(shared.isReceivingSysEx());
    EXPECT_EQ(eventData(bytesPacket({0x90, 60, 100, 0xF0, 0x01, 0xF7})),
              (std::vector<Bytes>{{0x90, 60, 100}, {0xF0, 0x01, 0xF7}}));
    EXPECT_FALSE(shared.isReceivingSysEx());
}

TEST_F(MIDIPacketTest, SysExSpanningTwoOfThreePackets) {
    PacketList list;
    ASSERT_TRUE(list.add(1, {0xF0, 0x43, 0x12}));
    ASSERT_TRUE(list.add(2, {0x00, 0xF7}));
    ASSERT_TRUE(list.add(3, {0x90, 60, 100}));
    const auto packets = list.packets();
    ASSERT_EQ(packets.size(), 3u);

    const auto first = packetEvents(packets[0]);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first[0].data.empty());
    EXPECT_TRUE(MIDI::sharedInstance().isReceivingSysEx());

    // The assembled message; the walk goes on after its 0xF7.
    EXPECT_EQ(eventData(packets[1]), (std::vector<Bytes>{{0xF0, 0x43, 0x12, 0x00, 0xF7}}));
    EXPECT_FALSE(MIDI::sharedInstance().isReceivingSysEx());
    EXPECT_EQ(eventData(packets[2]), (std::vector<Bytes>{{0x90, 60, 100}}));

    MIDI::sharedInstance().resetSysExStateForTesting();
    // One event per packet, each the packet's first message.
    std::vector<Bytes> perPacket;
    for (const auto& event : MIDIEvent::eventsFromPacketList(list.list(), list.buffer.size()))
        perPacket.push_back(event.data);
    EXPECT_EQ(perPacket, (std::vector<Bytes>{{}, {0x00, 0xF7, 0x00}, {0x90, 60, 100}}));
}

TEST_F(MIDIPacketTest, UniversalMIDIPackets) {
    MIDI midi;
    const auto run = [&](std::vector<uint32_t> words) {
        std::vector<Bytes> result;
        for (const auto& event : midi.processUMPMessages(words, 5)) {
            EXPECT_EQ(event.timeStamp, 5u);
            result.push_back(event.data);
        }
        return result;
    };
    EXPECT_EQ(run({0x20903C64, 0x20803C00}), (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}}));
    EXPECT_EQ(run({0x30031234, 0x56000000}), (std::vector<Bytes>{{0xF0, 0x12, 0x34, 0x56, 0xF7}}));
    EXPECT_EQ(run({0x30160102, 0x03040506, 0x30260708, 0x090A0B0C, 0x30320D0E, 0x00000000}),
              (std::vector<Bytes>{{}, {}, {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xF7}}));
    EXPECT_EQ(run({0x50000000, 0, 0, 0}), std::vector<Bytes>{});
    EXPECT_EQ(run({0x40903C64, 0, 0x20903C64}), (std::vector<Bytes>{{0x90, 0x3C, 0x64}}));
    // A SysEx message without its second word ends the walk.
    EXPECT_EQ(run({0x20903C64, 0x30031234}), (std::vector<Bytes>{{0x90, 0x3C, 0x64}}));
    // A count nibble above 6 counts 6.
    EXPECT_EQ(run({0x300F0102, 0x03040506}), (std::vector<Bytes>{{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}));

    platform::MIDIEventPacket packet{};
    packet.timeStamp = 5;
    packet.wordCount = 1000;  // more than the packet holds: read up to its 64 words
    packet.words[0] = 0x20903C64;
    EXPECT_EQ(midi.processUMPMessages(packet).size(), 64u);
}
