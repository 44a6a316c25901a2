#include "Sonora/MIDI/MIDIControl.h"
#include "Sonora/MIDI/MIDICustomMetaEvent.h"
#include "Sonora/MIDI/MIDIMessage.h"
#include "Sonora/MIDI/MIDIStatus.h"
#include "Sonora/MIDI/MIDIVariableLengthQuantity.h"

#include <gtest/gtest.h>

using namespace sonora;
using Bytes = std::vector<uint8_t>;

TEST(MIDIStatus, StatusBytesChannelsAndDescriptions) {
    for (uint8_t byte : {0x7F, 0xF0, 0xFF}) EXPECT_FALSE(MIDIStatus::fromByte(byte)) << int(byte);
    EXPECT_EQ(MIDIStatus::fromByte(0x80)->channel(), 0);
    EXPECT_EQ(MIDIStatus::fromByte(0xEF)->channel(), 15);
    EXPECT_EQ(MIDIStatus(MIDIStatusType::noteOn, 3).byte, 0x93);
    EXPECT_EQ(MIDIStatus(MIDIStatusType::pitchWheel, 15).byte, 0xEF);
    // Channels above 15 keep their low four bits instead of running into the next status kind.
    EXPECT_EQ(MIDIStatus(MIDIStatusType::noteOn, 17).byte, 0x91);
    EXPECT_EQ(MIDIStatus::fromByte(0x90)->description(), "Note On channel 0");
    EXPECT_EQ(MIDIStatus::fromByte(0xC0)->length(), 2);

    MIDIStatus clock(MIDISystemCommand::clock);
    EXPECT_EQ(clock.length(), 0);
    EXPECT_EQ(clock.channel(), 8);
    EXPECT_FALSE(clock.type());
    EXPECT_EQ(clock.description(), "Command: Timing Clock");
    clock.byte = 0xF4;
    EXPECT_EQ(clock.description(), "Invalid message");
}

TEST(MIDIValueTypes, LookupTables) {
    for (uint8_t number : {36, 41, 128}) EXPECT_FALSE(MIDIControlFromRawValue(number)) << int(number);
    EXPECT_EQ(MIDIControlFromRawValue(0), MIDIControl::cc0);
    EXPECT_EQ(MIDIControlFromRawValue(64), MIDIControl::damperOnOff);
    EXPECT_EQ(description(MIDIControl::cc20), "CC #20");
    EXPECT_EQ(description(MIDIControl::celesteLevel), "Celeste Level or Detune");
    EXPECT_FALSE(MIDISystemCommandFromRawValue(0xEF));
    EXPECT_FALSE(MIDISystemCommandFromRawValue(0xFD));
    EXPECT_EQ(MIDISystemCommandFromRawValue(0xFF), MIDISystemCommand::sysReset);
    EXPECT_FALSE(MIDIStatusTypeFromRawValue(7));
    EXPECT_FALSE(MIDITimeFormatFromRawValue(2));
}

TEST(MIDIValueTypes, ByteTexts) {
    EXPECT_EQ(byteHexString(0x0A), "0x0A");
    EXPECT_EQ(bytesHexString({0x07, 0xA1, 0x20}), "07A120");
    EXPECT_EQ(bytesHexString({}), "");
    const struct {
        Bytes bytes;
        std::optional<int64_t> value;
    } cases[] = {
        {{}, std::nullopt},
        {{0x00, 0x00, 0x01}, 1},
        {{0x07, 0xA1, 0x20}, 500000},
        {{0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, INT64_MAX},
        {{0x80, 0, 0, 0, 0, 0, 0, 0}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(bytesBigEndianValue(c.bytes), c.value) << bytesHexString(c.bytes);
}

TEST(MIDIVariableLengthQuantity, LengthsAndValues) {
    const struct {
        Bytes bytes;
        int64_t length;
        uint32_t value;
    } cases[] = {
        {{0x00}, 1, 0},
        {{0x81, 0x00}, 2, 128},
        {{0xFF, 0x7F}, 2, 16383},
        {{0x81, 0x82}, 2, 130},  // no final byte: the last one ends it
        {{0x40, 0x81}, 1, 64},
        {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 5, 0xFFFFFFFF},  // five bytes keep the low 32 bits
        {{}, 0, 0},
    };
    for (const auto& c : cases) {
        const auto [length, value] = MIDIVariableLengthQuantity::lengthOf(c.bytes);
        EXPECT_EQ(length, c.length) << bytesHexString(c.bytes);
        EXPECT_EQ(value, c.value) << bytesHexString(c.bytes);
    }
    EXPECT_FALSE(MIDIVariableLengthQuantity::fromBytes(Bytes{}));
    const auto vlq = MIDIVariableLengthQuantity::fromBytes(Bytes{0x83, 0x60, 0x05});
    EXPECT_EQ(vlq->data, (Bytes{0x83, 0x60}));
    EXPECT_EQ(vlq->length(), 2);
    EXPECT_EQ(vlq->quantity(), 480u);
}

TEST(MIDICustomMetaEvent, ParsesKnownTypesAndCutsToTheBytesThere) {
    const auto end = MIDICustomMetaEvent::fromData(Bytes{0xFF, 0x2F, 0x00});
    ASSERT_TRUE(end);
    EXPECT_EQ(end->type, MIDICustomMetaEventType::endOfTrack);
    EXPECT_EQ(end->length, 0);
    EXPECT_EQ(end->data.size(), 3u);
    for (const Bytes& bad : {Bytes{0xFF, 0x0B, 0x00}, Bytes{0xFF, 0x51}, Bytes{0xFE, 0x51, 0x03, 1, 2, 3}})
        EXPECT_FALSE(MIDICustomMetaEvent::fromData(bad)) << bytesHexString(bad);

    const auto tempo = MIDICustomMetaEvent::fromData(Bytes{0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00});
    EXPECT_EQ(tempo->data.size(), 6u);
    EXPECT_EQ(Bytes(tempo->payload().begin(), tempo->payload().end()), (Bytes{0x07, 0xA1, 0x20}));
    EXPECT_EQ(tempo->description(), "Set Tempo 3 bytes long ");

    Bytes text{0xFF, 0x01, 0x81, 0x48};
    text.resize(4 + 200, 'a');
    EXPECT_EQ(MIDICustomMetaEvent::fromData(text)->data.size(), 204u);

    // An announced length beyond the bytes: all bytes kept, the announced length reported.
    const auto cut = MIDICustomMetaEvent::fromData(Bytes{0xFF, 0x01, 0x10, 'a', 'b'});
    EXPECT_EQ(cut->data.size(), 5u);
    EXPECT_EQ(cut->length, 16);
    // A length of 2^28 - 1 is summed without overflow.
    const auto huge = MIDICustomMetaEvent::fromData(Bytes{0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'x'});
    EXPECT_EQ(huge->data.size(), 7u);
    EXPECT_EQ(huge->length, (1 << 28) - 1);

    EXPECT_EQ(MIDICustomMetaEvent::fromData(Bytes{0xFF, 0x03, 0x05, 'P', 'i', 'a', 'n', 'o'})->description(),
              "Track Name 5 bytes long - Piano");
    EXPECT_EQ(MIDICustomMetaEvent::fromData(Bytes{0xFF, 0x03, 0x02, 0xC3, 0x28})->description(),
              "Track Name 2 bytes long ");
}

TEST(MIDISysExMessage, ParsesFileSysEx) {
    const auto message = MIDISysExMessage::fromBytes(Bytes{0xF0, 0x03, 0x43, 0x12, 0xF7, 0x00});
    ASSERT_TRUE(message);
    EXPECT_EQ(message->data, (Bytes{0xF0, 0x03, 0x43, 0x12, 0xF7}));
    EXPECT_EQ(message->description(), "MIDI SysEx message 3 bytes long");
    EXPECT_FALSE(MIDISysExMessage::fromBytes(Bytes{0xF0, 0x00}));
    EXPECT_EQ(MIDIHelper::decimalString(Bytes{1, 23}), "123");
    EXPECT_EQ(MIDIHelper::bigEndianUInt32(0, 0, 1, 0xE0), 480u);
    EXPECT_FALSE(MIDIHelper::utf8String(Bytes{0xFF}));
    EXPECT_EQ(MIDIHelper::utf8String(Bytes{0xE4, 0xB8, 0xAD}), "中");
}
