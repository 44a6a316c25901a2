#include "Sonora/MIDI/EndpointInfo.h"
#include "Sonora/MIDI/Listeners/MIDIListeners.h"
#include "Sonora/MIDI/Listeners/MIDITimeout.h"
#include "Sonora/MIDI/MIDI.h"

#include "main/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

using namespace sonora;
using testsupport::spinUntil;

namespace {


void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

struct Beats : MIDIBeatObserver {
    std::vector<std::string> lines;
    void prepareToPlay(bool c) override { lines.push_back(c ? "prepare continue" : "prepare start"); }
    void firstBeat(bool c) override { lines.push_back(c ? "first continue" : "first start"); }
    void transportStopped() override { lines.push_back("stopped"); }
    void midiBeat(uint64_t b) override { lines.push_back("beat " + std::to_string(b)); }
    void quarterNote(uint8_t q) override { lines.push_back("quarter " + std::to_string(q)); }
};

struct Tempos : MIDITempoObserver {
    std::atomic<int> followers{0}, leaders{0};
    std::vector<double> tempos;
    std::vector<std::string> labels;
    void midiClockFollowerMode() override { ++followers; }
    void midiClockLeaderEnabled() override { ++leaders; }
    void tempoUpdated(double bpm, const std::string& label) override {
        tempos.push_back(bpm);
        labels.push_back(label);
    }
};

const std::vector<MIDIByte> clockByte{0xF8}, start{0xFA}, stop{0xFC}, cont{0xFB};

}  // namespace

TEST(MIDIListeners, RealTimeStates) {
    MIDISystemRealTimeListener srt;
    struct Count : MIDISystemRealTimeObserver {
        int stops = 0;
        void stopSRT(MIDISystemRealTimeListener&) override { ++stops; }
    };
    auto count = std::make_shared<Count>();
    srt.addObserver(count);
    srt.receivedMIDISystemCommand(start, 0, 0);
    EXPECT_EQ(srt.state, SRTState::playing);
    srt.receivedMIDISystemCommand(stop, 0, 0);
    EXPECT_EQ(srt.state, SRTState::paused);
    srt.receivedMIDISystemCommand(stop, 0, 0);
    EXPECT_EQ(srt.state, SRTState::stopped);
    srt.receivedMIDISystemCommand(clockByte, 0, 0);
    EXPECT_EQ(srt.state, SRTState::stopped);
    srt.receivedMIDISystemCommand(cont, 0, 0);
    EXPECT_EQ(srt.state, SRTState::playing);
    EXPECT_EQ(count->stops, 2);
    srt.removeObserver(*count);
    EXPECT_TRUE(srt.observers.empty());

    MIDIMonoPolyListener mono;
    MIDIOMNIListener omni;
    for (auto [controller, isMono, isOmni] : {std::tuple{126, true, false}, {125, true, true}, {127, false, true},
                                              {124, false, false}, {7, false, false}}) {
        mono.receivedMIDIController(MIDIByte(controller), 99, 5, 0, 0);
        omni.receivedMIDIController(MIDIByte(controller), 99, 5, 0, 0);
        EXPECT_EQ(mono.monoMode, isMono) << controller;
        EXPECT_EQ(omni.omniMode, isOmni) << controller;
    }
}

TEST(MIDIListeners, ClockCountsQuarterNotesAndBeats) {
    auto tempo = MIDITempoListener::make(0.98, 30);
    auto& clk = *tempo->clockListener;
    auto beats = std::make_shared<Beats>();
    clk.addObserver(beats);
    clk.midiClockBeat(1);  // stopped: quanta only
    EXPECT_TRUE(beats->lines.empty());
    EXPECT_EQ(clk.quantumCounter, 1u);
    tempo->srtListener->receivedMIDISystemCommand(start, 0, 0);
    for (int i = 0; i < 25; ++i) clk.midiClockBeat(0);
    // A beat every 6 clocks; the 25th clock starts quarter note 2, then beat 4.
    EXPECT_EQ(beats->lines, (std::vector<std::string>{"prepare start", "first start", "quarter 1", "beat 0", "beat 1",
                                                      "beat 2", "beat 3", "quarter 2", "beat 4"}));
    beats->lines.clear();
    tempo->srtListener->receivedMIDISystemCommand(stop, 0, 0);
    tempo->srtListener->receivedMIDISystemCommand(cont, 0, 0);
    for (int i = 0; i < 24 * 3; ++i) clk.midiClockBeat(0);
    EXPECT_EQ(std::count(beats->lines.begin(), beats->lines.end(), "first continue"), 1);
    EXPECT_EQ(clk.fourCount, 1);  // the fifth quarter note counts 1 again
}

TEST(MIDIListeners, TempoFromSyntheticStamps) {
    auto tempo = MIDITempoListener::make(0.98, 3);
    auto tempos = std::make_shared<Tempos>();
    tempo->addTempoObserver(tempos);
    const MIDITimeStamp step = 20833000;  // ns: 120 BPM at 24 clocks per beat
    tempo->clockArrived(step);
    EXPECT_TRUE(tempos->tempos.empty());
    EXPECT_EQ(tempos->followers, 1);
    tempo->clockArrived(2 * step);
    ASSERT_EQ(tempos->tempos.size(), 1u);
    EXPECT_NEAR(tempos->tempos[0], 1e6 / 20833.0 / 24 * 60 + 0.055, 1e-9);
    EXPECT_EQ(tempos->labels[0], "120.06");
    // The same text again: no new call.
    tempo->clockArrived(3 * step);
    EXPECT_EQ(tempos->tempos.size(), 1u);

    // countLimit 3 averages the last 4 values.
    BPMHistoryAveraging averaging;
    averaging.countLimit = 3;
    for (double v : {100.0, 1.0, 2.0, 3.0, 6.0}) averaging.record(v);
    EXPECT_EQ(averaging.bpmHistory.size(), 4u);
    EXPECT_DOUBLE_EQ(averaging.results.first, 3.0);

    // No regression before 49 values.
    BPMHistoryStatistics stats;
    for (int i = 1; i <= 48; ++i) stats.record(120 + i % 3, MIDITimeStamp(i) * step);
    EXPECT_LT(stats.bpmStats.size(), 5u);
    EXPECT_FALSE(stats.lineFn);
    stats.record(120, 49 * step);
    EXPECT_EQ(stats.bpmStats.size(), 5u);
    ASSERT_TRUE(stats.lineFn);

    // Stamps that do not grow keep one entry.
    for (int i = 0; i < 1000; ++i) tempo->clockArrived(0);
    EXPECT_LE(tempo->clockEvents.size(), 1u);
}

TEST(MIDIListeners, TimeoutSucceedsFiresAndCancelsOnDestruction) {
    int successes = 0, timeouts = 0;
    {
        MIDITimeout timeout(0.05, true, [&] { ++successes; }, [&] { ++timeouts; });
        EXPECT_EQ(timeout.perform([] { return 7; }), 7);
        timeout.succeed();
        spinFor(0.3);
        EXPECT_EQ(successes, 1);
        EXPECT_EQ(timeouts, 0);
        timeout.perform([] {});
        EXPECT_TRUE(spinUntil([&] { return timeouts == 1; }));
        timeout.disableFailure = true;
        timeout.perform([] {});
        spinFor(0.3);
        EXPECT_EQ(timeouts, 1);
        timeout.disableFailure = false;
        timeout.perform([] {});
    }
    spinFor(0.3);  // destroyed with a countdown pending: nothing fires
    EXPECT_EQ(timeouts, 1);
}

// Off the main thread (as the MIDI thread uses it): a success right after perform() cancels the
// countdown even though the main queue has not started it yet; without a success, the time-out.
TEST(MIDIListeners, TimeoutOffTheMainThreadCallsOneCallback) {
    for (const bool succeed : {true, false}) {
        SCOPED_TRACE(succeed ? "success only" : "time-out only");
        std::atomic<int> successes{0}, timeouts{0};
        MIDITimeout timeout(0.05, false, [&] { ++successes; }, [&] { ++timeouts; });
        std::thread([&] {
            timeout.perform([] {});
            if (succeed) timeout.succeed();
        }).join();
        if (succeed) {
            EXPECT_EQ(successes, 1);  // called on the caller's thread, before succeed() returned
            spinFor(0.3);
        } else {
            EXPECT_TRUE(spinUntil([&] { return timeouts == 1; }));
            spinFor(0.1);
        }
        EXPECT_EQ(successes, succeed ? 1 : 0);
        EXPECT_EQ(timeouts, succeed ? 0 : 1);
    }
}

TEST(MIDIListeners, TempoListenerIsFreedAndSignalsLeaderOnce) {
    auto tempos = std::make_shared<Tempos>();
    std::weak_ptr<MIDITempoListener> weak;
    {
        auto tempo = MIDITempoListener::make(0.98, 30);
        weak = tempo;
        tempo->clockTimeout->timeoutInterval = 0.1;
        tempo->addTempoObserver(tempos);
        for (int i = 1; i <= 3; ++i) tempo->receivedMIDISystemCommand(clockByte, 0, MIDITimeStamp(i) * 20833000);
        EXPECT_TRUE(spinUntil([&] { return tempos->leaders == 1; }));
        spinFor(0.3);
        EXPECT_EQ(tempos->leaders, 1);
        EXPECT_EQ(tempos->followers, 1);
        tempo->receivedMIDISystemCommand(clockByte, 0, 99);
    }
    EXPECT_TRUE(weak.expired());
    spinFor(0.3);
    EXPECT_EQ(tempos->leaders, 1);
}

TEST(EndpointInfo, EqualityHashAndCoding) {
    EndpointInfo a("n", "d", "m", "maker", "i", "drv", -5, 10);
    EndpointInfo b = a;
    b.midiEndpointRef = 11;
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hashValue(), b.hashValue());
    b.midiPortRef = 0;
    EXPECT_NE(a, b);

    const auto json = a.encode();
    EXPECT_EQ(json.find("midiPortRef"), std::string::npos);
    const auto back = EndpointInfo::decode(json);
    EXPECT_EQ(back, a);
    EXPECT_EQ(back.midiEndpointRef, 10u);
    EXPECT_EQ(EndpointInfo::decode(b.encode()).midiPortRef, std::optional<MIDIPortRef>(0));

    std::string missing = json;
    missing.replace(missing.find("\"model\""), 7, "\"other\"");
    EXPECT_THROW(EndpointInfo::decode(missing), DecodingError);
    EXPECT_THROW(EndpointInfo::decode("[1]"), DecodingError);

    platform::MIDIEndpointRef source = 0;
    platform::loopback::createExternalSource("Keys", &source);
    const auto info = EndpointInfo::of(source);
    EXPECT_EQ(info.name, "Keys");
    EXPECT_EQ(info.model, "");
    EXPECT_NE(info.midiUniqueID, 0);
    MIDI midi;
    EXPECT_EQ(midi.sourceInfos().back(), info);
    platform::MIDIEndpointDispose(source);
}
