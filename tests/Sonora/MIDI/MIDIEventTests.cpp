#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/MIDI/MIDI.h"
#include "Sonora/MIDI/MIDIEvent.h"
#include "Sonora/MIDI/MIDIPacketSequence.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace sonora;
using Bytes = std::vector<uint8_t>;

namespace {

class MIDIEventTest : public ::testing::Test {
protected:
    void SetUp() override {
        MIDI::sharedInstance().resetSysExStateForTesting();
        Settings::setEnableLogging(true);
        platform::LogSink::clear();
    }
    void TearDown() override { MIDI::sharedInstance().resetSysExStateForTesting(); }
    static bool logged(const std::string& text) {
        for (const auto& entry : platform::LogSink::entries())
            if (entry.message.find(text) != std::string::npos) return true;
        return false;
    }
};

platform::MIDIPacket packet(const Bytes& bytes, MIDITimeStamp time = 77) {
    platform::MIDIPacket p{};
    p.timeStamp = time;
    p.length = uint16_t(bytes.size());
    std::memcpy(p.data, bytes.data(), bytes.size());
    return p;
}

}  // namespace

TEST_F(MIDIEventTest, BytesKeptFromReceivedMessages) {
    const struct {
        Bytes in, kept;
    } cases[] = {
        {{0x90, 60, 100, 0x80, 60, 0}, {0x90, 60, 100, 0x00, 60, 0}},
        {{0xF8}, {0xF8}},
        {{0xF0, 0x7E, 0xF7, 0x01}, {0xF0, 0x7E, 0xF7, 0x01}},
        {{0x3C}, {}},
        {{0xF4}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(MIDIEvent(c.in).data, c.kept);
    EXPECT_EQ(MIDIEvent(Bytes{0x03, 1}).data, Bytes{});
    EXPECT_TRUE(logged("is meta event Track Name"));
}

TEST_F(MIDIEventTest, BuildersAndProperties) {
    EXPECT_EQ(MIDIEvent::noteOn(60, 100, 0).data, (Bytes{0x90, 60, 100}));
    EXPECT_EQ(MIDIEvent::noteOff(60, 40, 3).data, (Bytes{0x83, 60, 40}));
    EXPECT_EQ(MIDIEvent::programChange(5, 15).data, (Bytes{0xCF, 5}));
    EXPECT_EQ(MIDIEvent::controllerChange(7, 100, 1).data, (Bytes{0xB1, 7, 100}));
    EXPECT_EQ(MIDIEvent::noteOn(60, 100, 18).data, (Bytes{0x92, 60, 100}));  // channel masked
    EXPECT_FALSE(MIDIEvent::noteOn(60, 100, 0).timeStamp);

    EXPECT_FALSE(MIDIEvent(Bytes{0xFF, 0x2F, 0x00}).command());
    EXPECT_EQ(MIDIEvent(Bytes{0xF8}).command(), MIDISystemCommand::clock);
    EXPECT_EQ(MIDIEvent(Bytes{0xE0, 0x00, 0x40}).pitchWheelValue(), 8192);
    EXPECT_FALSE(MIDIEvent(Bytes{0xE0, 0x00}).pitchWheelValue());
    EXPECT_EQ(MIDIEvent(Bytes{0x93, 61, 1}).noteNumber(), 61);
    EXPECT_EQ(MIDIEvent(Bytes{0x93, 61, 1}).channel(), 3);
    EXPECT_FALSE(MIDIEvent(Bytes{0xB3, 61, 1}).noteNumber());
    EXPECT_EQ(MIDIEvent(Bytes{0x90, 60, 100}).description(), "Note On channel 0 - [144, 60, 100]");
    EXPECT_EQ(MIDIEvent(Bytes{0xF8}).description(), "Timing Clock - [248]");
    MIDIEvent meta;
    meta.data = {0xFF, 0x2F, 0x00};
    EXPECT_EQ(meta.description(), "End of Track 0 bytes long  - [255, 47, 0]");
    EXPECT_EQ(MIDIEvent().description(), "Unhandled event []");

    const struct {
        size_t count;
        std::vector<size_t> chunks;
    } chunking[] = {{300, {256, 44}}, {256, {256, 0}}, {0, {0}}};
    for (const auto& c : chunking) {
        MIDIEvent event;
        event.data.assign(c.count, 1);
        std::vector<size_t> sizes;
        for (const auto& chunk : event.dataChunks()) sizes.push_back(chunk.size());
        EXPECT_EQ(sizes, c.chunks) << c.count;
    }
}

TEST_F(MIDIEventTest, ReceivingSysExContinuesBytesButNotBuilders) {
    MIDI::sharedInstance().startReceivingSysEx(Bytes{0xF0, 0x01});
    EXPECT_EQ(MIDIEvent(Bytes{0x01, 0x02, 0xF7, 0x90}).data, (Bytes{0x01, 0x02, 0xF7}));
    EXPECT_EQ(MIDIEvent(Bytes{0xF7, 0x90}).data, (Bytes{0xF7}));
    EXPECT_EQ(MIDIEvent(Bytes{0x01, 0x02}).data, Bytes{});
    // A sequencer's notes built meanwhile are whole (they used to come out empty).
    EXPECT_EQ(MIDIEvent::noteOn(60, 100, 0).data, (Bytes{0x90, 60, 100}));
    EXPECT_EQ(MIDIEvent::programChange(3, 0).data, (Bytes{0xC0, 3}));
}

TEST_F(MIDIEventTest, EventFromPacket) {
    const struct {
        Bytes bytes;
        Bytes kept;
        size_t length;  // packet length (bytes beyond it read as 0)
    } cases[] = {
        {{0xC0, 5, 9}, {0xC0, 5, 9}, 3},
        {{0xF8}, {0xF8}, 1},
        {{0xF7}, {}, 1},
        {{0xF2, 1, 2}, {0xF2, 1, 2}, 3},
        {{0xF1, 5}, {0xF1, 5}, 2},
        {{0x90, 60, 100}, {0x90, 60, 0}, 2},
    };
    for (const auto& c : cases) {
        auto p = packet(c.bytes);
        p.length = uint16_t(c.length);
        const MIDIEvent event(p);
        EXPECT_EQ(event.data, c.kept);
        EXPECT_EQ(event.timeStamp, MIDITimeStamp(77));
    }
}

TEST_F(MIDIEventTest, SysExAcrossPackets) {
    MIDI& midi = MIDI::sharedInstance();
    EXPECT_EQ(MIDIEvent(packet({0xF0, 0x41, 0x10})).data, Bytes{});
    EXPECT_TRUE(midi.isReceivingSysEx());
    EXPECT_FALSE(MIDIEvent::appendIncomingSysEx(packet({0x42, 0x43})));
    EXPECT_TRUE(midi.isReceivingSysEx());
    const auto done = MIDIEvent::appendIncomingSysEx(packet({0x42, 0xF7}, 5));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->data, (Bytes{0xF0, 0x41, 0x10, 0x42, 0x43, 0x42, 0xF7}));
    EXPECT_EQ(done->timeStamp, MIDITimeStamp(5));
    EXPECT_FALSE(midi.isReceivingSysEx());

    EXPECT_EQ(MIDIEvent(packet({0xF0, 0x7E, 0xF7})).data, (Bytes{0xF0, 0x7E, 0xF7}));
    EXPECT_FALSE(midi.isReceivingSysEx());
    midi.stopReceivingSysEx();  // without a start: only logs
    EXPECT_EQ(midi.incomingSysEx(), (Bytes{0xF0, 0x7E, 0xF7}));
}

TEST_F(MIDIEventTest, SysExThatNeverEndsIsDroppedAtItsCap) {
    MIDI& midi = MIDI::sharedInstance();
    const MIDIEvent start(packet({0xF0, 0x01}));
    EXPECT_TRUE(start.data.empty());
    const Bytes chunk(256, 0x11);
    size_t appended = 2;
    while (midi.isReceivingSysEx()) {
        EXPECT_FALSE(MIDIEvent::appendIncomingSysEx(packet(chunk)));
        appended += chunk.size();
        ASSERT_LE(appended, MIDI::maximumSysExSize + chunk.size());
    }
    EXPECT_TRUE(midi.incomingSysEx().empty());
    EXPECT_TRUE(logged("bytes dropped"));
    EXPECT_EQ(MIDIEvent(Bytes{0x90, 1, 2}).data, (Bytes{0x90, 1, 2}));  // receiving ended
}

TEST_F(MIDIEventTest, BluetoothPayloads) {
    const struct {
        Bytes payload;
        std::vector<Bytes> messages;
    } cases[] = {
        {{0x80, 0x80, 0x90, 60, 100, 0x81, 0x80, 62, 0}, {{0x90, 60, 100}, {0x80, 62, 0}}},
        {{0x80, 0x80, 0x90, 60, 100, 0x81, 62, 0}, {{0x90, 60, 100}, {0x90, 62, 0}}},
        {{0x80, 0x00, 0x90, 60, 100}, {}},
        {{0x80, 0x80, 0x90, 60}, {}},
        {{0x80, 0x80}, {}},
    };
    for (const auto& c : cases) {
        std::vector<Bytes> got;
        for (const auto& event : MIDIEvent::eventsFromTimestampedPayload(c.payload)) got.push_back(event.data);
        EXPECT_EQ(got, c.messages);
    }
}

// The message bytes against a byte vector doing the same steps, across the move from the inline
// store to the heap and back through copies and moves, sources inside the bytes themselves included.
TEST(MIDIBytes, MatchesAByteVectorStepForStep) {
    MIDIBytes bytes;
    Bytes expected;
    const auto same = [&](int step) {
        ASSERT_EQ(bytes.size(), expected.size()) << step;
        EXPECT_TRUE(bytes == expected) << step;
        EXPECT_EQ(Bytes(bytes), expected) << step;
    };
    for (int step = 0; step < 400; ++step) {
        const uint8_t value = uint8_t(step * 37);
        switch (step % 8) {
        case 0: bytes.push_back(value), expected.push_back(value); break;
        case 1: {
            const Bytes more(size_t(step % 23), value);
            bytes.insert(bytes.begin() + bytes.size() / 2, more.begin(), more.end());
            expected.insert(expected.begin() + expected.size() / 2, more.begin(), more.end());
            break;
        }
        case 2: {  // a range of its own bytes, inserted at the front
            bytes.insert(bytes.begin(), bytes.begin(), bytes.end());
            const Bytes copy = expected;
            expected.insert(expected.begin(), copy.begin(), copy.end());
            break;
        }
        case 3:  // a part of its own bytes, assigned
            if (expected.size() >= 2) {
                const size_t last = std::max<size_t>(expected.size() / 3, 1);
                bytes.assign(bytes.begin() + 1, bytes.begin() + last);
                expected = Bytes(expected.begin() + 1, expected.begin() + last);
            }
            break;
        case 4: bytes.resize(size_t(step % 40), value), expected.resize(size_t(step % 40), value); break;
        case 5: {
            MIDIBytes copy = bytes;
            bytes = std::move(copy);
            MIDIBytes moved(std::move(bytes));
            EXPECT_TRUE(bytes.empty());
            bytes = moved;
            break;
        }
        case 6: bytes.assign(size_t(step % 20), value), expected.assign(size_t(step % 20), value); break;
        default: bytes = {value, 1, 2}, expected = {value, 1, 2}; break;
        }
        same(step);
    }
}
