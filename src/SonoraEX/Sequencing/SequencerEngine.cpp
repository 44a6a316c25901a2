#include "SonoraEX/Sequencing/SequencerEngine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <vector>

namespace sonora {

namespace {

using platform::AUEventSampleTime;
using platform::AUEventSampleTimeImmediate;

// What the user side publishes: never changed afterwards, except the tempo, which the render
// side rewrites in place on a tempo command.
struct SequenceSnapshot {
    double sampleRate = 44100;
    std::vector<SequenceEvent> events;
    SequenceSettings settings;
    platform::AUScheduleMIDIEventBlock midiBlock;

    // The events' positions in beat order (stable), so a cycle finds what is due by a cursor
    // instead of converting every event. Built once at publication.
    std::vector<size_t> byBeat;
    // The frame of each event in beat order, at the current tempo; rewritten on a tempo change.
    std::vector<int64_t> frames;
    // Scratch for putting a cycle's due events back in list order when beat order differs.
    std::vector<size_t> due;
    // The loop length in frames at the current tempo.
    int64_t loopFrames = 0;
    // Beat order is list order: a cycle's events go out as they are found.
    bool listInBeatOrder = true;
    // The frames rise along beat order (false only for a tempo or rate that reverses or
    // scrambles the conversion); otherwise every cycle tests every event.
    bool framesOrdered = true;
};

struct SnapshotHolder {
    std::atomic<uint8_t> done{0};
    SequenceSnapshot snapshot;
};

// NaN in a float field: unset.
struct SequencerCommand {
    bool notesOff = false;
    double seekPosition = std::numeric_limits<double>::quiet_NaN();
    double tempo = std::numeric_limits<double>::quiet_NaN();
};

}  // namespace

class SequencerEngineImpl {
public:
    static constexpr uint64_t capacity = 1024;

    SequencerEngineImpl() : commands_(std::make_unique<SequencerCommand[]>(capacity)) {}

    ~SequencerEngineImpl() {
        allNotesOff();
        for (SnapshotHolder* holder : publishedHolders_) delete holder;
    }

    SequencerEngineImpl(const SequencerEngineImpl&) = delete;
    SequencerEngineImpl& operator=(const SequencerEngineImpl&) = delete;

    // --- User side ---

    void publish(const SequenceEvent* events, size_t count, platform::AUScheduleMIDIEventBlock block,
                 SequenceSettings settings, double sampleRate) {
        auto* holder = new SnapshotHolder;
        holder->snapshot.sampleRate = sampleRate;
        if (events && count > 0) holder->snapshot.events.assign(events, events + count);
        holder->snapshot.settings = settings;
        holder->snapshot.midiBlock = std::move(block);
        index(holder->snapshot);
        newestHolder_.exchange(holder, std::memory_order_acq_rel);
        publishedHolders_.push_back(holder);
        retire();
    }

    void queue(const SequencerCommand& command) {
        const uint64_t write = writeIndex_.load(std::memory_order_relaxed);
        const uint64_t next = (write + 1) % capacity;
        if (next == readIndex_.load(std::memory_order_acquire)) return;  // full: dropped
        commands_[write] = command;
        writeIndex_.store(next, std::memory_order_release);
    }

    void setPlaying(bool playing) { isPlaying_.store(playing, std::memory_order_release); }
    bool isPlaying() const { return isPlaying_.load(std::memory_order_acquire); }
    double position() const { return beatPosition_.load(std::memory_order_acquire); }

    // The render side no longer runs (its observer is gone): silence what it left sounding.
    void silence() { allNotesOff(); }

    // --- Render side ---

    void process(uint32_t frameCount) {
        SnapshotHolder* newest = newestHolder_.load(std::memory_order_acquire);
        if (newest != currentHolder_) {
            if (currentHolder_) currentHolder_->done.store(1, std::memory_order_release);
            currentHolder_ = newest;
            cursorValid_ = false;
        }
        if (!currentHolder_) return;
        SequenceSnapshot& snapshot = currentHolder_->snapshot;
        drainCommands(snapshot);

        const int64_t L = snapshot.loopFrames;
        if (isPlaying_.load(std::memory_order_acquire)) {
            const bool looping = snapshot.settings.loopEnabled;
            // A loop shorter than one frame has nothing to play: it ends like a finished pass.
            if ((!looping && playhead_ >= L) || (looping && L < 1)) {
                isPlaying_.store(false, std::memory_order_release);
                allNotesOff();
                return;
            }
            sendEvents(snapshot, L, frameCount);
            playhead_ += frameCount;
        }
        const double tempo = snapshot.settings.tempo;
        beatPosition_.store((tempo / 60) * (double(frameInLoop(L)) / snapshot.sampleRate), std::memory_order_release);
    }

private:
    // User side: the beat order of the events, then their frames.
    static void index(SequenceSnapshot& snapshot) {
        const std::vector<SequenceEvent>& events = snapshot.events;
        snapshot.byBeat.resize(events.size());
        std::iota(snapshot.byBeat.begin(), snapshot.byBeat.end(), size_t(0));
        // A NaN beat converts to frame 0, so it sorts as beat 0.
        const auto key = [&events](size_t i) { return std::isnan(events[i].beat) ? 0.0 : events[i].beat; };
        snapshot.listInBeatOrder = std::is_sorted(snapshot.byBeat.begin(), snapshot.byBeat.end(),
                                                  [&key](size_t a, size_t b) { return key(a) < key(b); });
        if (!snapshot.listInBeatOrder)
            std::stable_sort(snapshot.byBeat.begin(), snapshot.byBeat.end(),
                             [&key](size_t a, size_t b) { return key(a) < key(b); });
        snapshot.frames.resize(events.size());
        snapshot.due.resize(snapshot.listInBeatOrder ? 0 : events.size());
        convert(snapshot);
    }

    // Beats to frames at the snapshot's tempo: at publication and on a tempo change (in place,
    // without allocating).
    static void convert(SequenceSnapshot& snapshot) {
        const double tempo = snapshot.settings.tempo;
        const double rate = snapshot.sampleRate;
        snapshot.loopFrames = sequencerFrame(snapshot.settings.length, tempo, rate);
        bool ordered = true;
        for (size_t k = 0; k < snapshot.frames.size(); ++k) {
            snapshot.frames[k] = sequencerFrame(snapshot.events[snapshot.byBeat[k]].beat, tempo, rate);
            if (k > 0 && snapshot.frames[k] < snapshot.frames[k - 1]) ordered = false;
        }
        snapshot.framesOrdered = ordered;
    }

    int64_t frameInLoop(int64_t L) const {
        if (playhead_ == 0 || L <= 0) return 0;
        if (playhead_ < 0) return playhead_;
        return playhead_ % L;
    }

    void drainCommands(SequenceSnapshot& snapshot) {
        const uint64_t write = writeIndex_.load(std::memory_order_acquire);
        for (uint64_t i = readIndex_.load(std::memory_order_relaxed); i != write; i = (i + 1) % capacity) {
            const SequencerCommand& command = commands_[i];
            if (command.notesOff) allNotesOff();
            SequenceSettings& settings = snapshot.settings;
            if (!std::isnan(command.seekPosition))
                playhead_ = sequencerFrame(command.seekPosition, settings.tempo, snapshot.sampleRate);
            if (!std::isnan(command.tempo)) {
                // The position inside the loop stays; completed passes are dropped.
                const double F = double(frameInLoop(snapshot.loopFrames));
                const double beats = (settings.tempo / 60) * (F / snapshot.sampleRate);
                settings.tempo = command.tempo;
                convert(snapshot);
                cursorValid_ = false;
                playhead_ = sequencerFrame(beats, settings.tempo, snapshot.sampleRate);
            }
        }
        readIndex_.store(write, std::memory_order_release);
    }

    void sendEvents(SequenceSnapshot& snapshot, int64_t L, uint32_t frameCount) {
        const bool looping = snapshot.settings.loopEnabled;
        const int64_t S = frameInLoop(L);
        const int64_t E = S + frameCount;
        const CycleRule rule{L, S, E, frameCount, looping};
        if (!snapshot.framesOrdered) {
            cursorValid_ = false;
            for (const SequenceEvent& event : snapshot.events)
                sendIfDue(snapshot, event,
                          sequencerFrame(event.beat, snapshot.settings.tempo, snapshot.sampleRate), rule);
            return;
        }
        // Every event the rule could send is gathered by its position in frame order (a few more
        // are harmless: the rule is applied to each again when it is sent).
        const std::vector<int64_t>& frames = snapshot.frames;
        const size_t n = frames.size();
        size_t due = 0;
        const auto gather = [&](size_t k) {
            if (snapshot.listInBeatOrder)
                sendIfDue(snapshot, snapshot.events[k], frames[k], rule);
            else
                snapshot.due[due++] = k;
        };
        if (E > L && looping) {
            // The cycle crosses the loop end. The new pass's events lie before K in the loop: in
            // frame order those below min(K, L) (any before frame 0 among them) and those past the
            // loop end whose remainder falls below K.
            const int64_t K = int32_t(frameCount) - int32_t(L - S);
            const size_t inLoop = lowerBound(frames, std::min(K, L));
            for (size_t k = 0; k < inLoop; ++k) gather(k);
            for (size_t k = lowerBound(frames, L); k < n; ++k)
                if (frames[k] % L < K) gather(k);
            cursorValid_ = false;
        } else {
            size_t k = cursorValid_ && cursorFrame_ == S ? cursor_ : lowerBound(frames, S);
            for (; k < n && frames[k] < E; ++k) gather(k);
            cursor_ = k;
            cursorFrame_ = E;
            cursorValid_ = true;
            if (S == 0 && looping)
                for (size_t j = lowerBound(frames, L); j < n && frames[j] == L; ++j) gather(j);
        }
        if (snapshot.listInBeatOrder) return;
        // Out of list order: the due events go out in list order, as a full walk would send them.
        const std::vector<size_t>& byBeat = snapshot.byBeat;
        std::sort(snapshot.due.begin(), snapshot.due.begin() + ptrdiff_t(due),
                  [&byBeat](size_t a, size_t b) { return byBeat[a] < byBeat[b]; });
        for (size_t i = 0; i < due; ++i) {
            const size_t k = snapshot.due[i];
            sendIfDue(snapshot, snapshot.events[byBeat[k]], frames[k], rule);
        }
    }

    // The first position in frame order whose frame is at least `frame`.
    static size_t lowerBound(const std::vector<int64_t>& frames, int64_t frame) {
        return size_t(std::lower_bound(frames.begin(), frames.end(), frame) - frames.begin());
    }

    struct CycleRule {
        int64_t L;
        int64_t S;
        int64_t E;
        uint32_t frameCount;
        bool looping;
    };

    // Sends an event of frame T if the cycle's rule says so.
    void sendIfDue(const SequenceSnapshot& snapshot, const SequenceEvent& event, int64_t T, const CycleRule& c) {
        if (c.E > c.L && c.looping) {
            // Only the new pass's events go out.
            const int32_t R = int32_t(c.L - c.S);
            const int32_t K = int32_t(c.frameCount) - R;
            const int64_t m = T % c.L;
            if (m < K) send(snapshot, event, R + m);
        } else if (c.S == 0 && T == c.L && c.looping) {
            // An event exactly at the loop end also sounds at the start of a pass.
            send(snapshot, event, 0);
        } else if (c.S <= T && T < c.E) {
            send(snapshot, event, T - c.S);
        }
    }

    void send(const SequenceSnapshot& snapshot, const SequenceEvent& event, int64_t offset) {
        if (!snapshot.midiBlock) return;
        // Note numbers are seven bits; a wider data byte must not reach past the set.
        const unsigned note = event.data1 & 0x7F;
        if (event.status == 0x90) playingNotes_[note / 64] |= uint64_t(1) << (note % 64);
        if (event.status == 0x80) playingNotes_[note / 64] &= ~(uint64_t(1) << (note % 64));
        const uint8_t bytes[3] = {event.status, event.data1, event.data2};
        snapshot.midiBlock(AUEventSampleTimeImmediate + offset, 0, 3, bytes);
    }

    void allNotesOff() {
        if ((playingNotes_[0] | playingNotes_[1]) == 0) return;
        const SequenceSnapshot* snapshot = currentHolder_ ? &currentHolder_->snapshot : nullptr;
        for (int note = 127; note >= 0; --note) {
            if (!(playingNotes_[note / 64] & (uint64_t(1) << (note % 64)))) continue;
            if (snapshot) send(*snapshot, {0x80, uint8_t(note), 0, 0}, 1);
            playingNotes_[note / 64] &= ~(uint64_t(1) << (note % 64));
        }
    }

    // Frees every holder up to the newest one the render side has let go of; the newest
    // published holder stays.
    void retire() {
        for (size_t i = publishedHolders_.size() - 1; i-- > 0;) {
            if (!publishedHolders_[i]->done.load(std::memory_order_acquire)) continue;
            for (size_t j = 0; j <= i; ++j) delete publishedHolders_[j];
            publishedHolders_.erase(publishedHolders_.begin(), publishedHolders_.begin() + ptrdiff_t(i) + 1);
            return;
        }
    }

    uint64_t playingNotes_[2] = {0, 0};
    int64_t playhead_ = 0;
    std::atomic<bool> isPlaying_{false};
    std::atomic<SnapshotHolder*> newestHolder_{nullptr};
    std::vector<SnapshotHolder*> publishedHolders_;
    SnapshotHolder* currentHolder_ = nullptr;
    std::unique_ptr<SequencerCommand[]> commands_;
    std::atomic<uint64_t> writeIndex_{0};
    std::atomic<uint64_t> readIndex_{0};
    std::atomic<double> beatPosition_{0};
    // Where the last cycle's walk stopped in frame order (the first event at or past
    // cursorFrame_), so the next contiguous cycle starts there instead of searching.
    size_t cursor_ = 0;
    int64_t cursorFrame_ = 0;
    bool cursorValid_ = false;
};

struct SequencerEngineHandle {
    SequencerEngineImpl* object;
    std::shared_ptr<SequencerEngineImpl> reference;
};

int32_t saturatedInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

SequencerEngineRef akSequencerEngineCreate() {
    auto engine = std::make_shared<SequencerEngineImpl>();
    return new SequencerEngineHandle{engine.get(), engine};
}

void akSequencerEngineRelease(SequencerEngineRef engine) {
    if (!engine) return;
    engine->object->silence();
    delete engine;
}

platform::AURenderObserver akSequencerEngineUpdateSequence(SequencerEngineRef engine, const SequenceEvent* events,
                                                           size_t eventCount, platform::AUScheduleMIDIEventBlock block,
                                                           SequenceSettings settings, double sampleRate) {
    engine->object->publish(events, eventCount, std::move(block), settings, sampleRate);
    std::shared_ptr<SequencerEngineImpl> reference = engine->reference;
    return [reference](platform::AudioUnitRenderActionFlags flags, const platform::AudioTimeStamp*,
                       platform::AUAudioFrameCount frameCount, platform::NSInteger) {
        if (flags == platform::kAudioUnitRenderAction_PreRender) reference->process(frameCount);
    };
}

double akSequencerEngineGetPosition(SequencerEngineRef engine) { return engine->object->position(); }

void akSequencerEngineSeekTo(SequencerEngineRef engine, double position) {
    engine->object->queue({false, position, std::numeric_limits<double>::quiet_NaN()});
}

void akSequencerEngineSetPlaying(SequencerEngineRef engine, bool playing) { engine->object->setPlaying(playing); }

bool akSequencerEngineIsPlaying(SequencerEngineRef engine) { return engine->object->isPlaying(); }

void akSequencerEngineStopPlayingNotes(SequencerEngineRef engine) {
    engine->object->queue({true, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()});
}

void akSequencerEngineSetTempo(SequencerEngineRef engine, double tempo) {
    if (!std::isfinite(tempo) || tempo <= 0) return;
    engine->object->queue({false, std::numeric_limits<double>::quiet_NaN(), tempo});
}

}  // namespace sonora
