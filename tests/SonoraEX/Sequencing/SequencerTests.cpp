// Sequencer tracks and the sequencer playing into a music unit that records the MIDI it gets, at
// the sample times the render hands it over.
#include "Sonora/MIDI/MIDIFile/MIDIFile.h"
#include "SonoraEX/Sequencing/Sequencer.h"
#include "platform/audiotoolbox/AVAudioUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace sonora;
using namespace platform;

namespace {

struct Received {
    int64_t frame;
    uint8_t status, data1, data2;
    bool operator==(const Received&) const = default;
};

void PrintTo(const Received& r, std::ostream* os) {
    *os << "{" << r.frame << ", " << std::hex << int(r.status) << std::dec << " " << int(r.data1) << " " << int(r.data2)
        << "}";
}

// A music device whose render records the MIDI events of each cycle.
struct MIDIRecordingUnit : AUAudioUnit {
    MIDIRecordingUnit() : AUAudioUnit({kAudioUnitType_MusicDevice, FourCC("mrec"), FourCC("Tmbr"), 0, 0}, 0, 1) {
        setInternalRenderBlock([this](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount, NSInteger,
                                      AudioBufferList*, const AURenderEvent* events, AURenderPullInputBlock) {
            for (const AURenderEvent* e = events; e; e = e->head.next)
                if (e->head.eventType == AURenderEventType::MIDI)
                    received.push_back({e->head.eventSampleTime, e->MIDI.data[0], e->MIDI.data[1], e->MIDI.data[2]});
            return noErr;
        });
        allocateRenderResources();
    }
    std::vector<Received> received;
};

struct Target : Node {
    std::shared_ptr<MIDIRecordingUnit> unit = std::make_shared<MIDIRecordingUnit>();
    std::shared_ptr<AVAudioUnit> node = std::make_shared<AVAudioUnit>(unit);
    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<AVAudioNode> avAudioNode() const override { return node; }

    // Renders cycles of `frames` frames from the unit's current time up to `until`.
    void renderTo(int64_t until, AUAudioFrameCount frames = 512) {
        std::vector<float> samples(size_t(frames) * 2);
        alignas(AudioBufferList) unsigned char storage[AudioBufferListSize(2)];
        auto* list = reinterpret_cast<AudioBufferList*>(storage);
        list->mNumberBuffers = 2;
        list->mBuffers[0] = {1, frames * 4, samples.data()};
        list->mBuffers[1] = {1, frames * 4, samples.data() + frames};
        const auto block = unit->renderBlock();
        for (; time < until; time += frames) {
            AudioUnitRenderActionFlags flags = 0;
            AudioTimeStamp stamp;
            stamp.mSampleTime = double(time);
            stamp.mFlags = kAudioTimeStampSampleTimeValid;
            block(&flags, &stamp, frames, 0, list, nullptr);
        }
    }
    std::vector<Received> take() { return std::exchange(unit->received, {}); }
    int64_t time = 0;
};

// A format-1 Standard MIDI File of 96 ticks a beat: a conductor track, then the given track bodies
// (end of track appended to each).
std::vector<uint8_t> smf(const std::vector<std::vector<uint8_t>>& tracks) {
    std::vector<uint8_t> bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, uint8_t(tracks.size() + 1), 0, 96};
    std::vector<std::vector<uint8_t>> chunks = {{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}};
    chunks.insert(chunks.end(), tracks.begin(), tracks.end());
    for (auto body : chunks) {
        body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
        bytes.insert(bytes.end(), {'M', 'T', 'r', 'k', 0, 0, uint8_t(body.size() >> 8), uint8_t(body.size())});
        bytes.insert(bytes.end(), body.begin(), body.end());
    }
    return bytes;
}

}  // namespace

TEST(SequencerTrack, PlaysNotesAtTheirSampleTimes) {
    auto target = std::make_shared<Target>();
    SequencerTrack track(target);
    NoteEventSequence sequence;
    sequence.addNote(60, 100, 0.5, 0.25);  // 120 BPM, 44100 Hz: frames 11025 to 16537
    track.setSequence(sequence);
    track.setLoopEnabled(false);
    track.playFromBeginning();
    target->renderTo(44100 * 3);
    EXPECT_EQ(target->take(), (std::vector<Received>{{11025, 0x90, 60, 100}, {16537, 0x80, 60, 100}}));
    EXPECT_FALSE(track.isPlaying()) << "a pass without looping ends";

    // Two beats of count-in: the first event at beat 0 sounds one second after the first cycle.
    sequence.addNote(62, 90, 0, 1);
    track.setSequence(sequence);
    const int64_t start = target->time;
    track.play(2);
    target->renderTo(start + 44100 + 512);
    EXPECT_EQ(target->take(), (std::vector<Received>{{start + 44100, 0x90, 62, 90}}));
}

TEST(SequencerTrack, TransportKeepsOrResetsThePlayHead) {
    auto target = std::make_shared<Target>();
    SequencerTrack track(target);
    track.setLength(8);  // publishes: 4 s at 120 BPM
    track.play();
    target->renderTo(512 * 40);
    const double playing = track.currentBeat();
    EXPECT_GT(playing, 0.9);
    track.rewind();
    target->renderTo(target->time + 512);
    EXPECT_TRUE(track.isPlaying());
    EXPECT_LT(track.currentBeat(), 0.03) << "rewind jumps to the start without stopping";
    track.stop();
    target->renderTo(target->time + 512);
    const double stopped = track.currentBeat();
    target->renderTo(target->time + 512 * 4);
    EXPECT_EQ(track.currentBeat(), stopped);
    track.play();
    target->renderTo(target->time + 512);
    EXPECT_GT(track.currentBeat(), stopped) << "play resumes where stop left the play head";
}

TEST(SequencerTrack, NewTargetGetsTheMIDIAndTeardownSilencesHeldNotes) {
    auto first = std::make_shared<Target>();
    auto second = std::make_shared<Target>();
    {
        SequencerTrack track(first);
        NoteEventSequence sequence;
        sequence.addNote(60, 100, 0, 8);
        track.setSequence(sequence);  // the observer goes onto the first unit
        track.setTargetNode(second);
        track.updateSequence();
        track.playFromBeginning();
        first->renderTo(512);
        EXPECT_TRUE(first->take().empty()) << "the MIDI goes to the new target";
        second->renderTo(512);
        EXPECT_EQ(second->take(), (std::vector<Received>{{0, 0x90, 60, 100}}));
    }
    second->renderTo(1024);
    EXPECT_EQ(second->take(), (std::vector<Received>{{513, 0x80, 60, 0}})) << "the held note released at teardown";
    first->renderTo(4096);
    EXPECT_TRUE(first->take().empty()) << "the observer went with the track";
}

TEST(SequencerTrack, GoesAwayWhileItsTargetRenders) {
    auto target = std::make_shared<Target>();
    std::atomic<bool> done{false};
    std::thread render([&] {
        while (!done.load()) target->renderTo(target->time + 512);
    });
    for (int i = 0; i < 50; ++i) {
        SequencerTrack track(target);
        NoteEventSequence sequence;
        for (int n = 0; n < 32; ++n) sequence.addNote(uint8_t(n), 100, n * 0.001, 1);
        track.setSequence(sequence);
        track.setTempo(240);
        track.playFromBeginning();
        for (int k = 0; k < 5; ++k) track.setLength(1 + k);
        std::this_thread::yield();
    }
    done = true;
    render.join();
    target->take();
}

TEST(Sequencer, FansOutSettingsAndLoadsFileTracks) {
    EXPECT_EQ(Sequencer().tempo(), 0);
    Sequencer none;
    none.setTempo(90);
    EXPECT_EQ(none.length(), 0);

    auto a = std::make_shared<Target>();
    auto b = std::make_shared<Target>();
    Sequencer sequencer(std::vector<std::shared_ptr<Node>>{a, b});
    sequencer.tracks[0]->setLength(8);
    EXPECT_EQ(sequencer.length(), 4);
    sequencer.setLength(16);
    EXPECT_EQ(sequencer.tracks[0]->length(), 16);
    EXPECT_EQ(sequencer.tracks[1]->length(), 16);
    EXPECT_EQ(sequencer.track(std::make_shared<Target>()), nullptr);
    EXPECT_EQ(sequencer.track(b), sequencer.tracks[1]);

    sequencer.add(60, 100, 5, 0, 1, 1);  // the channel is not used
    sequencer.add(60, 100, 0, 0, 1, 2);  // out of range: logged, ignored
    EXPECT_EQ(sequencer.tracks[1]->sequence().orderedEvents()[0].status, 0x90);
    EXPECT_EQ(sequencer.tracks[1]->sequence().orderedEvents()[1].status, 0x80);

    // Three file tracks into two: the third is dropped. The first ends at tick 0 (length 0).
    const auto bytes = smf({{0x00, 0x90, 60, 100, 0x00, 0x80, 60, 0},
                            {0x00, 0xC0, 5, 0x00, 0x91, 64, 90, 0x81, 0x40, 0xFF, 0x01, 0x01, 'x', 0x00, 0x81, 64, 0},
                            {0x00, 0x92, 67, 80}});
    const MIDIFile file(bytes, "three.mid");
    sequencer.load(file);
    EXPECT_EQ(sequencer.tracks[0]->sequence().events.size(), 2u);
    EXPECT_EQ(sequencer.tracks[1]->sequence().events,
              (std::vector<SequenceEvent>{{0x91, 64, 90, 0}, {0x81, 64, 0, 2}})) << "the program change is skipped";
    EXPECT_EQ(sequencer.length(), 0);
    EXPECT_EQ(sequencer.tracks[1]->length(), 0) << "every track takes the shortest length";

    // A zero-length loop: nothing plays, nothing breaks.
    sequencer.playFromBeginning();
    a->renderTo(512 * 8);
    EXPECT_TRUE(a->take().empty());
    EXPECT_FALSE(sequencer.tracks[0]->isPlaying());
}
