#include "Sonora/MIDI/MIDIControl.h"
#include "Sonora/MIDI/MIDIMessage.h"
#include "Sonora/MIDI/MIDIStatus.h"
#include "Sonora/MIDI/MIDISystemCommand.h"

#include <array>
#include <cstdio>

namespace sonora {

namespace {

struct ControlName {
    MIDIControl control;
    const char* name;
};

constexpr ControlName kControlNames[] = {
    {MIDIControl::modulationWheel, "Modulation Wheel"}, {MIDIControl::breathControl, "Breath Control"},
    {MIDIControl::footControl, "Foot Control"}, {MIDIControl::portamento, "Portamento"},
    {MIDIControl::dataEntry, "Data Entry"}, {MIDIControl::mainVolume, "Main Volume"},
    {MIDIControl::balance, "Balance"}, {MIDIControl::pan, "Stereo Panning"},
    {MIDIControl::expression, "Expression Pedal"}, {MIDIControl::damperOnOff, "Damper Pedal On/Off"},
    {MIDIControl::portamentoOnOff, "Portamento On/Off"}, {MIDIControl::sustenutoOnOff, "Sustenuto On/Off"},
    {MIDIControl::softPedalOnOff, "Soft Pedal On/Off"}, {MIDIControl::soundVariation, "Sound Variation"},
    {MIDIControl::resonance, "Resonance"}, {MIDIControl::releaseTime, "Release Time"},
    {MIDIControl::attackTime, "Attack Time"}, {MIDIControl::cutoff, "Cutoff"},
    {MIDIControl::soundControl6, "Sound Control 6"}, {MIDIControl::soundControl7, "Sound Control 7"},
    {MIDIControl::soundControl8, "Sound Control 8"}, {MIDIControl::soundControl9, "Sound Control 9"},
    {MIDIControl::soundControl10, "Sound Control 10"}, {MIDIControl::gpButton1, "GP Button 1"},
    {MIDIControl::gpButton2, "GP Button 2"}, {MIDIControl::gpButton3, "GP Button 3"},
    {MIDIControl::gpButton4, "GP Button 4"}, {MIDIControl::reverbLevel, "Reverb Level"},
    {MIDIControl::tremoloLevel, "Tremolo Level"}, {MIDIControl::chorusLevel, "Chorus Level"},
    {MIDIControl::celesteLevel, "Celeste Level or Detune"}, {MIDIControl::phaserLevel, "Phaser Level"},
    {MIDIControl::dataEntryPlus, "Data Entry Addition"}, {MIDIControl::dataEntryMinus, "Data Entry Subtraction"},
    {MIDIControl::NrpnLsb, "Non-registered Parameter Number LSB"},
    {MIDIControl::NrpnMsb, "Non-registered Parameter Number MSB"},
    {MIDIControl::RpnLsb, "Registered Parameter Number LSB"}, {MIDIControl::RpnMsb, "Registered Parameter Number MSB"},
    {MIDIControl::allSoundsOff, "All Sounds Off"}, {MIDIControl::allControllersOff, "All Controllers Off"},
    {MIDIControl::localControlOnOff, "Local Control On/Off"}, {MIDIControl::allNotesOff, "All Notes Off"},
    {MIDIControl::omniModeOff, "Omni Mode Off"}, {MIDIControl::omniModeOn, "Omni Mode On"},
    {MIDIControl::monoOperation, "Mono Operation"}, {MIDIControl::polyOperation, "Poly Operation"},
    {MIDIControl::modulationWheelLsb, "Mod Wheel LSB"}, {MIDIControl::breathControllerLsb, "Breath LSB"},
    {MIDIControl::footControlLsb, "Foot LSB"}, {MIDIControl::portamentoLsb, "Portamento LSB"},
    {MIDIControl::dataEntryLsb, "Data Entry LSB"}, {MIDIControl::mainVolumeLsb, "Main Volume LSB"},
    {MIDIControl::balanceLsb, "Balance LSB"}, {MIDIControl::panLsb, "Pan LSB"},
    {MIDIControl::expressionLsb, "Expression LSB"}, {MIDIControl::effectControl1Lsb, "Effect CTRL 1 LSB"},
    {MIDIControl::effectControl2Lsb, "Effect CTRL 2 LSB"},
};

// Number → name; an empty name marks a number without a case. "CC #n" cases are filled in.
const std::array<std::string, 128>& controlTable() {
    static const std::array<std::string, 128> table = [] {
        std::array<std::string, 128> t{};
        for (const auto& entry : kControlNames) t[uint8_t(entry.control)] = entry.name;
        for (int n : {0, 3, 9}) t[n] = "CC #" + std::to_string(n);
        for (int n = 12; n <= 32; ++n) t[n] = "CC #" + std::to_string(n);
        return t;
    }();
    return table;
}

constexpr const char* kCommandNames[16] = {
    "SysEx Begin", "Timecode Quater Frame", "Song Position", "Song Selection", nullptr, nullptr, "Tune Request",
    "SysEx End", "Timing Clock", nullptr, "Start", "Continue", "Stop", nullptr, "Active Sensing", "System Reset",
};

}  // namespace

std::optional<MIDIControl> MIDIControlFromRawValue(uint8_t number) {
    if (number >= 128 || controlTable()[number].empty()) return std::nullopt;
    return MIDIControl(number);
}

std::string description(MIDIControl control) {
    const uint8_t n = uint8_t(control);
    return n < 128 ? controlTable()[n] : std::string();
}

std::optional<MIDIStatusType> MIDIStatusTypeFromRawValue(int rawValue) {
    if (rawValue < 8 || rawValue > 14) return std::nullopt;
    return MIDIStatusType(rawValue);
}

std::optional<MIDIStatusType> MIDIStatusTypeFromByte(uint8_t byte) { return MIDIStatusTypeFromRawValue(byte >> 4); }

int length(MIDIStatusType type) {
    return type == MIDIStatusType::programChange || type == MIDIStatusType::channelAftertouch ? 2 : 3;
}

std::string description(MIDIStatusType type) {
    switch (type) {
    case MIDIStatusType::noteOff: return "Note Off";
    case MIDIStatusType::noteOn: return "Note On";
    case MIDIStatusType::polyphonicAftertouch: return "Polyphonic Aftertouch / Pressure";
    case MIDIStatusType::controllerChange: return "Control Change";
    case MIDIStatusType::programChange: return "Program Change";
    case MIDIStatusType::channelAftertouch: return "Channel Aftertouch / Pressure";
    case MIDIStatusType::pitchWheel: return "Pitch Wheel";
    }
    return {};
}

std::optional<MIDIStatus> MIDIStatus::fromByte(uint8_t byte) {
    if (!MIDIStatusTypeFromByte(byte)) return std::nullopt;
    return MIDIStatus(byte);
}

MIDIStatus::MIDIStatus(MIDIStatusType type, uint8_t channel) : byte(uint8_t((int(type) << 4) | (channel & 0x0F))) {}

int MIDIStatus::length() const {
    const auto t = type();
    return t ? sonora::length(*t) : 0;
}

std::string MIDIStatus::description() const {
    if (const auto t = type()) return sonora::description(*t) + " channel " + std::to_string(channel());
    if (const auto command = MIDISystemCommandFromRawValue(byte)) return "Command: " + sonora::description(*command);
    return "Invalid message";
}

std::optional<MIDISystemCommand> MIDISystemCommandFromRawValue(uint8_t byte) {
    if (byte < 0xF0 || !kCommandNames[byte - 0xF0]) return std::nullopt;
    return MIDISystemCommand(byte);
}

std::string description(MIDISystemCommand command) {
    const uint8_t b = uint8_t(command);
    return b >= 0xF0 && kCommandNames[b - 0xF0] ? kCommandNames[b - 0xF0] : "";
}

std::optional<MIDITimeFormat> MIDITimeFormatFromRawValue(int rawValue) {
    if (rawValue != 0 && rawValue != 1) return std::nullopt;
    return MIDITimeFormat(rawValue);
}

std::string byteHexString(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

std::string bytesHexString(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::optional<int64_t> bytesBigEndianValue(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return std::nullopt;
    uint64_t value = 0;
    for (uint8_t b : bytes) {
        if (value > (uint64_t(INT64_MAX) >> 8)) return std::nullopt;
        value = (value << 8) | b;
    }
    if (value > uint64_t(INT64_MAX)) return std::nullopt;
    return int64_t(value);
}

}  // namespace sonora
