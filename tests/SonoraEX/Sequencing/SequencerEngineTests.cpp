// The sequencer engine driven through its bridge: the observer's process step with a block that
// records what it sends. Frames are beats × 1000 here (tempo 60, 1000 Hz); a beat of n + 0.5
// thousandths lands on frame n whatever the rounding of the conversion.
#include "SonoraEX/Sequencing/NoteEventSequence.h"
#include "SonoraEX/Sequencing/SequencerEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>
#include <vector>

// Allocations made by the calling thread while counting is on (the render-side checks).
namespace {
thread_local bool countAllocations = false;
thread_local size_t allocationCount = 0;
}  // namespace

void* operator new(size_t size) {
    if (countAllocations) ++allocationCount;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (countAllocations) ++allocationCount;
    return std::malloc(size ? size : 1);
}
// Every form that can free what the two above return (a sanitizer's runtime would otherwise pair
// its own nothrow new with this free).
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

using namespace sonora;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr uint64_t kImmediate = uint64_t(platform::AUEventSampleTimeImmediate);

double beatAt(int frame) { return (frame + 0.5) / 1000; }

struct Sent {
    int64_t offset;
    uint8_t status, data1, data2;
    bool operator==(const Sent&) const = default;
};

void PrintTo(const Sent& s, std::ostream* os) {
    *os << "{" << s.offset << ", " << std::hex << int(s.status) << " " << std::dec << int(s.data1) << " " << int(s.data2)
        << "}";
}

// A MIDI block that records into fixed storage (it runs where allocations are counted).
struct Recorder {
    std::array<Sent, 4096> sent{};
    std::atomic<size_t> count{0};

    platform::AUScheduleMIDIEventBlock block() {
        return [this](platform::AUEventSampleTime time, uint8_t, platform::NSInteger length, const uint8_t* bytes) {
            const size_t i = count.load(std::memory_order_relaxed);
            if (length != 3 || i >= sent.size()) return;
            sent[i] = {int64_t(uint64_t(time) - kImmediate), bytes[0], bytes[1], bytes[2]};
            count.store(i + 1, std::memory_order_release);
        };
    }
    std::vector<Sent> take() {
        std::vector<Sent> out(sent.begin(), sent.begin() + ptrdiff_t(count.load()));
        count = 0;
        return out;
    }
};

// One engine with its observer; settings in beats with tempo 60 at 1000 Hz unless given.
struct Rig {
    Recorder recorder;
    SequencerEngineRef engine = akSequencerEngineCreate();
    platform::AURenderObserver observer;

    ~Rig() { akSequencerEngineRelease(engine); }

    void publish(const std::vector<SequenceEvent>& events, double length, bool loop = true, double tempo = 60,
                 double sampleRate = 1000) {
        observer = akSequencerEngineUpdateSequence(engine, events.data(), events.size(), recorder.block(),
                                                   SequenceSettings{1, length, tempo, loop}, sampleRate);
    }
    // One pre-render notification; returns what went out in it. Counts the step's allocations.
    std::vector<Sent> cycle(uint32_t frames = 512, size_t* allocations = nullptr) {
        allocationCount = 0;
        countAllocations = true;
        observer(platform::kAudioUnitRenderAction_PreRender, nullptr, frames, 0);
        countAllocations = false;
        if (allocations) *allocations += allocationCount;
        return recorder.take();
    }
};

SequenceEvent on(int frame, uint8_t note) { return {0x90, note, 100, beatAt(frame)}; }
SequenceEvent off(int frame, uint8_t note) { return {0x80, note, 0, beatAt(frame)}; }

}  // namespace

TEST(NoteEventSequence, OrdersNoteEndsBeforeRestrikesAndKeepsOtherTies) {
    NoteEventSequence repeated;
    repeated.addNote(60, 90, 0, 1);
    repeated.addNote(60, 80, 1, 1);
    const auto ordered = repeated.orderedEvents();
    ASSERT_EQ(ordered.size(), 4u);
    EXPECT_EQ(ordered[0], (SequenceEvent{0x90, 60, 90, 0}));
    EXPECT_EQ(ordered[1], (SequenceEvent{0x80, 60, 90, 1})) << "the note-off keeps the note-on's velocity";
    EXPECT_EQ(ordered[2], (SequenceEvent{0x90, 60, 80, 1}));

    NoteEventSequence zero;
    zero.addNote(64, 100, 2, 0);
    EXPECT_EQ(zero.orderedEvents()[0].status, 0x80) << "a zero-length note is released first";

    NoteEventSequence mixed;
    mixed.addNote(60, 100, 0, 1);
    mixed.addEvent(0xB0, 7, 100, 0);
    EXPECT_EQ(mixed.orderedEvents()[0].status, 0xB0) << "events come before notes at one beat";

    mixed.addEvent(MIDIEvent::programChange(5, 0), 0);
    EXPECT_EQ(mixed.events.size(), 1u) << "a two-byte message adds nothing";
    mixed.addEvent(MIDIEvent::controllerChange(1, 2, 3), 0.5);
    EXPECT_EQ(mixed.events.back(), (SequenceEvent{0xB3, 1, 2, 0.5}));

    const NoteEventSequence before = mixed;
    mixed.removeNotes(1.0);  // only a note-off lies there
    EXPECT_EQ(mixed, before);
    mixed.removeNotes(uint8_t(60));
    EXPECT_TRUE(mixed.notes.empty());
    mixed.removeEvents(0.5);
    EXPECT_EQ(mixed.events.size(), 1u);
}

TEST(SequencerEngine, SendsEachEventAtItsFrameAcrossTheLoopEnd) {
    Rig rig;
    rig.publish({on(100, 60), on(900, 62), off(1000, 64)}, beatAt(1000));
    akSequencerEngineSeekTo(rig.engine, beatAt(800));
    akSequencerEngineSetPlaying(rig.engine, true);
    // S = 800, E = 1312 crosses L = 1000: only the new pass's events go out.
    // An event at the loop end belongs to the new pass too.
    EXPECT_EQ(rig.cycle(), (std::vector<Sent>{{300, 0x90, 60, 100}, {200, 0x80, 64, 0}}));

    // An event exactly at the loop end also sounds at the start of a pass.
    Rig start;
    start.publish({off(1000, 64), on(10, 60)}, beatAt(1000));
    akSequencerEngineSetPlaying(start.engine, true);
    EXPECT_EQ(start.cycle(), (std::vector<Sent>{{0, 0x80, 64, 0}, {10, 0x90, 60, 100}}));
}

// The engine finds a cycle's events from where the last cycle stopped; seeks, the loop's wrap and
// a tempo change move that place. The same events published in beat order and out of it go out
// at the same offsets, each cycle's in list order.
TEST(SequencerEngine, WalksOnThroughSeeksWrapsAndTempoChangesInListOrder) {
    const std::vector<SequenceEvent> scrambled = {on(400, 62), on(250, 60), on(1100, 70), on(50, 61),
                                                  off(250, 61), on(950, 63), off(599, 62)};
    std::vector<SequenceEvent> sorted = scrambled;
    std::stable_sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.beat < b.beat; });
    // What each cycle sends, for the scrambled list (the sorted one sends it in offset order).
    const std::vector<std::vector<Sent>> expected = {
        {{250, 0x90, 60, 100}, {50, 0x90, 61, 100}, {250, 0x80, 61, 0}},
        {{100, 0x90, 62, 100}, {299, 0x80, 62, 0}},
        {},
        // 900..1200 crosses the loop end at 1000: the new pass's events, one past the end among them.
        {{200, 0x90, 70, 100}, {150, 0x90, 61, 100}},
        // After a seek back to 200.
        {{200, 0x90, 62, 100}, {50, 0x90, 60, 100}, {50, 0x80, 61, 0}},
        {{99, 0x80, 62, 0}},
        // Tempo 120 halves every frame (the loop is 500 frames), then a seek to 200.
        {{0, 0x90, 62, 100}, {275, 0x90, 63, 100}, {99, 0x80, 62, 0}},
        {{200, 0x90, 62, 100}, {125, 0x90, 60, 100}, {25, 0x90, 61, 100}, {125, 0x80, 61, 0}, {299, 0x80, 62, 0}},
    };
    for (const std::vector<SequenceEvent>* events : {&scrambled, static_cast<const std::vector<SequenceEvent>*>(&sorted)}) {
        SCOPED_TRACE(events == &sorted ? "sorted" : "scrambled");
        Rig rig;
        rig.publish(*events, beatAt(1000));
        akSequencerEngineSetPlaying(rig.engine, true);
        size_t allocations = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            if (i == 4) akSequencerEngineSeekTo(rig.engine, beatAt(200));
            if (i == 6) {
                akSequencerEngineSetTempo(rig.engine, 120);
                akSequencerEngineSeekTo(rig.engine, beatAt(400));
            }
            std::vector<Sent> want = expected[i];
            if (events == &sorted)
                std::stable_sort(want.begin(), want.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
            EXPECT_EQ(rig.cycle(300, &allocations), want) << "cycle " << i;
        }
        EXPECT_EQ(allocations, 0u);
    }
}

TEST(SequencerEngine, NegativePlayHeadStartsLater) {
    Rig rig;
    rig.publish({on(0, 60)}, beatAt(4000));
    akSequencerEngineSeekTo(rig.engine, -0.7005);  // frame -700
    akSequencerEngineSetPlaying(rig.engine, true);
    EXPECT_TRUE(rig.cycle().empty());
    EXPECT_NEAR(akSequencerEngineGetPosition(rig.engine), -0.188, 1e-12);
    EXPECT_EQ(rig.cycle(), (std::vector<Sent>{{188, 0x90, 60, 100}}));
}

TEST(SequencerEngine, EndOfPlayStopsAndReleasesHeldNotesFromTheTop) {
    Rig rig;
    rig.publish({on(10, 60), on(20, 72), on(30, 61), off(40, 61), on(1100, 50)}, beatAt(1000), false);
    akSequencerEngineSetPlaying(rig.engine, true);
    EXPECT_EQ(rig.cycle().size(), 4u);
    EXPECT_TRUE(rig.cycle().empty());  // the event past the end never goes out
    EXPECT_TRUE(akSequencerEngineIsPlaying(rig.engine));
    EXPECT_EQ(rig.cycle(), (std::vector<Sent>{{1, 0x80, 72, 0}, {1, 0x80, 60, 0}}));
    EXPECT_FALSE(akSequencerEngineIsPlaying(rig.engine));
    EXPECT_TRUE(rig.cycle().empty());
}

TEST(SequencerEngine, TempoChangeKeepsThePositionInTheLoop) {
    Rig rig;
    // 120 BPM at 48000 Hz: 24000 frames a beat; a 2000-frame loop, the play head at 1500.
    rig.publish({}, 2000.5 / 24000, true, 120, 48000);
    akSequencerEngineSeekTo(rig.engine, 1500.5 / 24000);
    rig.cycle();
    akSequencerEngineSetTempo(rig.engine, 60);
    rig.cycle();
    const double position = akSequencerEngineGetPosition(rig.engine);
    EXPECT_NEAR(position, 2 * (1500.0 / 48000), 1.0 / 48000);

    // Tempi that make no sense are ignored.
    for (double tempo : {0.0, -1.0, kNaN, std::numeric_limits<double>::infinity()}) {
        akSequencerEngineSetTempo(rig.engine, tempo);
        rig.cycle();
        EXPECT_EQ(akSequencerEngineGetPosition(rig.engine), position) << tempo;
    }
}

TEST(SequencerEngine, NotesOffGoesFromTheTopAndFollowsTheLastMessageOfANote) {
    Rig rig;
    rig.publish({on(1, 0), on(2, 64), on(3, 127), on(4, 30), on(5, 30), off(6, 30), on(7, 200)}, beatAt(4000));
    akSequencerEngineSetPlaying(rig.engine, true);
    EXPECT_EQ(rig.cycle().size(), 7u);
    // Stopping the transport as a track does: clear playing, then queue notes-off.
    akSequencerEngineSetPlaying(rig.engine, false);
    akSequencerEngineStopPlayingNotes(rig.engine);
    // Note 30 was struck twice and released once: off. Note 200 is note 72 in seven bits.
    EXPECT_EQ(rig.cycle(), (std::vector<Sent>{{1, 0x80, 127, 0}, {1, 0x80, 72, 0}, {1, 0x80, 64, 0}, {1, 0x80, 0, 0}}));
    akSequencerEngineStopPlayingNotes(rig.engine);
    EXPECT_TRUE(rig.cycle().empty());
}

TEST(SequencerEngine, BadSettingsAndFloodsNeitherCrashNorAllocate) {
    struct Case {
        const char* name;
        double length, tempo;
        bool loop;
        bool playsOn;
    };
    const Case cases[] = {
        {"empty loop", 0, 60, true, false},
        {"loop under a frame", 0.0004, 60, true, false},
        {"NaN length", kNaN, 60, true, false},
        {"huge length", 1e12, 60, true, true},
        {"huge length, no loop", 1e12, 60, false, true},
        {"tempo 0", 4, 0, true, true},
        {"tempo NaN", 4, kNaN, true, false},
        {"tempo -1", 4, -1, true, false},
        {"tempo 0, no loop", 4, 0, false, true},
        {"length 0, no loop", 0, 60, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.publish({on(0, 60), {0x90, 255, 1, 1e12}, {0x80, 200, 0, -1e12}, {0x90, 61, 1, kNaN}, off(300, 60)}, c.length,
                    c.loop, c.tempo);
        akSequencerEngineSetPlaying(rig.engine, true);
        size_t allocations = 0;
        for (int i = 0; i < 8; ++i) rig.cycle(512, &allocations);
        EXPECT_EQ(akSequencerEngineIsPlaying(rig.engine), c.playsOn);
        akSequencerEngineStopPlayingNotes(rig.engine);
        rig.cycle(512, &allocations);
        EXPECT_EQ(allocations, 0u);
    }

    // 2000 commands in one cycle: the ring keeps 1023, the rest are dropped.
    Rig rig;
    rig.publish({on(0, 60)}, 4);
    for (int i = 0; i < 2000; ++i) akSequencerEngineSeekTo(rig.engine, i < 1023 ? 1.0005 : 2.0005);
    size_t allocations = 0;
    rig.cycle(512, &allocations);
    EXPECT_DOUBLE_EQ(akSequencerEngineGetPosition(rig.engine), 1.0) << "the seeks past the ring's room were dropped";
    akSequencerEngineSeekTo(rig.engine, 2.0005);
    rig.cycle(512, &allocations);
    EXPECT_DOUBLE_EQ(akSequencerEngineGetPosition(rig.engine), 2.0) << "the ring takes commands again once drained";
    EXPECT_EQ(allocations, 0u);
}

TEST(SequencerEngine, ReleaseSilencesHeldNotesThroughTheLastBlock) {
    Recorder recorder;
    SequencerEngineRef engine = akSequencerEngineCreate();
    const SequenceEvent events[] = {on(0, 60)};
    auto observer = akSequencerEngineUpdateSequence(engine, events, 1, recorder.block(), {1, 4, 60, true}, 1000);
    akSequencerEngineSetPlaying(engine, true);
    observer(platform::kAudioUnitRenderAction_PostRender, nullptr, 512, 0);
    EXPECT_EQ(recorder.count.load(), 0u) << "only pre-render notifications run the engine";
    observer(platform::kAudioUnitRenderAction_PreRender, nullptr, 512, 0);
    EXPECT_EQ(recorder.take().size(), 1u);
    akSequencerEngineRelease(engine);
    EXPECT_EQ(recorder.take(), (std::vector<Sent>{{1, 0x80, 60, 0}}));
    observer(platform::kAudioUnitRenderAction_PreRender, nullptr, 512, 0);  // the observer keeps the engine
}

TEST(SequencerEngine, PublishingAndCommandingWhileTheRenderThreadRuns) {
    Recorder recorder;
    SequencerEngineRef engine = akSequencerEngineCreate();
    std::vector<SequenceEvent> events;
    for (int i = 0; i < 64; ++i) events.push_back(i % 2 ? off(i * 16, uint8_t(i)) : on(i * 16, uint8_t(i)));
    auto first = akSequencerEngineUpdateSequence(engine, events.data(), events.size(), recorder.block(),
                                                 {1, 1.024, 60, true}, 1000);
    std::atomic<bool> done{false};
    std::atomic<size_t> renderAllocations{0};
    std::thread render([&] {
        size_t cycles = 0;
        while (!done.load() || cycles < 100) {
            allocationCount = 0;
            countAllocations = true;
            first(platform::kAudioUnitRenderAction_PreRender, nullptr, 256, 0);
            countAllocations = false;
            renderAllocations += allocationCount;
            recorder.count.store(0, std::memory_order_relaxed);
            ++cycles;
        }
    });
    for (int i = 0; i < 500; ++i) {
        events[size_t(i) % events.size()].beat = (i % 1000) / 1000.0;
        akSequencerEngineUpdateSequence(engine, events.data(), events.size(), recorder.block(),
                                        {1, 1.024, 60 + double(i % 5), i % 3 != 0}, 1000);
        akSequencerEngineSetPlaying(engine, i % 7 != 0);
        akSequencerEngineSeekTo(engine, i % 4);
        akSequencerEngineSetTempo(engine, 90);
        akSequencerEngineStopPlayingNotes(engine);
        (void)akSequencerEngineGetPosition(engine);
        if (i % 50 == 0) std::this_thread::yield();
    }
    done = true;
    render.join();
    EXPECT_EQ(renderAllocations.load(), 0u);
    akSequencerEngineRelease(engine);
}
