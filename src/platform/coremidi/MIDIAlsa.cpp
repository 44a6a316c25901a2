#include "platform/coremidi/MIDIAlsa.h"

#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include <poll.h>
#include <unistd.h>

namespace platform::alsa {

namespace {

void logError(const std::string& message) {
    os_log(OSLog{"com.tamberlo.coremidi", "midi"}, OSLogType::error, message);
}

constexpr size_t kSysExChunk = 256;

bool isAnnouncement(int type) {
    switch (type) {
    case SND_SEQ_EVENT_CLIENT_START: case SND_SEQ_EVENT_CLIENT_EXIT: case SND_SEQ_EVENT_CLIENT_CHANGE:
    case SND_SEQ_EVENT_PORT_START: case SND_SEQ_EVENT_PORT_EXIT: case SND_SEQ_EVENT_PORT_CHANGE:
        return true;
    default:
        return false;
    }
}

}  // namespace

MIDIUniqueID uniqueIDFor(const std::string& clientName, const std::string& portName, MIDIObjectType type) {
    // FNV-1a over "client/port" and the direction.
    uint32_t hash = 2166136261u;
    const auto mix = [&](uint8_t byte) {
        hash ^= byte;
        hash *= 16777619u;
    };
    for (char c : clientName) mix(uint8_t(c));
    mix('/');
    for (char c : portName) mix(uint8_t(c));
    mix(type == kMIDIObjectType_Source ? 'S' : 'D');
    const auto id = MIDIUniqueID(hash);
    return id == 0 ? 1 : id;
}

std::vector<ExternalEndpoint> endpointsOf(const PortDescription& port, int self) {
    std::vector<ExternalEndpoint> out;
    if (port.client == SND_SEQ_CLIENT_SYSTEM || port.client == self) return out;
    if (port.capability & SND_SEQ_PORT_CAP_NO_EXPORT) return out;
    const auto add = [&](MIDIObjectType type) {
        out.push_back({type, port.client, port.port, port.portName, uniqueIDFor(port.clientName, port.portName, type)});
    };
    constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    constexpr unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    if ((port.capability & readable) == readable) add(kMIDIObjectType_Source);
    if ((port.capability & writable) == writable) add(kMIDIObjectType_Destination);
    return out;
}

EventCoder::EventCoder() {
    snd_midi_event_new(kSysExChunk, &encoder_);
    snd_midi_event_new(kSysExChunk, &decoder_);
    if (decoder_) snd_midi_event_no_status(decoder_, 1);
}

EventCoder::~EventCoder() {
    if (encoder_) snd_midi_event_free(encoder_);
    if (decoder_) snd_midi_event_free(decoder_);
}

void EventCoder::encode(const uint8_t* bytes, size_t n, const std::function<void(snd_seq_event_t&)>& emit) {
    if (!encoder_) return;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    for (size_t i = 0; i < n; ++i) {
        if (snd_midi_event_encode_byte(encoder_, bytes[i], &event) != 1) continue;
        if (event.type != SND_SEQ_EVENT_NONE) emit(event);
        snd_seq_ev_clear(&event);
    }
}

std::vector<uint8_t> EventCoder::decode(const snd_seq_event_t& event) {
    if (!decoder_ || isAnnouncement(event.type)) return {};
    size_t size = 16;
    if ((event.flags & SND_SEQ_EVENT_LENGTH_MASK) == SND_SEQ_EVENT_LENGTH_VARIABLE)
        size = std::max<size_t>(size, event.data.ext.len);
    std::vector<uint8_t> bytes(size);
    snd_midi_event_reset_decode(decoder_);
    const long n = snd_midi_event_decode(decoder_, bytes.data(), long(bytes.size()), &event);
    if (n <= 0) return {};
    bytes.resize(size_t(n));
    return bytes;
}

namespace {

class Backend final : public MIDIBackend {
public:
    Backend(snd_seq_t* seq, int ioPort) : seq_(seq), self_(snd_seq_client_id(seq)), ioPort_(ioPort) {}

    void start() {
        rescan();
        std::thread([this] { run(); }).detach();  // the service lives to the process's end
    }

    std::string name() const override { return "alsa"; }

    void published(MIDIEndpointRef endpoint, MIDIObjectType type, const std::string& name, bool isPrivate) override {
        std::lock_guard lock(mutex_);
        const int port = snd_seq_create_simple_port(seq_, name.c_str(), capabilities(type, isPrivate),
                                                    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) {
            logError("MIDI: the sequencer refused a port for \"" + name + "\": " + snd_strerror(port));
            return;
        }
        own_[endpoint] = {port, type};
        if (type == kMIDIObjectType_Destination) destinationAt_[port] = endpoint;
    }

    void changed(MIDIEndpointRef endpoint, const std::string& name, bool isPrivate) override {
        std::lock_guard lock(mutex_);
        const auto it = own_.find(endpoint);
        if (it == own_.end()) return;
        snd_seq_port_info_t* info;
        snd_seq_port_info_alloca(&info);
        if (snd_seq_get_port_info(seq_, it->second.port, info) < 0) return;
        snd_seq_port_info_set_name(info, name.c_str());
        snd_seq_port_info_set_capability(info, capabilities(it->second.type, isPrivate));
        snd_seq_set_port_info(seq_, it->second.port, info);
    }

    void withdrawn(MIDIEndpointRef endpoint) override {
        std::lock_guard lock(mutex_);
        const auto it = own_.find(endpoint);
        if (it == own_.end()) return;
        snd_seq_delete_simple_port(seq_, it->second.port);
        destinationAt_.erase(it->second.port);
        encoders_.erase(endpoint);
        own_.erase(it);
    }

    void emitted(MIDIEndpointRef source, const MIDIPackets& packets) override {
        std::lock_guard lock(mutex_);
        const auto it = own_.find(source);
        if (it == own_.end()) return;
        const int port = it->second.port;
        output(source, packets, [&](snd_seq_event_t& event) {
            snd_seq_ev_set_source(&event, port);
            snd_seq_ev_set_subs(&event);
        });
    }

    bool send(MIDIEndpointRef destination, const MIDIPackets& packets) override {
        std::lock_guard lock(mutex_);
        const auto it = externals_.find(destination);
        if (it == externals_.end()) return false;
        const auto& to = it->second;
        output(destination, packets, [&](snd_seq_event_t& event) {
            snd_seq_ev_set_source(&event, ioPort_);
            snd_seq_ev_set_dest(&event, to.client, to.port);
        });
        return true;
    }

    void connected(MIDIEndpointRef source) override {
        std::lock_guard lock(mutex_);
        const auto it = externals_.find(source);
        if (it == externals_.end() || subscriptions_[source]++ > 0) return;
        const int status = snd_seq_connect_from(seq_, ioPort_, it->second.client, it->second.port);
        if (status < 0) logError("MIDI: cannot subscribe to \"" + it->second.name + "\": " + snd_strerror(status));
    }

    void disconnected(MIDIEndpointRef source) override {
        std::lock_guard lock(mutex_);
        const auto count = subscriptions_.find(source);
        if (count == subscriptions_.end() || --count->second > 0) return;
        subscriptions_.erase(count);
        const auto it = externals_.find(source);
        if (it != externals_.end()) snd_seq_disconnect_from(seq_, ioPort_, it->second.client, it->second.port);
    }

private:
    struct OwnPort {
        int port = 0;
        MIDIObjectType type = kMIDIObjectType_Source;
    };

    static unsigned capabilities(MIDIObjectType type, bool isPrivate) {
        unsigned caps = type == kMIDIObjectType_Source ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                                       : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        if (isPrivate) caps |= SND_SEQ_PORT_CAP_NO_EXPORT;
        return caps;
    }

    // Encodes the packets with the endpoint's own coder (running status and SysEx carry over
    // between sends) and writes each event at once.
    void output(MIDIEndpointRef endpoint, const MIDIPackets& packets, const std::function<void(snd_seq_event_t&)>& address) {
        auto& coder = encoders_[endpoint];
        if (!coder) coder = std::make_unique<EventCoder>();
        for (const auto& packet : packets) {
            coder->encode(packet.bytes.data(), packet.bytes.size(), [&](snd_seq_event_t& event) {
                address(event);
                snd_seq_ev_set_direct(&event);
                int status;
                // The queue may be full for a moment: give the receiver a little time, then give up.
                for (int attempt = 0; (status = snd_seq_event_output_direct(seq_, &event)) == -EAGAIN && attempt < 50;
                     ++attempt)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (status < 0) logError(std::string("MIDI: an event could not be sent: ") + snd_strerror(status));
            });
        }
    }

    std::vector<PortDescription> ports() {
        std::vector<PortDescription> out;
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        std::lock_guard lock(mutex_);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(seq_, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(seq_, port) >= 0)
                out.push_back({id, snd_seq_port_info_get_port(port), snd_seq_client_info_get_name(client),
                               snd_seq_port_info_get_name(port), snd_seq_port_info_get_capability(port)});
        }
        return out;
    }

    // Brings the external endpoints in line with the sequencer's ports: gone ones removed, new
    // ones added (a renamed port is both).
    void rescan() {
        std::vector<ExternalEndpoint> wanted;
        for (const auto& port : ports())
            for (auto& endpoint : endpointsOf(port, self_)) wanted.push_back(std::move(endpoint));
        std::vector<MIDIEndpointRef> gone;
        std::vector<ExternalEndpoint> added;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [ref, endpoint] : externals_)
                if (std::find(wanted.begin(), wanted.end(), endpoint) == wanted.end()) gone.push_back(ref);
            for (const auto& endpoint : wanted) {
                const bool known = std::any_of(externals_.begin(), externals_.end(),
                                               [&](const auto& entry) { return entry.second == endpoint; });
                if (!known) added.push_back(endpoint);
            }
        }
        for (auto ref : gone) {
            {
                std::lock_guard lock(mutex_);
                const auto& endpoint = externals_.at(ref);
                if (endpoint.type == kMIDIObjectType_Source) sourceAt_.erase({endpoint.client, endpoint.port});
                externals_.erase(ref);
                subscriptions_.erase(ref);
                encoders_.erase(ref);
            }
            midiservice::removeExternal(ref);
        }
        for (const auto& endpoint : added) {
            const auto ref = midiservice::addExternal(endpoint.type, endpoint.name, endpoint.uniqueID);
            if (!ref) continue;
            std::lock_guard lock(mutex_);
            externals_[ref] = endpoint;
            if (endpoint.type == kMIDIObjectType_Source) sourceAt_[{endpoint.client, endpoint.port}] = ref;
        }
    }

    // The input thread: waits for events, decodes them under the lock, hands them to the service
    // without it; an announcement makes it look at the ports again.
    void run() {
        const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
        std::vector<pollfd> fds(size_t(std::max(count, 1)));
        {
            std::lock_guard lock(mutex_);
            snd_seq_poll_descriptors(seq_, fds.data(), unsigned(fds.size()), POLLIN);
        }
        struct Arrival {
            MIDIEndpointRef endpoint;
            bool fromSource;
            std::vector<uint8_t> bytes;
        };
        for (;;) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
                logError(std::string("MIDI: the sequencer's input failed: ") + std::strerror(errno));
                return;
            }
            std::vector<Arrival> arrivals;
            bool portsChanged = false;
            {
                std::lock_guard lock(mutex_);
                snd_seq_event_t* event = nullptr;
                int status;
                while ((status = snd_seq_event_input(seq_, &event)) >= 0 || status == -ENOSPC) {
                    if (status == -ENOSPC) {
                        logError("MIDI: the sequencer's input overran; events were lost");
                        continue;
                    }
                    if (!event) continue;
                    if (isAnnouncement(event->type)) {
                        portsChanged = true;
                        continue;
                    }
                    if (event->dest.port == ioPort_) {
                        const auto it = sourceAt_.find({event->source.client, event->source.port});
                        if (it == sourceAt_.end()) continue;
                        auto bytes = decoder_.decode(*event);
                        if (!bytes.empty()) arrivals.push_back({it->second, true, std::move(bytes)});
                    } else if (const auto it = destinationAt_.find(event->dest.port); it != destinationAt_.end()) {
                        auto bytes = decoder_.decode(*event);
                        if (!bytes.empty()) arrivals.push_back({it->second, false, std::move(bytes)});
                    }
                }
            }
            const auto now = mach_absolute_time();
            // Consecutive events from one endpoint travel as one list.
            for (size_t i = 0; i < arrivals.size();) {
                MIDIPackets packets;
                size_t j = i;
                for (; j < arrivals.size() && arrivals[j].endpoint == arrivals[i].endpoint &&
                       arrivals[j].fromSource == arrivals[i].fromSource;
                     ++j)
                    packets.push_back({now, std::move(arrivals[j].bytes)});
                if (arrivals[i].fromSource)
                    midiservice::receivedFromExternal(arrivals[i].endpoint, packets);
                else
                    midiservice::receivedAtDestination(arrivals[i].endpoint, packets);
                i = j;
            }
            if (portsChanged) rescan();
        }
    }

    snd_seq_t* seq_;
    const int self_;
    const int ioPort_;
    std::mutex mutex_;  // the sequencer handle and the maps
    std::map<MIDIEndpointRef, OwnPort> own_;
    std::map<int, MIDIEndpointRef> destinationAt_;  // own port → own destination
    std::map<MIDIEndpointRef, ExternalEndpoint> externals_;
    std::map<std::pair<int, int>, MIDIEndpointRef> sourceAt_;  // client:port → external source
    std::map<MIDIEndpointRef, int> subscriptions_;
    std::map<MIDIEndpointRef, std::unique_ptr<EventCoder>> encoders_;
    EventCoder decoder_;
};

}  // namespace

std::unique_ptr<MIDIBackend> open(std::string* error) {
    // Without the device the library would print its own complaint on stderr.
    if (::access("/dev/snd/seq", F_OK) != 0) {
        if (error) *error = "no /dev/snd/seq";
        return nullptr;
    }
    snd_seq_t* seq = nullptr;
    int status = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (status < 0) {
        if (error) *error = snd_strerror(status);
        return nullptr;
    }
    snd_seq_set_client_name(seq, program_invocation_short_name);
    // One port of our own, hidden from others, takes our subscriptions and sends to destinations.
    const int io = snd_seq_create_simple_port(
        seq, "io", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (io < 0 || (status = snd_seq_connect_from(seq, io, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE)) < 0) {
        if (error) *error = snd_strerror(io < 0 ? io : status);
        snd_seq_close(seq);
        return nullptr;
    }
    auto backend = std::make_unique<Backend>(seq, io);
    backend->start();
    return backend;
}

}  // namespace platform::alsa
