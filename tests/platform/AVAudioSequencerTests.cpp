// The engine's sequencer driven by the render clock: an offline render hands every event to the
// destination unit at its tempo-map frame.
#include "platform/avfaudio/AVAudioSequencer.h"

#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

using namespace platform;

namespace {

using Bytes = std::vector<uint8_t>;

// An instrument that renders silence and records what its MIDI block is given.
struct RecordingInstrument {
    RecordingInstrument() {
        AudioComponentDescription description{};
        description.componentType = kAudioUnitType_MusicDevice;
        unit = std::make_shared<AUAudioUnit>(description, 0, 1);
        unit->setScheduleMIDIEventBlock([this](AUEventSampleTime time, uint8_t, NSInteger length, const uint8_t* bytes) {
            received.push_back({time - AUEventSampleTimeImmediate, Bytes(bytes, bytes + length)});
        });
        unit->setInternalRenderBlock([](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames,
                                        NSInteger, AudioBufferList* output, const AURenderEvent*, AURenderPullInputBlock) {
            for (uint32_t c = 0; c < output->mNumberBuffers; ++c)
                std::fill_n(static_cast<float*>(output->mBuffers[c].mData), frames, 0.f);
            return OSStatus{0};
        });
        node = std::make_shared<AVAudioUnit>(unit);
    }
    struct Event {
        int64_t offset;
        Bytes bytes;
    };
    std::shared_ptr<AUAudioUnit> unit;
    std::shared_ptr<AVAudioUnit> node;
    std::vector<Event> received;
};

// Tempo 100 then 140 from beat 4 (96 PPQ); notes every half beat on channel 1, a CC at beat 2.
Bytes smallFile() {
    Bytes tempo{0, 0xFF, 0x51, 3, 0x09, 0x27, 0xC0, 0x83, 0x00, 0xFF, 0x51, 3, 0x06, 0x8A, 0x1B, 0, 0xFF, 0x2F, 0};
    Bytes notes;
    for (int i = 0; i < 12; ++i) {
        uint8_t delta = i ? 24 : 0;
        if (i == 4) {
            notes.insert(notes.end(), {24, 0xB1, 7, 100});
            delta = 0;
        }
        notes.insert(notes.end(), {delta, 0x91, uint8_t(60 + i), 90, 24, 0x81, uint8_t(60 + i), 0});
    }
    notes.push_back(24);
    notes.insert(notes.end(), {0xFF, 0x2F, 0});
    auto chunk = [](const Bytes& body) {
        Bytes out{'M', 'T', 'r', 'k', 0, 0, uint8_t(body.size() >> 8), uint8_t(body.size())};
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0, 96};
    for (const auto& c : {chunk(tempo), chunk(notes)}) file.insert(file.end(), c.begin(), c.end());
    return file;
}

double secondsAt(double beat) { return beat < 4 ? beat * 0.6 : 2.4 + (beat - 4) * 0.428571; }

}  // namespace

TEST(AVAudioSequencer, OfflineRenderHandsEventsToTheUnitAtTheirFrames) {
    auto engine = AVAudioEngine::make();
    RecordingInstrument instrument;
    const auto format = AVAudioFormat::standardFormatWithSampleRate(44100, 2);
    engine->attach(instrument.node);
    engine->connect(instrument.node, engine->mainMixerNode(), format);

    AVAudioSequencer sequencer(engine);
    sequencer.load(smallFile());
    ASSERT_EQ(sequencer.tracks().size(), 1u);  // the tempo track is not listed
    EXPECT_DOUBLE_EQ(sequencer.lengthInBeats(), 6.0);
    EXPECT_EQ(sequencer.tracks()[0]->numberOfLoops(), AVMusicTrackLoopCountForever);
    EXPECT_THROW(sequencer.start(), NSErrorException);  // the engine is not running
    EXPECT_THROW(sequencer.load(Bytes{'M', 'T', 'h', 'd'}), NSErrorException);
    sequencer.load(smallFile());

    std::vector<std::pair<int64_t, Bytes>> seen;
    sequencer.setEventObserver([&](int64_t frame, const uint8_t* bytes, size_t length) {
        seen.emplace_back(frame, Bytes(bytes, bytes + length));
    });
    constexpr AVAudioFrameCount kCycle = 512;
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, kCycle);
    engine->start();
    sequencer.start();  // the default destination: the engine's instrument
    auto buffer = AVAudioPCMBuffer::make(format, kCycle);
    const int cycles = int(std::ceil(secondsAt(6.5) * 44100 / kCycle));
    for (int i = 0; i < cycles; ++i) ASSERT_EQ(engine->renderOffline(kCycle, *buffer), AVAudioEngineManualRenderingStatus::success);
    EXPECT_NEAR(sequencer.currentPositionInBeats(), 6.5, 0.05);
    sequencer.stop();
    engine->stop();

    ASSERT_EQ(seen.size(), 25u);  // 12 notes on and off, one CC
    ASSERT_EQ(instrument.received.size(), seen.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(instrument.received[i].bytes, seen[i].second) << i;
        EXPECT_GE(instrument.received[i].offset, 0) << i;
        EXPECT_LT(instrument.received[i].offset, kCycle) << i;
        EXPECT_EQ(instrument.received[i].offset, seen[i].first % kCycle) << i;
    }
    for (int i = 0; i < 12; ++i) {
        const auto on = std::find_if(seen.begin(), seen.end(), [&](const auto& e) { return e.second == Bytes{0x91, uint8_t(60 + i), 90}; });
        ASSERT_NE(on, seen.end()) << i;
        EXPECT_NEAR(double(on->first), secondsAt(i * 0.5) * 44100, 1.0) << i;
    }
}
