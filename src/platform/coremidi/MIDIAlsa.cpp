#include "platform/coremidi/MIDIAlsa.h"

#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform::alsa {

namespace {

void logError(const std::string& message) {
    os_log(OSLog{"com.tamberlo.coremidi", "midi"}, OSLogType::error, message);
}

constexpr size_t kSysExChunk = 256;

// MIDI bytes that may wait for the writer: as many as the largest SysEx message the program takes
// in. A receiver that leaves that much unread has stalled; later sends are refused, not held.
constexpr size_t kSendQueueBytes = size_t(1) << 20;
// Pauses of 1 ms an event gets while its receiver's queue stays full, before it is dropped.
constexpr int kFullQueuePauses = 50;
// After an error on the input descriptors the reader pauses, from 10 ms doubling up to 1 s.
constexpr int kFirstPauseMs = 10, kLongestPauseMs = 1000;

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

EventCoder::EventCoder(Allocate allocate) {
    const int encoder = allocate(kSysExChunk, &encoder_);
    const int decoder = allocate(kSysExChunk, &decoder_);
    if (encoder < 0 || decoder < 0 || !encoder_ || !decoder_) {
        logError(std::string("MIDI: no MIDI event coder: ") + snd_strerror(encoder < 0 ? encoder : decoder < 0 ? decoder : -ENOMEM));
        if (encoder >= 0 && encoder_) snd_midi_event_free(encoder_);
        if (decoder >= 0 && decoder_) snd_midi_event_free(decoder_);
        encoder_ = decoder_ = nullptr;
        return;
    }
    snd_midi_event_no_status(decoder_, 1);
}

EventCoder::~EventCoder() {
    if (encoder_) snd_midi_event_free(encoder_);
    if (decoder_) snd_midi_event_free(decoder_);
}

void EventCoder::encode(const uint8_t* bytes, size_t n, const std::function<void(snd_seq_event_t&)>& emit) {
    if (!ok()) return;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    for (size_t i = 0; i < n; ++i) {
        if (snd_midi_event_encode_byte(encoder_, bytes[i], &event) != 1) continue;
        if (event.type != SND_SEQ_EVENT_NONE) emit(event);
        snd_seq_ev_clear(&event);
    }
}

std::vector<uint8_t> EventCoder::decode(const snd_seq_event_t& event) {
    if (!ok() || isAnnouncement(event.type)) return {};
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

bool isVariable(const snd_seq_event_t& event) {
    return (event.flags & SND_SEQ_EVENT_LENGTH_MASK) == SND_SEQ_EVENT_LENGTH_VARIABLE;
}

// The library's sequencer handle.
class LibrarySequencer final : public Sequencer {
public:
    explicit LibrarySequencer(snd_seq_t* seq) : seq_(seq) {}
    ~LibrarySequencer() override { snd_seq_close(seq_); }
    LibrarySequencer(const LibrarySequencer&) = delete;
    LibrarySequencer& operator=(const LibrarySequencer&) = delete;

    int clientID() override { return snd_seq_client_id(seq_); }
    int createPort(const std::string& name, unsigned capability, unsigned type) override {
        return snd_seq_create_simple_port(seq_, name.c_str(), capability, type);
    }
    int deletePort(int port) override { return snd_seq_delete_simple_port(seq_, port); }
    int changePort(int port, const std::string& name, unsigned capability) override {
        snd_seq_port_info_t* info;
        snd_seq_port_info_alloca(&info);
        if (const int status = snd_seq_get_port_info(seq_, port, info); status < 0) return status;
        snd_seq_port_info_set_name(info, name.c_str());
        snd_seq_port_info_set_capability(info, capability);
        return snd_seq_set_port_info(seq_, port, info);
    }
    int connectFrom(int port, int client, int clientPort) override {
        return snd_seq_connect_from(seq_, port, client, clientPort);
    }
    int disconnectFrom(int port, int client, int clientPort) override {
        return snd_seq_disconnect_from(seq_, port, client, clientPort);
    }
    std::vector<PortDescription> ports() override {
        std::vector<PortDescription> out;
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
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
    int output(snd_seq_event_t* event) override { return snd_seq_event_output_direct(seq_, event); }
    int input(snd_seq_event_t** event) override { return snd_seq_event_input(seq_, event); }
    std::vector<pollfd> pollDescriptors() override {
        std::vector<pollfd> fds(size_t(std::max(snd_seq_poll_descriptors_count(seq_, POLLIN), 0)));
        if (!fds.empty())
            fds.resize(size_t(std::max(snd_seq_poll_descriptors(seq_, fds.data(), unsigned(fds.size()), POLLIN), 0)));
        return fds;
    }

private:
    snd_seq_t* seq_;
};

class Backend final : public MIDIBackend {
public:
    Backend(std::unique_ptr<Sequencer> seq, int ioPort, const int wake[2])
        : seq_(std::move(seq)), self_(seq_->clientID()), ioPort_(ioPort), wakeRead_(wake[0]), wakeWrite_(wake[1]) {}

    ~Backend() override {
        {
            std::lock_guard lock(queueMutex_);
            stopping_ = true;
        }
        queueChanged_.notify_all();
        stopped_.notify_all();
        const char byte = 0;
        while (::write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {}
        if (reader_.joinable()) reader_.join();
        if (writer_.joinable()) writer_.join();
        ::close(wakeRead_);
        ::close(wakeWrite_);
        // The handle closes as seq_ goes, after both threads.
    }

    void start() {
        rescan();
        reader_ = std::thread([this] { read(); });
        writer_ = std::thread([this] { write(); });
    }

    std::string name() const override { return "alsa"; }

    void published(MIDIEndpointRef endpoint, MIDIObjectType type, const std::string& name, bool isPrivate) override {
        std::lock_guard lock(mutex_);
        const int port = seq_->createPort(name, capabilities(type, isPrivate),
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
        const int status = seq_->changePort(it->second.port, name, capabilities(it->second.type, isPrivate));
        if (status < 0) logError("MIDI: the sequencer refused to change \"" + name + "\": " + snd_strerror(status));
    }

    void withdrawn(MIDIEndpointRef endpoint) override {
        std::lock_guard lock(mutex_);
        const auto it = own_.find(endpoint);
        if (it == own_.end()) return;
        dropQueued(endpoint);
        seq_->deletePort(it->second.port);
        destinationAt_.erase(it->second.port);
        encoders_.erase(endpoint);
        own_.erase(it);
    }

    OSStatus emitted(MIDIEndpointRef source, const MIDIPackets& packets) override {
        std::lock_guard lock(mutex_);
        const auto it = own_.find(source);
        if (it == own_.end()) return noErr;
        const int port = it->second.port;
        return enqueue(source, packets, [&](snd_seq_event_t& event) {
            snd_seq_ev_set_source(&event, port);
            snd_seq_ev_set_subs(&event);
        });
    }

    OSStatus send(MIDIEndpointRef destination, const MIDIPackets& packets) override {
        std::lock_guard lock(mutex_);
        const auto it = externals_.find(destination);
        if (it == externals_.end()) return kMIDIUnknownEndpoint;
        const auto& to = it->second;
        return enqueue(destination, packets, [&](snd_seq_event_t& event) {
            snd_seq_ev_set_source(&event, ioPort_);
            snd_seq_ev_set_dest(&event, to.client, to.port);
        });
    }

    void connected(MIDIEndpointRef source) override {
        std::lock_guard lock(mutex_);
        const auto it = externals_.find(source);
        if (it == externals_.end() || subscriptions_[source]++ > 0) return;
        const int status = seq_->connectFrom(ioPort_, it->second.client, it->second.port);
        if (status < 0) logError("MIDI: cannot subscribe to \"" + it->second.name + "\": " + snd_strerror(status));
    }

    void disconnected(MIDIEndpointRef source) override {
        std::lock_guard lock(mutex_);
        const auto count = subscriptions_.find(source);
        if (count == subscriptions_.end() || --count->second > 0) return;
        subscriptions_.erase(count);
        const auto it = externals_.find(source);
        if (it != externals_.end()) seq_->disconnectFrom(ioPort_, it->second.client, it->second.port);
    }

private:
    struct OwnPort {
        int port = 0;
        MIDIObjectType type = kMIDIObjectType_Source;
    };

    // An event waiting for the writer, with a copy of its variable data.
    struct Outgoing {
        MIDIEndpointRef endpoint = 0;
        snd_seq_event_t event{};
        std::vector<uint8_t> data;
        size_t bytes = 0;  // the MIDI bytes it carries
    };

    static unsigned capabilities(MIDIObjectType type, bool isPrivate) {
        unsigned caps = type == kMIDIObjectType_Source ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                                       : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        if (isPrivate) caps |= SND_SEQ_PORT_CAP_NO_EXPORT;
        return caps;
    }

    // Encodes the packets with the endpoint's own coder (running status and SysEx carry over
    // between sends) and hands the events to the writer, all of them or, when the queue is
    // full, none. Called with mutex_ held; never waits.
    OSStatus enqueue(MIDIEndpointRef endpoint, const MIDIPackets& packets,
                     const std::function<void(snd_seq_event_t&)>& address) {
        auto& coder = encoders_[endpoint];
        if (!coder) coder = std::make_unique<EventCoder>();
        if (!coder->ok()) return kMIDIMessageSendErr;
        std::vector<Outgoing> events;
        size_t bytes = 0;
        for (const auto& packet : packets) {
            coder->encode(packet.bytes.data(), packet.bytes.size(), [&](snd_seq_event_t& event) {
                address(event);
                snd_seq_ev_set_direct(&event);
                Outgoing out{endpoint, event, {}, 3};
                if (isVariable(event)) {
                    const auto* data = static_cast<const uint8_t*>(event.data.ext.ptr);
                    out.data.assign(data, data + event.data.ext.len);
                    out.bytes = out.data.size();
                }
                bytes += out.bytes;
                events.push_back(std::move(out));
            });
        }
        if (events.empty()) return noErr;
        {
            std::lock_guard lock(queueMutex_);
            if (queuedBytes_ + bytes > kSendQueueBytes) {
                logError("MIDI: a send of " + std::to_string(bytes) + " bytes refused: " + std::to_string(queuedBytes_) +
                         " bytes already wait for receivers that do not read (at most " +
                         std::to_string(kSendQueueBytes) + ")");
                return kMIDIMessageSendErr;
            }
            queuedBytes_ += bytes;
            for (auto& event : events) queue_.push_back(std::move(event));
        }
        queueChanged_.notify_one();
        return noErr;
    }

    // Forgets the events of an endpoint that goes away. Called with mutex_ held.
    void dropQueued(MIDIEndpointRef endpoint) {
        std::lock_guard lock(queueMutex_);
        std::erase_if(queue_, [&](const Outgoing& out) {
            if (out.endpoint != endpoint) return false;
            queuedBytes_ -= out.bytes;
            return true;
        });
    }

    // The writer thread: writes the queued events in order. A receiver whose queue is full gets
    // a few pauses per event, taken with no lock held, so every other call goes on meanwhile.
    void write() {
        std::unique_lock lock(queueMutex_);
        for (;;) {
            queueChanged_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            Outgoing out = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= out.bytes;
            lock.unlock();
            if (!out.data.empty()) out.event.data.ext.ptr = out.data.data();
            int status;
            for (int pause = 0;; ++pause) {
                {
                    std::lock_guard handle(mutex_);
                    status = seq_->output(&out.event);
                }
                if (status != -EAGAIN || pause == kFullQueuePauses) break;
                std::unique_lock wait(queueMutex_);
                if (stopped_.wait_for(wait, std::chrono::milliseconds(1), [&] { return stopping_; })) return;
            }
            if (status < 0) logError(std::string("MIDI: an event could not be sent: ") + snd_strerror(status));
            lock.lock();
        }
    }

    // Brings the external endpoints in line with the sequencer's ports: gone ones removed, new
    // ones added (a renamed port is both).
    void rescan() {
        std::vector<PortDescription> ports;
        {
            std::lock_guard lock(mutex_);
            ports = seq_->ports();
        }
        std::vector<ExternalEndpoint> wanted;
        for (const auto& port : ports)
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
                dropQueued(ref);
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

    // The reader thread: waits for input with no lock held, reads what came, and hands it to the
    // service. An error on the descriptors makes it pause (longer each time it persists); a
    // descriptor that is not open any more ends it, as does the wake-up of the destructor.
    void read() {
        std::vector<pollfd> fds;
        {
            std::lock_guard lock(mutex_);
            fds = seq_->pollDescriptors();
        }
        const size_t sequencer = fds.size();
        fds.push_back({wakeRead_, POLLIN, 0});
        int pauseMs = 0;
        for (;;) {
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                logError(std::string("MIDI: the sequencer's input failed: ") + std::strerror(errno));
                return;
            }
            if (fds.back().revents) return;
            short seen = 0;
            for (size_t i = 0; i < sequencer; ++i) seen |= fds[i].revents;
            if (seen & POLLNVAL) {
                logError("MIDI: the sequencer's input descriptor is not open any more; MIDI input stops");
                return;
            }
            if (seen & (POLLERR | POLLHUP)) {
                if (pauseMs == 0) logError("MIDI: the sequencer's input reports an error; reading again after a pause");
                pauseMs = pauseMs == 0 ? kFirstPauseMs : std::min(2 * pauseMs, kLongestPauseMs);
                pollfd wake{wakeRead_, POLLIN, 0};
                if (::poll(&wake, 1, pauseMs) > 0) return;
            } else {
                pauseMs = 0;
            }
            receive();
        }
    }

    // Reads every event waiting, each stamped with the host time it was read (no sequencer queue
    // stamps the input), and hands them to the service without the lock; an announcement makes
    // it look at the ports again.
    void receive() {
        struct Arrival {
            MIDIEndpointRef endpoint;
            bool fromSource;
            MIDITimeStamp time;
            std::vector<uint8_t> bytes;
        };
        std::vector<Arrival> arrivals;
        bool portsChanged = false;
        for (;;) {
            std::lock_guard lock(mutex_);
            snd_seq_event_t* event = nullptr;
            const int status = seq_->input(&event);
            if (status == -ENOSPC) {
                logError("MIDI: the sequencer's input overran; events were lost");
                continue;
            }
            if (status < 0) break;
            const MIDITimeStamp now = mach_absolute_time();
            if (!event) continue;
            if (isAnnouncement(event->type)) {
                portsChanged = true;
                continue;
            }
            if (event->dest.port == ioPort_) {
                const auto it = sourceAt_.find({event->source.client, event->source.port});
                if (it == sourceAt_.end()) continue;
                auto bytes = decoder_.decode(*event);
                if (!bytes.empty()) arrivals.push_back({it->second, true, now, std::move(bytes)});
            } else if (const auto it = destinationAt_.find(event->dest.port); it != destinationAt_.end()) {
                auto bytes = decoder_.decode(*event);
                if (!bytes.empty()) arrivals.push_back({it->second, false, now, std::move(bytes)});
            }
        }
        // Consecutive events from one endpoint travel as one list.
        for (size_t i = 0; i < arrivals.size();) {
            MIDIPackets packets;
            size_t j = i;
            for (; j < arrivals.size() && arrivals[j].endpoint == arrivals[i].endpoint &&
                   arrivals[j].fromSource == arrivals[i].fromSource;
                 ++j)
                packets.push_back({arrivals[j].time, std::move(arrivals[j].bytes)});
            if (arrivals[i].fromSource)
                midiservice::receivedFromExternal(arrivals[i].endpoint, packets);
            else
                midiservice::receivedAtDestination(arrivals[i].endpoint, packets);
            i = j;
        }
        if (portsChanged) rescan();
    }

    const std::unique_ptr<Sequencer> seq_;  // first in, last out: closed after everything else
    const int self_;
    const int ioPort_;
    const int wakeRead_, wakeWrite_;  // a byte here ends the reader
    std::mutex mutex_;  // the handle (one call at a time, never held while waiting) and the maps
    std::map<MIDIEndpointRef, OwnPort> own_;
    std::map<int, MIDIEndpointRef> destinationAt_;  // own port → own destination
    std::map<MIDIEndpointRef, ExternalEndpoint> externals_;
    std::map<std::pair<int, int>, MIDIEndpointRef> sourceAt_;  // client:port → external source
    std::map<MIDIEndpointRef, int> subscriptions_;
    std::map<MIDIEndpointRef, std::unique_ptr<EventCoder>> encoders_;
    EventCoder decoder_;
    std::mutex queueMutex_;  // taken after mutex_ when both are held
    std::condition_variable queueChanged_, stopped_;
    std::deque<Outgoing> queue_;
    size_t queuedBytes_ = 0;
    bool stopping_ = false;
    std::thread reader_, writer_;
};

}  // namespace

std::unique_ptr<MIDIBackend> openOn(std::unique_ptr<Sequencer> sequencer, std::string* error) {
    // One port of our own, hidden from others, takes our subscriptions and sends to destinations.
    const int io = sequencer->createPort("io", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                         SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    int status = io < 0 ? io : sequencer->connectFrom(io, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    int wake[2] = {-1, -1};
    if (status >= 0 && ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) status = -errno;
    if (status < 0) {
        if (error) *error = snd_strerror(status);
        return nullptr;
    }
    auto backend = std::make_unique<Backend>(std::move(sequencer), io, wake);
    backend->start();
    return backend;
}

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
    return openOn(std::make_unique<LibrarySequencer>(seq), error);
}

}  // namespace platform::alsa
