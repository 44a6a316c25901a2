#include "Sonora/MIDI/MIDI.h"

#include "Sonora/Internals/Utilities/Log.h"

#include <algorithm>
#include <array>
#include <mutex>

namespace sonora {

namespace {
std::shared_ptr<MIDI>& sharedSlot() {
    static std::shared_ptr<MIDI> instance;
    return instance;
}
std::once_flag sharedOnce;

constexpr const char* kUMPTypeNames[16] = {
    "Utility32bit",      "SystemRealTimeAndCommon32bit", "MIDI1ChannelVoice32bit", "DataAndSysEx64bit",
    "MIDI2ChannelVoice64bit", "Data128bit",            "Reserved32bit_1",        "Reserved32bit_2",
    "Reserved64bit_3",   "Reserved64bit_4",             "Reserved64bit_5",        "Reserved96bit_6",
    "Reserved96bit_7",   "Reserved128bit_8",            "Reserved128bit_9",       "Reserved128bit_10",
};
}  // namespace

std::optional<MIDI::UMPMessageType> MIDI::UMPMessageTypeFromRawValue(uint8_t rawValue) {
    if (rawValue > 15) return std::nullopt;
    return UMPMessageType(rawValue);
}

std::string MIDI::name(UMPMessageType type) { return kUMPTypeNames[uint8_t(type) & 0x0F]; }

MIDI::MIDI() {
    Log({"Initializing MIDI"}, OSLog::midi());
    const auto status = platform::MIDIClientCreateWithBlock(
        clientName, &client_, [this](const platform::MIDINotification* n) { handleNotification(*n); });
    if (status != platform::noErr)
        Log({"Error creating MIDI client: " + std::to_string(status)}, OSLog::midi(), OSLogType::error);
}

MIDI::~MIDI() {
    // The platform's blocks refer to this object: once its client (with its ports and endpoints)
    // is gone and the MIDI thread has finished what it was running, none is called again.
    if (client_) platform::MIDIClientDispose(client_);
    platform::MIDIDrain();
}

MIDI& MIDI::sharedInstance() {
    std::call_once(sharedOnce, [] {
        if (!sharedSlot()) sharedSlot() = std::make_shared<MIDI>();
    });
    return *sharedSlot();
}

void MIDI::setSharedInstance(std::shared_ptr<MIDI> instance) {
    std::call_once(sharedOnce, [] {});
    if (instance) sharedSlot() = std::move(instance);
}

void MIDI::startReceivingSysEx(std::span<const uint8_t> bytes) {
    Log({"Starting to receive SysEx"}, OSLog::midi());
    incomingSysEx_.assign(bytes.begin(), bytes.end());
    isReceivingSysEx_.store(true, std::memory_order_release);
    if (incomingSysEx_.size() > maximumSysExSize) appendIncomingSysEx({});
}

void MIDI::stopReceivingSysEx() {
    Log({"Done receiving SysEx"}, OSLog::midi());
    isReceivingSysEx_.store(false, std::memory_order_release);
}

bool MIDI::appendIncomingSysEx(std::span<const uint8_t> bytes) {
    if (incomingSysEx_.size() + bytes.size() > maximumSysExSize) {
        // A message whose 0xF7 never comes would otherwise grow without bound.
        Log({"SysEx message longer than", maximumSysExSize, "bytes dropped"}, OSLog::midi(), OSLogType::error);
        clearIncomingSysEx();
        return false;
    }
    incomingSysEx_.insert(incomingSysEx_.end(), bytes.begin(), bytes.end());
    return true;
}

void MIDI::clearIncomingSysEx() {
    incomingSysEx_.clear();
    incomingSysEx_.shrink_to_fit();
    isReceivingSysEx_.store(false, std::memory_order_release);
}

void MIDI::dropIncomingSysEx() {
    Log({"SysEx message without its end dropped:", incomingSysEx_.size(), "bytes"}, OSLog::midi(), OSLogType::error);
    clearIncomingSysEx();
}

void MIDI::resetSysExStateForTesting() {
    isReceivingSysEx_.store(false);
    incomingSysEx_.clear();
    incomigUMPSysExMessage_.clear();
    umpSysExDropping_ = false;
}

std::vector<MIDIEvent> MIDI::processUMPMessages(const platform::MIDIEventPacket& packet) {
    const size_t count = std::min<size_t>(packet.wordCount, std::size(packet.words));
    return processUMPMessages(std::span<const uint32_t>(packet.words, count), packet.timeStamp);
}

std::vector<MIDIEvent> MIDI::processUMPMessages(std::span<const uint32_t> words, MIDITimeStamp timeStamp) {
    std::vector<MIDIEvent> events;
    const auto bytesOf = [](uint32_t word) {
        return std::array<uint8_t, 4>{uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)};
    };
    size_t i = 0;
    while (i < words.size()) {
        const auto word = bytesOf(words[i]);
        const auto type = UMPMessageType(word[0] >> 4);
        switch (type) {
        case UMPMessageType::Utility32bit:
        case UMPMessageType::SystemRealTimeAndCommon32bit:
        case UMPMessageType::MIDI1ChannelVoice32bit:
            events.push_back(MIDIEvent::ofMessage(std::span<const uint8_t>(word.data() + 1, 3), timeStamp));
            i += 1;
            break;
        case UMPMessageType::DataAndSysEx64bit: {
            // A message cut off by the packet's end ends the walk.
            if (i + 1 >= words.size()) return events;
            const auto second = bytesOf(words[i + 1]);
            const uint8_t bytes[7] = {word[1], word[2], word[3], second[0], second[1], second[2], second[3]};
            const auto message = processUMPSysExMessage(bytes);
            events.push_back(MIDIEvent::ofMessage(message, timeStamp));
            i += 2;
            break;
        }
        case UMPMessageType::Reserved32bit_1:
        case UMPMessageType::Reserved32bit_2:
            Log({"Got unsupported 32 bit UMP message of type: " + name(type)}, OSLog::midi());
            i += 1;
            break;
        case UMPMessageType::MIDI2ChannelVoice64bit:
        case UMPMessageType::Reserved64bit_3:
        case UMPMessageType::Reserved64bit_4:
        case UMPMessageType::Reserved64bit_5:
            Log({"Got unsupported 64 bit UMP message of type: " + name(type)}, OSLog::midi());
            i += 2;
            break;
        case UMPMessageType::Reserved96bit_6:
        case UMPMessageType::Reserved96bit_7:
            Log({"Got unsupported 96 bit UMP message of type: " + name(type)}, OSLog::midi());
            i += 3;
            break;
        default:
            Log({"Got unsupported 128 bit UMP message of type " + name(type)}, OSLog::midi());
            i += 4;
            break;
        }
    }
    return events;
}

std::vector<uint8_t> MIDI::processUMPSysExMessage(std::span<const uint8_t> b) {
    if (b.empty()) return {};
    // A count above 6 announces more than the message holds: it counts 6.
    const size_t count = std::min<size_t>({size_t(b[0] & 0x0F), 6, b.size() - 1});
    // SysEx data bytes are 7-bit: a byte with its top bit set would read as a status byte.
    std::array<uint8_t, 6> masked{};
    for (size_t i = 0; i < count; ++i) masked[i] = b[1 + i] & 0x7F;
    const std::span<const uint8_t> payload(masked.data(), count);
    auto& message = incomigUMPSysExMessage_;
    // A start leaves the message open until its end; an end closes it with 0xF7.
    const bool open = !message.empty() && message.front() == 0xF0 && message.back() != 0xF7;
    // The rest of a dropped or unstarted message is dropped with one line, not one per packet.
    const auto orphan = [&] {
        if (!umpSysExDropping_)
            Log({"UMP SYSEX - Continue or end without a start dropped"}, OSLog::midi(), OSLogType::error);
        umpSysExDropping_ = true;
        return std::vector<uint8_t>{};
    };
    const auto fits = [&](size_t more) {
        if (message.size() + more <= maximumSysExSize) return true;
        Log({"UMP SysEx message longer than", maximumSysExSize, "bytes dropped"}, OSLog::midi(), OSLogType::error);
        message.clear();
        message.shrink_to_fit();
        umpSysExDropping_ = true;
        return false;
    };
    switch (b[0] >> 4) {
    case 0:
        Log({"UMP SYSEX - Got complete SysEx message in one UMP packet"}, OSLog::midi(), OSLogType::debug);
        umpSysExDropping_ = false;
        message.assign(1, 0xF0);
        message.insert(message.end(), payload.begin(), payload.end());
        message.push_back(0xF7);
        return message;
    case 1:
        Log({"UMP SYSEX - Start receiving UMP SysEx messages"}, OSLog::midi(), OSLogType::debug);
        umpSysExDropping_ = false;
        message.assign(1, 0xF0);
        message.insert(message.end(), payload.begin(), payload.end());
        return {};
    case 2:
        Log({"UMP SYSEX - Continue receiving UMP SysEx messages"}, OSLog::midi(), OSLogType::debug);
        if (!open) return orphan();
        if (fits(payload.size())) message.insert(message.end(), payload.begin(), payload.end());
        return {};
    case 3:
        Log({"UMP SYSEX - End of UMP SysEx messages"}, OSLog::midi(), OSLogType::debug);
        if (!open || !fits(payload.size() + 1)) {
            orphan();
            umpSysExDropping_ = false;  // the next continue without a start is news again
            return {};
        }
        message.insert(message.end(), payload.begin(), payload.end());
        message.push_back(0xF7);
        return message;
    default:
        Log({"UMP SYSEX - Got unsupported UMPSysEx7bitStatus"}, OSLog::midi());
        return {payload.begin(), payload.end()};
    }
}

}  // namespace sonora
