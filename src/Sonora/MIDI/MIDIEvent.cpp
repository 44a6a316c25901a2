#include "Sonora/MIDI/MIDIEvent.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/MIDI/MIDI.h"
#include "Sonora/MIDI/MIDICustomMetaEvent.h"
#include "Sonora/MIDI/MIDIPacketSequence.h"

#include <algorithm>
#include <cstring>

namespace sonora {

namespace {

// The bytes of a message when no SysEx message is being gathered.
std::vector<uint8_t> keptBytes(std::span<const uint8_t> d) {
    if (d.empty()) return {};
    if (MIDISystemCommandFromRawValue(d[0])) return {d.begin(), d.end()};
    if (MIDIStatus::fromByte(d[0])) {
        std::vector<uint8_t> kept(d.begin(), d.end());
        for (size_t i = 1; i < kept.size(); ++i) kept[i] &= 0x7F;
        return kept;
    }
    // At debug level: a file read meets this once per event, far too often for the log file.
    if (const auto meta = MIDICustomMetaEventTypeFromRawValue(d[0]))
        Log({"is meta event " + description(*meta)}, OSLog::midi(), OSLogType::debug);
    return {};
}

// The bytes of a SysEx message up to and including its first 0xF7 after the first byte; none
// without one.
std::vector<uint8_t> throughFirstEnd(std::span<const uint8_t> d) {
    const auto end = std::find(d.begin() + std::min<size_t>(1, d.size()), d.end(), uint8_t(0xF7));
    if (end == d.end()) return {};
    return {d.begin(), end + 1};
}

std::string bytesText(const std::vector<uint8_t>& bytes) {
    std::string text = "[";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(bytes[i]);
    }
    return text + "]";
}

}  // namespace

MIDIPacketBytes MIDIPacketBytes::of(const platform::MIDIPacket& packet) {
    const size_t length = std::min<size_t>(platform::MIDIPacketLength(&packet), sizeof packet.data);
    return {platform::MIDIPacketTimeStamp(&packet), std::span<const uint8_t>(packet.data, length)};
}

std::vector<uint8_t> packetBytes(const platform::MIDIPacket& packet) {
    const auto bytes = MIDIPacketBytes::of(packet).bytes;
    return {bytes.begin(), bytes.end()};
}

MIDIEvent::MIDIEvent(std::span<const uint8_t> d, std::optional<MIDITimeStamp> stamp) : timeStamp(stamp) {
    MIDI& midi = MIDI::sharedInstance();
    if (midi.isReceivingSysEx()) {
        if (d.empty()) return;
        if (d[0] == 0xF7) {
            data = {0xF7};
            return;
        }
        data = throughFirstEnd(d);
        return;
    }
    data = keptBytes(d);
}

MIDIEvent::MIDIEvent(const MIDIPacketBytes& packet) : timeStamp(packet.timeStamp) {
    const auto p = packet.bytes;
    const auto at = [&](size_t i) -> uint8_t { return i < p.size() ? p[i] : 0; };
    const uint8_t first = at(0);
    if (first < 0xF0) {
        data = {first, at(1), at(2)};
        return;
    }
    const auto command = MIDISystemCommandFromRawValue(first);
    if (!command) return;
    switch (*command) {
    case MIDISystemCommand::sysEx: {
        MIDI& midi = MIDI::sharedInstance();
        midi.startReceivingSysEx(p);
        data = throughFirstEnd(p);
        if (!data.empty()) midi.stopReceivingSysEx();
        break;
    }
    case MIDISystemCommand::timeCodeQuarterFrame:
    case MIDISystemCommand::songSelect:
        data = {first, at(1)};
        break;
    case MIDISystemCommand::songPosition:
        data = {first, at(1), at(2)};
        break;
    case MIDISystemCommand::sysExEnd:
        break;
    default:
        data = {first};
        break;
    }
}

std::optional<MIDIEvent> MIDIEvent::appendIncomingSysEx(const MIDIPacketBytes& packet) {
    MIDI& midi = MIDI::sharedInstance();
    if (!midi.appendIncomingSysEx(packet.bytes)) return std::nullopt;
    if (std::find(packet.bytes.begin(), packet.bytes.end(), uint8_t(0xF7)) == packet.bytes.end()) return std::nullopt;
    MIDIEvent event(std::span<const uint8_t>(midi.incomingSysEx()), packet.timeStamp);
    midi.stopReceivingSysEx();
    return event;
}

MIDIEvent MIDIEvent::wholeMessage(std::span<const uint8_t> bytes) {
    MIDIEvent event;
    event.data = keptBytes(bytes);
    return event;
}

MIDIEvent MIDIEvent::ofMessage(std::span<const uint8_t> bytes, std::optional<MIDITimeStamp> timeStamp) {
    MIDIEvent event = wholeMessage(bytes);
    event.timeStamp = timeStamp;
    return event;
}

MIDIEvent MIDIEvent::noteOn(uint8_t noteNumber, uint8_t velocity, uint8_t channel) {
    const uint8_t bytes[] = {uint8_t(0x90 | (channel & 0x0F)), noteNumber, velocity};
    return wholeMessage(bytes);
}

MIDIEvent MIDIEvent::noteOff(uint8_t noteNumber, uint8_t velocity, uint8_t channel) {
    const uint8_t bytes[] = {uint8_t(0x80 | (channel & 0x0F)), noteNumber, velocity};
    return wholeMessage(bytes);
}

MIDIEvent MIDIEvent::programChange(uint8_t program, uint8_t channel) {
    const uint8_t bytes[] = {uint8_t(0xC0 | (channel & 0x0F)), program};
    return wholeMessage(bytes);
}

MIDIEvent MIDIEvent::controllerChange(uint8_t controller, uint8_t value, uint8_t channel) {
    const uint8_t bytes[] = {uint8_t(0xB0 | (channel & 0x0F)), controller, value};
    return wholeMessage(bytes);
}

std::vector<MIDIEvent> MIDIEvent::eventsFromPacketList(const platform::MIDIPacketList* list, size_t listBytes) {
    std::vector<MIDIEvent> events;
    MIDIPacketListIterator packets(list, listBytes);
    while (const auto packet = packets.next()) events.emplace_back(*packet);
    return events;
}

std::vector<MIDIEvent> MIDIEvent::eventsFromTimestampedPayload(std::span<const uint8_t> b) {
    std::vector<MIDIEvent> events;
    if (b.size() < 3 || !(b[1] & 0x80)) return events;
    std::vector<std::vector<uint8_t>> messages;
    std::vector<uint8_t> message;
    uint8_t status = 0;
    bool timeStampNext = false;
    for (size_t i = 2; i < b.size(); ++i) {
        if (b[i] & 0x80) {
            if (timeStampNext) {
                timeStampNext = false;
                continue;
            }
            status = b[i];
            message.push_back(b[i]);
        } else {
            if (message.empty()) message.push_back(status);
            message.push_back(b[i]);
        }
        if (b[i] == 0xF7 || (message.size() == 3 && status != 0xF0)) {
            messages.push_back(std::move(message));
            message.clear();
            timeStampNext = true;
        }
    }
    events.reserve(messages.size());
    for (const auto& m : messages) events.emplace_back(std::span<const uint8_t>(m));
    return events;
}

std::optional<MIDIStatus> MIDIEvent::status() const {
    if (data.empty()) return std::nullopt;
    return MIDIStatus::fromByte(data[0]);
}

std::optional<MIDISystemCommand> MIDIEvent::command() const {
    if (data.empty() || data[0] == 0xFF) return std::nullopt;
    return MIDISystemCommandFromRawValue(data[0]);
}

std::optional<uint8_t> MIDIEvent::channel() const {
    if (!status()) return std::nullopt;
    return uint8_t(data[0] & 0x0F);
}

std::optional<uint8_t> MIDIEvent::noteNumber() const {
    const auto s = status();
    if (!s || data.size() < 2) return std::nullopt;
    const auto type = s->type();
    if (type != MIDIStatusType::noteOn && type != MIDIStatusType::noteOff) return std::nullopt;
    return data[1];
}

std::optional<uint16_t> MIDIEvent::pitchWheelValue() const {
    const auto s = status();
    if (!s || s->type() != MIDIStatusType::pitchWheel || data.size() < 3) return std::nullopt;
    return uint16_t((data[2] << 7) + data[1]);
}

std::vector<std::vector<uint8_t>> MIDIEvent::dataChunks() const {
    std::vector<std::vector<uint8_t>> chunks;
    for (size_t start = 0; start <= data.size(); start += 256)
        chunks.emplace_back(data.begin() + start, data.begin() + std::min(start + 256, data.size()));
    return chunks;
}

std::string MIDIEvent::description() const {
    if (const auto s = status()) return s->description() + " - " + bytesText(data);
    if (const auto c = command()) return sonora::description(*c) + " - " + bytesText(data);
    if (const auto meta = MIDICustomMetaEvent::fromData(data)) return meta->description() + " - " + bytesText(data);
    return "Unhandled event " + bytesText(data);
}

bool MIDIEvent::operator==(const MIDIEvent& other) const {
    // std::optional compares present values with ==, so a NaN position is unequal to itself.
    return data == other.data && positionInBeats == other.positionInBeats && offset == other.offset &&
           timeStamp == other.timeStamp;
}

MIDIPacketListIterator::MIDIPacketListIterator(const platform::MIDIPacketList* list, size_t listBytes)
    : base_(reinterpret_cast<const uint8_t*>(list)),
      size_(list ? listBytes : 0),
      offset_(platform::kMIDIPacketListHeaderSize),
      count_(platform::MIDIPacketListCount(list, size_)) {}

std::optional<MIDIPacketBytes> MIDIPacketListIterator::next() {
    if (index_ >= count_) return std::nullopt;
    const size_t header = platform::kMIDIPacketHeaderSize;
    if (offset_ > size_ || size_ - offset_ < header) return std::nullopt;
    const auto* packet = reinterpret_cast<const platform::MIDIPacket*>(base_ + offset_);
    const size_t length = platform::MIDIPacketLength(packet);
    // A packet crossing the list's end (a count that lies) ends the walk.
    if (size_ - offset_ - header < length) return std::nullopt;
    MIDIPacketBytes bytes{platform::MIDIPacketTimeStamp(packet),
                          std::span<const uint8_t>(base_ + offset_ + header, length)};
    offset_ += header + length;
    ++index_;
    return bytes;
}

std::optional<MIDIEvent> MIDIPacketEventIterator::next() {
    if (readyAt_ == ready_.size()) {
        ready_.clear();
        readyAt_ = 0;
        parse();
    }
    if (ready_.empty()) return std::nullopt;
    return std::move(ready_[readyAt_++]);
}

void MIDIPacketEventIterator::realTime(uint8_t byte) {
    if (MIDISystemCommandFromRawValue(byte))
        ready_.push_back(MIDIEvent::ofMessage(std::span<const uint8_t>(&byte, 1), packet_.timeStamp));
}

bool MIDIPacketEventIterator::continueSysEx() {
    MIDI& midi = MIDI::sharedInstance();
    const auto p = packet_.bytes;
    while (count_ < p.size()) {
        size_t run = count_;
        while (run < p.size() && p[run] < 0x80) ++run;
        if (run > count_) {
            const bool kept = midi.appendIncomingSysEx(p.subspan(count_, run - count_));
            count_ = run;
            if (!kept) return true;  // too long: dropped, its remaining data bytes end the walk
            continue;
        }
        const uint8_t byte = p[count_];
        if (byte >= 0xF8) {
            ++count_;
            realTime(byte);
            continue;
        }
        if (byte != 0xF7) {
            // A status byte: the message never got its 0xF7.
            midi.dropIncomingSysEx();
            startedSysEx_ = false;
            return false;
        }
        ++count_;
        startedSysEx_ = false;
        if (!midi.appendIncomingSysEx(p.subspan(count_ - 1, 1))) return true;
        ready_.push_back(MIDIEvent::ofMessage(midi.incomingSysEx(), packet_.timeStamp));
        midi.stopReceivingSysEx();
        return true;
    }
    return true;
}

void MIDIPacketEventIterator::parse() {
    MIDI& midi = MIDI::sharedInstance();
    const auto p = packet_.bytes;
    const auto stamp = packet_.timeStamp;
    while (ready_.empty() && !ended_) {
        if (midi.isReceivingSysEx() && count_ < p.size() && continueSysEx()) continue;
        if (count_ >= p.size()) {
            // A SysEx message this packet began and left open shows as an empty event.
            if (startedSysEx_ && midi.isReceivingSysEx()) ready_.push_back(MIDIEvent::ofMessage({}, stamp));
            ended_ = true;
            break;
        }
        const uint8_t s = p[count_++];
        if (s >= 0xF8) {
            realTime(s);
            continue;
        }
        size_t more = 0;
        switch (s >> 4) {
        case 0x8: case 0x9: case 0xA: case 0xB: case 0xE: more = 2; break;
        case 0xC: case 0xD: more = 1; break;
        case 0xF: {
            const auto command = MIDISystemCommandFromRawValue(s);
            if (!command) {
                ended_ = true;
                continue;
            }
            switch (*command) {
            case MIDISystemCommand::timeCodeQuarterFrame:
            case MIDISystemCommand::songSelect: more = 1; break;
            case MIDISystemCommand::songPosition: more = 2; break;
            case MIDISystemCommand::sysEx:
                midi.startReceivingSysEx(p.subspan(count_ - 1, 1));
                startedSysEx_ = true;
                continue;
            case MIDISystemCommand::sysExEnd:
                ready_.push_back(MIDIEvent::ofMessage({}, stamp));  // an end without its message
                continue;
            default: break;  // tune request
            }
            break;
        }
        default: ended_ = true; continue;  // a data byte where a status is due
        }
        // The data bytes, real-time bytes among them taken out in place; past the packet's
        // length they read 0 and the walk ends with this message.
        uint8_t bytes[3] = {s, 0, 0};
        for (size_t have = 0; have < more;) {
            if (count_ >= p.size()) {
                ended_ = true;
                break;
            }
            const uint8_t byte = p[count_++];
            if (byte >= 0xF8)
                realTime(byte);
            else
                bytes[1 + have++] = byte;
        }
        ready_.push_back(MIDIEvent::ofMessage(std::span<const uint8_t>(bytes, more + 1), stamp));
    }
}

std::vector<MIDIEvent> packetEvents(const MIDIPacketBytes& packet) {
    std::vector<MIDIEvent> events;
    MIDIPacketEventIterator iterator(packet);
    while (auto event = iterator.next()) events.push_back(std::move(*event));
    return events;
}

}  // namespace sonora
