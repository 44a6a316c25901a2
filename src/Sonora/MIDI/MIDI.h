// The process's one link to the platform's MIDI service. Here: the shared instance and the state
// of System Exclusive messages gathered across packets (legacy packets and Universal MIDI Packets).
#pragma once

#include "Sonora/MIDI/MIDIEvent.h"
#include "platform/coremidi/MIDIServices.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sonora {

class MIDI {
public:
    // A SysEx message that grows past this without its 0xF7 is dropped.
    static constexpr size_t maximumSysExSize = 1 << 20;

    enum class UMPMessageType : uint8_t {
        Utility32bit = 0,
        SystemRealTimeAndCommon32bit = 1,
        MIDI1ChannelVoice32bit = 2,
        DataAndSysEx64bit = 3,
        MIDI2ChannelVoice64bit = 4,
        Data128bit = 5,
        Reserved32bit_1 = 6,
        Reserved32bit_2 = 7,
        Reserved64bit_3 = 8,
        Reserved64bit_4 = 9,
        Reserved64bit_5 = 10,
        Reserved96bit_6 = 11,
        Reserved96bit_7 = 12,
        Reserved128bit_8 = 13,
        Reserved128bit_9 = 14,
        Reserved128bit_10 = 15,
    };
    static std::optional<UMPMessageType> UMPMessageTypeFromRawValue(uint8_t rawValue);
    static std::string name(UMPMessageType type);

    MIDI();
    MIDI(const MIDI&) = delete;
    MIDI& operator=(const MIDI&) = delete;

    // Created on first use; replaceable.
    static MIDI& sharedInstance();
    static void setSharedInstance(std::shared_ptr<MIDI> instance);

    // Legacy-path SysEx gathering.
    bool isReceivingSysEx() const { return isReceivingSysEx_.load(std::memory_order_acquire); }
    const std::vector<uint8_t>& incomingSysEx() const { return incomingSysEx_; }
    void startReceivingSysEx(std::span<const uint8_t> bytes);
    void stopReceivingSysEx();
    // Appends to the message being gathered; false (and gathering stopped) when it grew too long.
    bool appendIncomingSysEx(std::span<const uint8_t> bytes);
    // Back to the state of a fresh object (tests).
    void resetSysExStateForTesting();

    // Universal MIDI Packets (MIDI 1.0 protocol) to events, with the packet's time stamp.
    std::vector<MIDIEvent> processUMPMessages(const platform::MIDIEventPacket& packet);
    std::vector<MIDIEvent> processUMPMessages(std::span<const uint32_t> words, MIDITimeStamp timeStamp);
    // The seven bytes after byte 0 of a 64-bit SysEx7 message; a finished message or nothing.
    std::vector<uint8_t> processUMPSysExMessage(std::span<const uint8_t> bytes);
    const std::vector<uint8_t>& incomigUMPSysExMessage() const { return incomigUMPSysExMessage_; }

private:
    std::atomic<bool> isReceivingSysEx_{false};
    std::vector<uint8_t> incomingSysEx_;
    std::vector<uint8_t> incomigUMPSysExMessage_;
};

}  // namespace sonora
