// MIDI in and out through the loopback backend, against bare thread hand-offs measured in step
// with it: delivery latency send → listener, listener-path throughput, and a large SysEx message; and
// the ALSA backend's send road (its writer thread) over a stand-in sequencer, send → write.
//
//   midi_io_bench [MESSAGES]      (10,000 latency messages 1 ms apart by default)

#include "Sonora/MIDI/MIDI.h"
#include "platform/coremidi/MIDIAlsa.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/foundation/HostTime.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace sonora;
namespace pm = platform;

namespace {

uint64_t now() { return pm::mach_absolute_time(); }

struct Percentiles {
    double p50, p99, max;
};

Percentiles percentiles(std::vector<uint64_t> v) {
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return double(v[std::min(v.size() - 1, size_t(q * double(v.size())))]) / 1000; };
    return {at(0.5), at(0.99), double(v.back()) / 1000};
}

// Arrival times by message number (events from packet lists carry no stamp of their own).
struct LatencyListener : MIDIListener {
    std::vector<uint64_t> latencies;
    std::vector<uint64_t> arrivals;
    std::atomic<size_t> count{0};
    std::atomic<size_t> sysExBytes{0};
    void receivedMIDINoteOn(MIDIByte, MIDIByte, MIDIByte, PortID, Stamp) override {
        if (count < arrivals.size()) arrivals[count] = now();
        ++count;
    }
    void receivedMIDISystemCommand(const std::vector<MIDIByte>& d, PortID, Stamp) override { sysExBytes = d.size(); }
};

std::vector<uint8_t> listOf(const std::vector<uint8_t>& bytes, pm::MIDITimeStamp time) {
    std::vector<uint8_t> buffer(pm::kMIDIPacketListHeaderSize + pm::kMIDIPacketHeaderSize + bytes.size());
    auto* list = reinterpret_cast<pm::MIDIPacketList*>(buffer.data());
    pm::MIDIPacketListAdd(list, buffer.size(), pm::MIDIPacketListInit(list), time, bytes.size(), bytes.data());
    return buffer;
}

// A packet list of `count` three-byte messages, as many packets as fit 65536 bytes.
std::vector<uint8_t> fullList(size_t messages) {
    std::vector<uint8_t> buffer(65536);
    auto* list = reinterpret_cast<pm::MIDIPacketList*>(buffer.data());
    auto* packet = pm::MIDIPacketListInit(list);
    for (size_t i = 0; i < messages; ++i) {
        const uint8_t m[3] = {0x90, uint8_t(i & 0x7F), 1};
        packet = pm::MIDIPacketListAdd(list, buffer.size(), packet, 1 + i / 80, 3, m);
    }
    size_t used = pm::kMIDIPacketListHeaderSize;
    const auto* p = &list->packet[0];
    for (uint32_t i = 0; i < list->numPackets; ++i, p = pm::MIDIPacketNext(p))
        used += pm::kMIDIPacketHeaderSize + pm::MIDIPacketLength(p);
    buffer.resize(used);
    return buffer;
}

// The peer: a condition-variable hand-off between two threads. It is fed in step with the MIDI
// sends (half a period after each), so both meet the same load on a shared machine.
class BareHandOff {
public:
    BareHandOff() : consumer_([this] { run(); }) {}
    ~BareHandOff() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_one();
        consumer_.join();
    }
    void send() {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(now());
        }
        cv_.notify_one();
    }
    // The latencies of every hand-off sent so far.
    std::vector<uint64_t> take(size_t sent) {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (latencies_.size() >= sent) return std::exchange(latencies_, {});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) return;
            latencies_.push_back(now() - queue_.front());
            queue_.pop_front();
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<uint64_t> queue_;
    std::vector<uint64_t> latencies_;
    bool stop_ = false;
    std::thread consumer_;
};

// Half of the 1 ms period between two MIDI sends; the peer's hand-off falls in between.
void halfPeriod(BareHandOff& peer) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    peer.send();
    std::this_thread::sleep_for(std::chrono::microseconds(500));
}

// The peer of throughput: a single-producer ring of three-byte messages.
double bareRing(size_t messages) {
    constexpr size_t size = 4096;
    std::vector<uint32_t> ring(size);
    std::atomic<size_t> head{0}, tail{0};
    const auto start = std::chrono::steady_clock::now();
    std::thread consumer([&] {
        uint64_t sum = 0;
        for (size_t got = 0; got < messages;) {
            const size_t t = tail.load(std::memory_order_relaxed);
            if (t == head.load(std::memory_order_acquire)) continue;
            sum += ring[t % size];
            tail.store(t + 1, std::memory_order_release);
            ++got;
        }
        if (sum == 42) std::printf(" ");
    });
    for (size_t i = 0; i < messages; ++i) {
        while (head.load(std::memory_order_relaxed) - tail.load(std::memory_order_acquire) >= size) {}
        ring[head.load() % size] = uint32_t(0x900001 | (i & 0x7F) << 8);
        head.store(head.load() + 1, std::memory_order_release);
    }
    consumer.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A sequencer with one destination port that takes every event at once, noting when.
struct TimingSequencer final : pm::alsa::Sequencer {
    std::vector<uint64_t>* writes = nullptr;
    std::atomic<size_t>* count = nullptr;
    int clientID() override { return 128; }
    int createPort(const std::string&, unsigned, unsigned) override { return port++; }
    int deletePort(int) override { return 0; }
    int changePort(int, const std::string&, unsigned) override { return 0; }
    int connectFrom(int, int, int) override { return 0; }
    int disconnectFrom(int, int, int) override { return 0; }
    std::vector<pm::alsa::PortDescription> ports() override {
        return {{20, 0, "Synth", "Synth In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE}};
    }
    int output(snd_seq_event_t*) override {
        const size_t i = count->load();
        if (i < writes->size()) (*writes)[i] = now();
        count->store(i + 1);
        return 0;
    }
    int input(snd_seq_event_t**) override { return -EAGAIN; }
    std::vector<pollfd> pollDescriptors() override { return {}; }
    int port = 0;
};

// The ALSA send road: MIDISend to an external destination until the backend's writer writes it.
void alsaSendRoad(size_t messages) {
    std::vector<uint64_t> writes(messages, 0);
    std::atomic<size_t> count{0};
    auto sequencer = std::make_unique<TimingSequencer>();
    sequencer->writes = &writes;
    sequencer->count = &count;
    std::string error;
    auto backend = pm::alsa::openOn(std::move(sequencer), &error);
    if (!backend) {
        std::printf("alsa send road: no backend (%s)\n", error.c_str());
        return;
    }
    pm::midiservice::useBackendForTesting(std::move(backend));
    pm::MIDIEndpointRef synth = 0;
    for (pm::ItemCount i = 0; i < pm::MIDIGetNumberOfDestinations(); ++i) {
        std::string name;
        pm::MIDIObjectGetStringProperty(pm::MIDIGetDestination(i), pm::kMIDIPropertyName, &name);
        if (name == "Synth In") synth = pm::MIDIGetDestination(i);
    }
    pm::MIDIClientRef client = 0;
    pm::MIDIPortRef out = 0;
    pm::MIDIClientCreateWithBlock("bench", &client, nullptr);
    pm::MIDIOutputPortCreate(client, "out", &out);
    std::vector<uint64_t> sent(messages);
    BareHandOff bare;
    for (size_t i = 0; i < messages; ++i) {
        const auto list = listOf({0x90, 60, 1}, 0);
        sent[i] = now();
        pm::MIDISend(out, synth, reinterpret_cast<const pm::MIDIPacketList*>(list.data()), list.size());
        halfPeriod(bare);
    }
    while (count.load() < messages) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pm::MIDIClientDispose(client);
    pm::midiservice::useBackendForTesting(nullptr);
    std::vector<uint64_t> latencies(messages);
    for (size_t i = 0; i < messages; ++i) latencies[i] = writes[i] - sent[i];
    const auto ours = percentiles(latencies);
    const auto peer = percentiles(bare.take(messages));
    std::printf("alsa send road latency µs over %zu: p50 %.1f p99 %.1f max %.1f | bare hand-off p50 %.1f p99 %.1f max "
                "%.1f | p99 ratio %.2f\n",
                messages, ours.p50, ours.p99, ours.max, peer.p50, peer.p99, peer.max, ours.p99 / peer.p99);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t messages = argc > 1 ? size_t(std::atoll(argv[1])) : 10000;
    MIDI midi;
    auto listener = std::make_shared<LatencyListener>();
    listener->latencies.reserve(1100000);
    midi.addListener(listener);
    pm::MIDIEndpointRef source = 0;
    pm::loopback::createExternalSource("bench", &source);
    int32_t uid = 0;
    pm::MIDIObjectGetIntegerProperty(source, pm::kMIDIPropertyUniqueID, &uid);

    for (const bool events : {false, true}) {
        pm::MIDISetEventListsAvailable(events);
        midi.closeAllInputs();
        midi.openInput(uid);
        listener->latencies.clear();
        listener->count = 0;

        // Latency: host time of the send to host time in the listener.
        std::vector<uint64_t> sent(messages);
        listener->arrivals.assign(messages, 0);
        BareHandOff bare;
        for (size_t i = 0; i < messages; ++i) {
            const auto list = listOf({0x90, 60, 1}, 0);
            sent[i] = now();
            pm::loopback::inject(source, reinterpret_cast<const pm::MIDIPacketList*>(list.data()), list.size());
            halfPeriod(bare);
        }
        pm::MIDIDrain();
        if (listener->count == 0) {
            std::printf("nothing arrived (%zu input ports)\n", midi.inputPorts().size());
            return 1;
        }
        for (size_t i = 0; i < std::min<size_t>(messages, listener->count); ++i)
            listener->latencies.push_back(listener->arrivals[i] - sent[i]);
        listener->arrivals.clear();
        const auto ours = percentiles(listener->latencies);
        const auto peer = percentiles(bare.take(messages));
        std::printf("%s latency µs over %zu (%zu received): p50 %.1f p99 %.1f max %.1f | bare hand-off p50 %.1f p99 "
                    "%.1f max %.1f | p99 ratio %.2f\n",
                    events ? "events " : "packets", messages, listener->count.load(), ours.p50, ours.p99, ours.max,
                    peer.p50, peer.p99, peer.max, ours.p99 / peer.p99);

        // Throughput: 1,000,000 three-byte messages in full packet lists.
        const size_t total = 1000000, perList = 20000;
        listener->latencies.clear();
        listener->count = 0;
        const auto start = std::chrono::steady_clock::now();
        for (size_t sent = 0; sent < total; sent += perList) {
            const auto list = fullList(std::min(perList, total - sent));
            pm::loopback::inject(source, reinterpret_cast<const pm::MIDIPacketList*>(list.data()), list.size());
            while (sent > listener->count + 4 * perList) std::this_thread::yield();
        }
        pm::MIDIDrain();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double ring = bareRing(total);
        std::printf("%s throughput: %zu messages in %.3f s (%.2f M/s) | bare ring %.3f s | ratio %.3f\n",
                    events ? "events " : "packets", listener->count.load(), seconds, double(total) / seconds / 1e6,
                    ring, ring / seconds);

        // One 1,000,000-byte SysEx message.
        std::vector<uint8_t> sysEx(1000000, 0x11);
        sysEx.front() = 0xF0;
        sysEx.back() = 0xF7;
        std::vector<uint8_t> buffer(sysEx.size() + 4096);
        auto* list = reinterpret_cast<pm::MIDIPacketList*>(buffer.data());
        auto* packet = pm::MIDIPacketListInit(list);
        for (size_t at = 0; at < sysEx.size(); at += 60000)
            // A stamp of its own per piece, so that pieces are not joined past a packet's 65535 bytes.
            packet = pm::MIDIPacketListAdd(list, buffer.size(), packet, 1 + at, std::min<size_t>(60000, sysEx.size() - at),
                                           sysEx.data() + at);
        listener->sysExBytes = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const auto status = pm::loopback::inject(source, list, buffer.size());
        pm::MIDIDrain();
        if (status != pm::noErr) std::printf("SysEx refused: %d\n", int(status));
        std::printf("%s SysEx of %zu bytes assembled (%zu arrived) in %.1f ms\n", events ? "events " : "packets",
                    sysEx.size(), listener->sysExBytes.load(),
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    pm::MIDIEndpointDispose(source);
    alsaSendRoad(messages);
    return 0;
}
