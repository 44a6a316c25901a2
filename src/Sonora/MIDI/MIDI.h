// The process's one link to the platform's MIDI service: its client, the input ports opened on
// sources, the output port, the virtual endpoints the program publishes, the listeners and
// transformers incoming MIDI goes to, and the state of System Exclusive messages gathered across
// packets (legacy packets and Universal MIDI Packets).
//
// The listener and transformer lists are published as immutable snapshots: registering while the
// MIDI thread dispatches is safe, and dispatch takes no lock. The port and endpoint maps are
// guarded for the callers' threads.
#pragma once

#include "Sonora/MIDI/EndpointInfo.h"
#include "Sonora/MIDI/MIDIEvent.h"
#include "Sonora/MIDI/MIDIListener.h"
#include "platform/coremidi/MIDIServices.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sonora {

// A value published as immutable snapshots: writers (serialised by their owner) replace it while
// readers on the receive road see the current one without a lock. A replaced snapshot is freed
// once no reader is inside; until then it waits among the retired ones.
template <class T>
class PublishedSnapshot {
public:
    PublishedSnapshot() : owner_(std::make_shared<const T>()) { current_.store(owner_.get()); }
    PublishedSnapshot(const PublishedSnapshot&) = delete;
    PublishedSnapshot& operator=(const PublishedSnapshot&) = delete;

    // The snapshot current when the reader was made, valid while the reader lives.
    class Reader {
    public:
        explicit Reader(const PublishedSnapshot& slot) : slot_(slot) {
            slot_.readers_.fetch_add(1);
            value_ = slot_.current_.load();
        }
        ~Reader() { slot_.readers_.fetch_sub(1); }
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;
        const T& operator*() const { return *value_; }
        const T* operator->() const { return value_; }

    private:
        const PublishedSnapshot& slot_;
        const T* value_;
    };

    // For the writers (under their lock): the current snapshot, and its replacement.
    const std::shared_ptr<const T>& owner() const { return owner_; }
    void replace(std::shared_ptr<const T> next) {
        retired_.push_back(std::move(owner_));
        owner_ = std::move(next);
        current_.store(owner_.get());
        if (readers_.load() == 0) retired_.clear();
    }

private:
    std::shared_ptr<const T> owner_;
    std::vector<std::shared_ptr<const T>> retired_;
    std::atomic<const T*> current_{nullptr};
    mutable std::atomic<size_t> readers_{0};
};

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
    // Closes what this object opened and waits for the MIDI thread to leave its blocks.
    ~MIDI();
    MIDI(const MIDI&) = delete;
    MIDI& operator=(const MIDI&) = delete;

    using Listeners = std::vector<std::shared_ptr<MIDIListener>>;
    using Transformers = std::vector<std::shared_ptr<MIDITransformer>>;

    MIDIClientRef client() const { return client_; }
    const std::string clientName = "Sonora";
    const std::string inputPortName = "MIDI In Port";
    const std::string outputPortName = "MIDI Out Port";
    std::map<MIDIUniqueID, MIDIPortRef> inputPorts() const;
    std::map<MIDIUniqueID, MIDIEndpointRef> endpoints() const;
    std::vector<MIDIEndpointRef> virtualInputs() const;
    std::vector<MIDIEndpointRef> virtualOutputs() const;
    MIDIPortRef outputPort() const;

    // Listeners and transformers; removal compares identity and removes every entry.
    std::shared_ptr<const Listeners> listeners() const;
    void addListener(std::shared_ptr<MIDIListener> listener);
    void removeListener(const MIDIListener& listener);
    void clearListeners();
    std::shared_ptr<const Transformers> transformers() const;
    void addTransformer(std::shared_ptr<MIDITransformer> transformer);
    void removeTransformer(const MIDITransformer& transformer);
    void clearTransformers();

    // The platform's notifications, as the client's block gets them.
    void handleNotification(const platform::MIDINotification& notification);

    // Enumeration, read from the platform at each call.
    std::vector<MIDIUniqueID> sourceUIDs() const;
    std::vector<std::string> sourceNames() const;
    std::vector<MIDIUniqueID> destinationUIDsAll() const;
    std::vector<std::string> destinationNamesAll() const;
    // Sources, without the program's own virtual outputs.
    std::vector<MIDIUniqueID> inputUIDs() const;
    std::vector<std::string> inputNames() const;
    std::optional<std::string> inputName(MIDIUniqueID uid) const;
    MIDIUniqueID uidForInputAt(size_t index) const;

    // The descriptions of all sources and destinations, and of this object's virtual endpoints.
    std::vector<EndpointInfo> sourceInfos() const;
    std::vector<EndpointInfo> destinationInfos() const;
    std::vector<EndpointInfo> virtualInputInfos() const;
    std::vector<EndpointInfo> virtualOutputInfos() const;

    // Inputs: one port per opened source, keyed by the source's unique ID (0 opens every source).
    void openInput(MIDIUniqueID uid = 0);
    void openInput(const std::string& name);
    void openInputAt(size_t index);
    void closeInput(MIDIUniqueID uid);
    void closeInput() { closeInput(MIDIUniqueID(0)); }
    void closeInputAt(size_t index);
    void closeInput(const std::string& name);
    void closeAllInputs();

    // One event to every listener, by its status.
    void handleMIDIMessage(const MIDIEvent& event, MIDIUniqueID fromInput) const;

    // Virtual endpoints.
    void createVirtualPorts(int count = 1, const std::optional<std::vector<MIDIUniqueID>>& inputPortIDs = std::nullopt,
                            const std::optional<std::vector<MIDIUniqueID>>& outputPortIDs = std::nullopt,
                            const std::optional<std::vector<std::string>>& inputPortNames = std::nullopt,
                            const std::optional<std::vector<std::string>>& outputPortNames = std::nullopt);
    void createVirtualInputPorts(int count = 1, const std::optional<std::vector<MIDIUniqueID>>& uniqueIDs = std::nullopt,
                                 const std::optional<std::vector<std::string>>& names = std::nullopt);
    void createVirtualOutputPorts(int count = 1, const std::optional<std::vector<MIDIUniqueID>>& uniqueIDs = std::nullopt,
                                  const std::optional<std::vector<std::string>>& names = std::nullopt);
    bool destroyVirtualInputPort();
    bool destroyVirtualOutputPort();
    bool destroyVirtualPorts();

    // Outputs.
    std::vector<MIDIUniqueID> destinationUIDs() const;
    std::vector<std::string> destinationNames() const;
    std::string destinationName(MIDIUniqueID uid) const;
    MIDIUniqueID destinationUID(size_t index) const;
    std::vector<MIDIUniqueID> virtualInputUIDs() const;
    std::vector<MIDIUniqueID> virtualOutputUIDs() const;
    std::vector<std::string> virtualInputNames() const;
    std::vector<std::string> virtualOutputNames() const;
    void openOutput(MIDIUniqueID uid = 0);
    void openOutput(const std::string& name);
    void openOutputAt(size_t index);
    void closeOutput(MIDIUniqueID uid);
    void closeOutput(const std::string& name);
    void closeOutputAt(size_t index);
    void removeAllEndpoints();

    // Sending. No endpoint list: every open endpoint; no virtual output list: none.
    static constexpr size_t maximumSendBufferSize = 65536;
    using UIDs = std::optional<std::vector<MIDIUniqueID>>;
    using Ports = std::optional<std::vector<MIDIEndpointRef>>;
    void sendMessage(const std::vector<uint8_t>& data, MIDITimeStamp offset = 0, const UIDs& endpointsUIDs = std::nullopt,
                     const Ports& virtualOutputPorts = std::nullopt);
    void sendMessageWithTime(const std::vector<uint8_t>& data, MIDITimeStamp time,
                             const UIDs& endpointsUIDs = std::nullopt, const Ports& virtualOutputPorts = std::nullopt);
    void send(const MIDIEvent& event, const UIDs& endpointsUIDs = std::nullopt,
              const Ports& virtualOutputPorts = std::nullopt);
    void sendNoteOn(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, const UIDs& endpointsUIDs = std::nullopt,
                    const Ports& virtualOutputPorts = std::nullopt);
    void sendNoteOff(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, const UIDs& endpointsUIDs = std::nullopt,
                     const Ports& virtualOutputPorts = std::nullopt);
    void sendController(MIDIByte controller, MIDIByte value, MIDIByte channel, const UIDs& endpointsUIDs = std::nullopt,
                        const Ports& virtualOutputPorts = std::nullopt);
    void sendPitchBend(uint16_t value, MIDIByte channel, const UIDs& endpointsUIDs = std::nullopt,
                       const Ports& virtualOutputPorts = std::nullopt);
    void sendNoteOnWithTime(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, MIDITimeStamp time,
                            const UIDs& endpointsUIDs = std::nullopt, const Ports& virtualOutputPorts = std::nullopt);
    void sendNoteOffWithTime(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, MIDITimeStamp time,
                             const UIDs& endpointsUIDs = std::nullopt, const Ports& virtualOutputPorts = std::nullopt);

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
    // Drops the message being gathered, which will never be finished, and stops gathering.
    void dropIncomingSysEx();
    // Back to the state of a fresh object (tests).
    void resetSysExStateForTesting();

    // Universal MIDI Packets (MIDI 1.0 protocol) to events, with the packet's time stamp.
    std::vector<MIDIEvent> processUMPMessages(const platform::MIDIEventPacket& packet);
    std::vector<MIDIEvent> processUMPMessages(std::span<const uint32_t> words, MIDITimeStamp timeStamp);
    // The seven bytes after byte 0 of a 64-bit SysEx7 message; a finished message or nothing.
    std::vector<uint8_t> processUMPSysExMessage(std::span<const uint8_t> bytes);
    const std::vector<uint8_t>& incomigUMPSysExMessage() const { return incomigUMPSysExMessage_; }

private:
    void receivePackets(const platform::MIDIPacketList* list, size_t listBytes, MIDIUniqueID uid);
    void receiveEvents(const platform::MIDIEventList* list, size_t listBytes, MIDIUniqueID uid);
    void transformAndDispatch(std::vector<MIDIEvent> events, MIDIUniqueID uid);
    void dispatch(const MIDIEvent& event, MIDIUniqueID fromInput, const Listeners& snapshot) const;
    // The platform's sources (destinations) that are not the program's own virtual endpoints.
    std::vector<MIDIEndpointRef> foreignSources() const;
    std::vector<MIDIEndpointRef> foreignDestinations() const;
    void createVirtual(bool inputs, int count, const std::optional<std::vector<MIDIUniqueID>>& uniqueIDs,
                       const std::optional<std::vector<std::string>>& names);
    bool destroyVirtual(bool inputs);
    void clearIncomingSysEx();
    void sendList(const std::vector<uint8_t>& buffer, const UIDs& endpointsUIDs, const Ports& virtualOutputPorts);

    MIDIClientRef client_ = 0;
    mutable std::mutex mutex_;  // the maps, the endpoint lists and the output port
    std::map<MIDIUniqueID, MIDIPortRef> inputPorts_;
    std::vector<MIDIEndpointRef> virtualInputs_{0};
    MIDIPortRef outputPort_ = 0;
    std::vector<MIDIEndpointRef> virtualOutputs_{0};
    std::map<MIDIUniqueID, MIDIEndpointRef> endpoints_;
    mutable std::mutex writers_;  // serialises the writers of the two snapshots below
    PublishedSnapshot<Listeners> listeners_;
    PublishedSnapshot<Transformers> transformers_;

    std::atomic<bool> isReceivingSysEx_{false};
    std::vector<uint8_t> incomingSysEx_;
    std::vector<uint8_t> incomigUMPSysExMessage_;
    // The UMP SysEx message under way was dropped (or never started): its rest is dropped quietly.
    bool umpSysExDropping_ = false;
};

}  // namespace sonora
