#include "platform/coremidi/MIDIAlsa.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

using namespace platform;
using Bytes = std::vector<uint8_t>;

namespace {

// The events a coder makes of `chunks` (one encode call each), and the bytes it reads back from them.
struct Coded {
    std::vector<int> types;
    Bytes bytes;
};
Coded roundTrip(const std::vector<Bytes>& chunks) {
    alsa::EventCoder coder;
    Coded out;
    for (const auto& chunk : chunks)
        coder.encode(chunk.data(), chunk.size(), [&](snd_seq_event_t& event) {
            out.types.push_back(event.type);
            const auto bytes = coder.decode(event);
            out.bytes.insert(out.bytes.end(), bytes.begin(), bytes.end());
        });
    return out;
}

Bytes sysEx(size_t payload) {
    Bytes b{0xF0};
    for (size_t i = 0; i < payload; ++i) b.push_back(uint8_t(i & 0x7F));
    b.push_back(0xF7);
    return b;
}

// A stand-in for the sequencer and the device behind it, shared by the test and its sequencer (it
// outlives the backend, which closes the sequencer).
struct Device {
    std::mutex mutex;
    std::vector<alsa::PortDescription> ports;
    std::deque<snd_seq_event_t> inbox;  // what the reader will read
    snd_seq_event_t current{};
    std::vector<size_t> written;  // the MIDI bytes of each event written (a SysEx chunk's length, else 3)
    pollfd descriptor{-1, POLLIN, 0};
    std::atomic<bool> full{false};  // the receiver's queue stays full: every write gives -EAGAIN
    std::atomic<int> attempts{0}, reads{0};
    std::atomic<bool> closed{false};

    size_t writtenCount() {
        std::lock_guard lock(mutex);
        return written.size();
    }
};

class FakeSequencer final : public alsa::Sequencer {
public:
    explicit FakeSequencer(std::shared_ptr<Device> device) : d_(std::move(device)) {}
    ~FakeSequencer() override { d_->closed = true; }
    int clientID() override { return 128; }
    int createPort(const std::string&, unsigned, unsigned) override { return nextPort_++; }
    int deletePort(int) override { return 0; }
    int changePort(int, const std::string&, unsigned) override { return 0; }
    int connectFrom(int, int, int) override { return 0; }
    int disconnectFrom(int, int, int) override { return 0; }
    std::vector<alsa::PortDescription> ports() override {
        std::lock_guard lock(d_->mutex);
        return d_->ports;
    }
    int output(snd_seq_event_t* event) override {
        ++d_->attempts;
        if (d_->full) return -EAGAIN;
        std::lock_guard lock(d_->mutex);
        d_->written.push_back(event->type == SND_SEQ_EVENT_SYSEX ? event->data.ext.len : 3);
        return 0;
    }
    int input(snd_seq_event_t** event) override {
        ++d_->reads;
        std::lock_guard lock(d_->mutex);
        if (d_->inbox.empty()) {
            char drain[64];
            while (::read(d_->descriptor.fd, drain, sizeof drain) > 0) {}
            return -EAGAIN;
        }
        d_->current = d_->inbox.front();
        d_->inbox.pop_front();
        *event = &d_->current;
        return int(d_->inbox.size());
    }
    std::vector<pollfd> pollDescriptors() override { return {d_->descriptor}; }

private:
    std::shared_ptr<Device> d_;
    int nextPort_ = 0;  // the backend's own "io" port is 0
};

MIDIEndpointRef endpointNamed(ItemCount count, MIDIEndpointRef (*nth)(ItemCount), const std::string& name) {
    for (ItemCount i = 0; i < count; ++i) {
        std::string n;
        MIDIObjectGetStringProperty(nth(i), kMIDIPropertyName, &n);
        if (n == name) return nth(i);
    }
    return 0;
}

// Polls `done` until it holds or 10 s have passed (a loaded machine takes its time).
template <class F>
bool within10s(F done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace

TEST(MIDIAlsa, BytesBecomeSequencerEventsAndBack) {
    struct Case {
        std::vector<Bytes> in;
        std::vector<int> types;
        Bytes out;
    };
    const Bytes long300 = sysEx(298);
    const std::vector<Case> cases = {
        {{{0x93, 0x3C, 0x00}}, {SND_SEQ_EVENT_NOTEON}, {0x93, 0x3C, 0x00}},
        {{{0x85, 0x3C, 0x40}}, {SND_SEQ_EVENT_NOTEOFF}, {0x85, 0x3C, 0x40}},
        {{{0xE0, 0x00, 0x40}}, {SND_SEQ_EVENT_PITCHBEND}, {0xE0, 0x00, 0x40}},
        {{{0xB1, 0x07, 0x64}}, {SND_SEQ_EVENT_CONTROLLER}, {0xB1, 0x07, 0x64}},
        {{{0xC5, 0x07, 0xD2, 0x11}}, {SND_SEQ_EVENT_PGMCHANGE, SND_SEQ_EVENT_CHANPRESS}, {0xC5, 0x07, 0xD2, 0x11}},
        {{{0xA0, 0x3C, 0x22}}, {SND_SEQ_EVENT_KEYPRESS}, {0xA0, 0x3C, 0x22}},
        // Running status comes back spelled out.
        {{{0x90, 60, 100, 61, 100}}, {SND_SEQ_EVENT_NOTEON, SND_SEQ_EVENT_NOTEON}, {0x90, 60, 100, 0x90, 61, 100}},
        {{{0xF8, 0xFA, 0xFB, 0xFC, 0xFE}},
         {SND_SEQ_EVENT_CLOCK, SND_SEQ_EVENT_START, SND_SEQ_EVENT_CONTINUE, SND_SEQ_EVENT_STOP, SND_SEQ_EVENT_SENSING},
         {0xF8, 0xFA, 0xFB, 0xFC, 0xFE}},
        {{{0xF2, 0x10, 0x20, 0xF1, 0x12, 0xF3, 0x05, 0xF6}},
         {SND_SEQ_EVENT_SONGPOS, SND_SEQ_EVENT_QFRAME, SND_SEQ_EVENT_SONGSEL, SND_SEQ_EVENT_TUNE_REQUEST},
         {0xF2, 0x10, 0x20, 0xF1, 0x12, 0xF3, 0x05, 0xF6}},
        // A long SysEx message in chunks of at most 256 bytes; one split across calls is one message.
        {{long300}, {SND_SEQ_EVENT_SYSEX, SND_SEQ_EVENT_SYSEX}, long300},
        {{{0xF0, 0x01, 0x02}, {0x03, 0xF7}}, {SND_SEQ_EVENT_SYSEX}, {0xF0, 0x01, 0x02, 0x03, 0xF7}},
        // A clock inside a SysEx message leaves at once.
        {{{0xF0, 0x01, 0xF8, 0x02, 0xF7}}, {SND_SEQ_EVENT_CLOCK, SND_SEQ_EVENT_SYSEX}, {0xF8, 0xF0, 0x01, 0x02, 0xF7}},
        // Data without a status makes nothing.
        {{{0x01, 0x02}}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        const auto coded = roundTrip(c.in);
        EXPECT_EQ(coded.types, c.types);
        EXPECT_EQ(coded.bytes, c.out);
    }

    // An announcement is no MIDI.
    alsa::EventCoder coder;
    snd_seq_event_t announce;
    snd_seq_ev_clear(&announce);
    announce.type = SND_SEQ_EVENT_PORT_START;
    EXPECT_TRUE(coder.decode(announce).empty());

    // A coder the library could not make codes nothing.
    alsa::EventCoder broken([](size_t, snd_midi_event_t**) { return -ENOMEM; });
    EXPECT_FALSE(broken.ok());
    int events = 0;
    const Bytes note{0x90, 60, 100};
    broken.encode(note.data(), note.size(), [&](snd_seq_event_t&) { ++events; });
    EXPECT_EQ(events, 0);
}

// A receiver whose queue stays full: the 65 KB SysEx message for it waits in the writer's queue,
// and meanwhile another thread's MIDI calls (a send among them) return and input still arrives.
// Once the receiver reads again the rest goes out in order; closing the backend joins its threads
// and closes the handle.
TEST(MIDIAlsa, AStalledReceiverHoldsUpNoOtherCall) {
    constexpr unsigned r = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    constexpr unsigned w = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    auto device = std::make_shared<Device>();
    int signal[2];
    ASSERT_EQ(::pipe2(signal, O_CLOEXEC | O_NONBLOCK), 0);
    device->descriptor = {signal[0], POLLIN, 0};
    device->ports = {{20, 0, "Synth", "Synth In", w}, {21, 0, "Keys", "Keys Out", r}};
    std::string error;
    auto backend = alsa::openOn(std::make_unique<FakeSequencer>(device), &error);
    ASSERT_TRUE(backend) << error;
    midiservice::useBackendForTesting(std::move(backend));
    const auto synth = endpointNamed(MIDIGetNumberOfDestinations(), MIDIGetDestination, "Synth In");
    const auto keys = endpointNamed(MIDIGetNumberOfSources(), MIDIGetSource, "Keys Out");
    ASSERT_NE(synth, 0u);
    ASSERT_NE(keys, 0u);

    MIDIClientRef client = 0;
    MIDIPortRef out = 0, in = 0;
    MIDIClientCreateWithBlock("alsa test", &client, nullptr);
    MIDIOutputPortCreate(client, "out", &out);
    std::atomic<int> notes{0};
    MIDIInputPortCreateWithBlock(client, "in", &in, [&](const MIDIPacketList* list, size_t bytes, void*) {
        if (MIDIPacketListCount(list, bytes) == 1 && list->packet[0].data[0] == 0x90) ++notes;
    });
    MIDIPortConnectSource(in, keys, nullptr);

    device->full = true;
    const auto message = sysEx(65000);
    std::vector<uint8_t> buffer(message.size() + 64);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketListAdd(list, buffer.size(), MIDIPacketListInit(list), 0, message.size(), message.data());
    EXPECT_EQ(MIDISend(out, synth, list, buffer.size()), noErr);
    ASSERT_TRUE(within10s([&] { return device->attempts > 2; }));

    auto other = std::async(std::launch::async, [&] {
        std::vector<uint8_t> noteBuffer(64);
        auto* noteList = reinterpret_cast<MIDIPacketList*>(noteBuffer.data());
        const Bytes note{0x90, 60, 100};
        MIDIPacketListAdd(noteList, noteBuffer.size(), MIDIPacketListInit(noteList), 0, note.size(), note.data());
        return MIDIGetNumberOfDestinations() > 0 ? MIDISend(out, synth, noteList, noteBuffer.size()) : OSStatus(-1);
    });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(other.get(), noErr);

    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_noteon(&event, 0, 60, 100);
    event.source = {21, 0};
    event.dest = {128, 0};
    {
        std::lock_guard lock(device->mutex);
        device->inbox.push_back(event);
    }
    ASSERT_EQ(::write(signal[1], "x", 1), 1);
    EXPECT_TRUE(within10s([&] { return notes == 1; })) << device->reads << " reads";
    EXPECT_TRUE(device->full);  // all of this while the receiver was stalled
    EXPECT_EQ(device->writtenCount(), 0u);

    device->full = false;
    ASSERT_TRUE(within10s([&] {
        std::lock_guard lock(device->mutex);
        return !device->written.empty() && device->written.back() == 3;
    }));
    {
        std::lock_guard lock(device->mutex);
        for (size_t i = 0; i + 1 < device->written.size(); ++i) EXPECT_LE(device->written[i], 256u) << i;
    }

    MIDIClientDispose(client);
    midiservice::useBackendForTesting(nullptr);
    EXPECT_TRUE(device->closed);
    ::close(signal[0]);
    ::close(signal[1]);
}

// The reader pauses, longer each time, while its descriptor reports an error, and ends when the
// descriptor is not open; either way closing the backend joins it at once and closes the handle.
TEST(MIDIAlsa, TheReaderPausesOnErrorsAndStopsOnAClosedDescriptor) {
    for (const bool closedDescriptor : {false, true}) {
        SCOPED_TRACE(closedDescriptor ? "POLLNVAL" : "POLLERR");
        auto device = std::make_shared<Device>();
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        if (closedDescriptor) {
            int unused = 4000;  // a number no descriptor of this process has
            while (::fcntl(unused, F_GETFD) != -1) ++unused;
            device->descriptor = {unused, POLLIN, 0};
        } else {
            ::close(pipe[0]);
            pipe[0] = -1;
            device->descriptor = {pipe[1], POLLIN, 0};  // a pipe's write end without a reader: POLLERR
        }
        std::string error;
        auto backend = alsa::openOn(std::make_unique<FakeSequencer>(device), &error);
        ASSERT_TRUE(backend) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // A reader spinning on the error would have read thousands of times by now.
        EXPECT_LT(device->reads.load(), 20);
        if (closedDescriptor) EXPECT_EQ(device->reads.load(), 0);
        backend.reset();
        EXPECT_TRUE(device->closed);
        if (pipe[0] >= 0) ::close(pipe[0]);
        ::close(pipe[1]);
    }
}

TEST(MIDIAlsa, PortsBecomeEndpointsWithStableUniqueIDs) {
    constexpr unsigned r = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    constexpr unsigned w = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    const auto kinds = [](const alsa::PortDescription& port) {
        std::vector<MIDIObjectType> out;
        for (const auto& e : alsa::endpointsOf(port, 128)) {
            EXPECT_EQ(e.name, port.portName);
            EXPECT_EQ(e.client, port.client);
            EXPECT_EQ(e.port, port.port);
            EXPECT_EQ(e.uniqueID, alsa::uniqueIDFor(port.clientName, port.portName, e.type));
            out.push_back(e.type);
        }
        return out;
    };
    using K = std::vector<MIDIObjectType>;
    const K none, source{kMIDIObjectType_Source}, destination{kMIDIObjectType_Destination},
        both{kMIDIObjectType_Source, kMIDIObjectType_Destination};
    const std::vector<std::pair<alsa::PortDescription, K>> cases = {
        {{14, 0, "Midi Through", "Midi Through Port-0", r | w}, both},
        {{20, 0, "Keys", "Keys MIDI 1", r}, source},
        {{20, 1, "Synth", "Synth In", w}, destination},
        {{0, 1, "System", "Announce", r}, none},                                      // the System client
        {{128, 0, "us", "Sonora Input 1", r | w}, none},                              // our own client
        {{20, 2, "Keys", "hidden", r | w | SND_SEQ_PORT_CAP_NO_EXPORT}, none},        // no routing
        {{20, 3, "Keys", "no subscribing", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE}, none},
    };
    for (const auto& [port, expected] : cases) {
        SCOPED_TRACE(port.portName);
        EXPECT_EQ(kinds(port), expected);
    }

    // The same names give the same ID whatever the client's number; direction and names tell apart.
    const auto id = alsa::uniqueIDFor("Midi Through", "Midi Through Port-0", kMIDIObjectType_Source);
    EXPECT_EQ(id, alsa::uniqueIDFor("Midi Through", "Midi Through Port-0", kMIDIObjectType_Source));
    EXPECT_EQ(id, MIDIUniqueID(0x5f897e55)) << std::hex << id;  // kept across versions: stored setups name it
    EXPECT_NE(id, alsa::uniqueIDFor("Midi Through", "Midi Through Port-0", kMIDIObjectType_Destination));
    EXPECT_NE(id, alsa::uniqueIDFor("Midi Through", "Midi Through Port-1", kMIDIObjectType_Source));
    EXPECT_NE(id, alsa::uniqueIDFor("Midi Throug", "hMidi Through Port-0", kMIDIObjectType_Source));
}

// Against the sequencer itself, where there is one (the snd-seq-dummy module gives "Midi Through").
TEST(MIDIAlsa, MidiThroughEchoesWhatIsSentToIt) {
    if (::access("/dev/snd/seq", R_OK | W_OK) != 0) GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq) on this machine";
    setenv("TAMBERLO_MIDI_BACKEND", "alsa", 1);
    if (MIDIBackendName() != "alsa") GTEST_SKIP() << "the MIDI service was started on another backend; run this test alone";

    const auto find = [](ItemCount count, MIDIEndpointRef (*nth)(ItemCount)) -> MIDIEndpointRef {
        for (ItemCount i = 0; i < count; ++i) {
            std::string name;
            MIDIObjectGetStringProperty(nth(i), kMIDIPropertyName, &name);
            if (name == "Midi Through Port-0") return nth(i);
        }
        return 0;
    };
    const auto through = find(MIDIGetNumberOfSources(), MIDIGetSource);
    const auto throughIn = find(MIDIGetNumberOfDestinations(), MIDIGetDestination);
    if (!through || !throughIn) GTEST_SKIP() << "no \"Midi Through Port-0\" (load snd-seq-dummy)";

    std::mutex mutex;
    Bytes got;
    MIDIClientRef client = 0;
    MIDIPortRef in = 0, out = 0;
    ASSERT_EQ(MIDIClientCreateWithBlock("alsa test", &client, nullptr), noErr);
    MIDIInputPortCreateWithBlock(client, "in", &in, [&](const MIDIPacketList* list, size_t bytes, void*) {
        std::lock_guard lock(mutex);
        const auto* p = &list->packet[0];
        for (uint32_t i = 0; i < MIDIPacketListCount(list, bytes); ++i, p = MIDIPacketNext(p)) {
            const auto* data = reinterpret_cast<const uint8_t*>(p) + kMIDIPacketHeaderSize;
            got.insert(got.end(), data, data + MIDIPacketLength(p));
        }
    });
    MIDIOutputPortCreate(client, "out", &out);
    ASSERT_EQ(MIDIPortConnectSource(in, through, nullptr), noErr);

    Bytes sent{0x93, 0x3C, 0x00, 0xE0, 0x00, 0x40};
    const auto message = sysEx(298);
    sent.insert(sent.end(), message.begin(), message.end());
    std::vector<uint8_t> buffer(1024);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketListAdd(list, buffer.size(), MIDIPacketListInit(list), 0, sent.size(), sent.data());
    ASSERT_EQ(MIDISend(out, throughIn, list, buffer.size()), noErr);
    within10s([&] {
        std::lock_guard lock(mutex);
        return got.size() >= sent.size();
    });
    MIDIDrain();
    std::lock_guard lock(mutex);
    EXPECT_EQ(got, sent);
    MIDIClientDispose(client);
}
