#include "SonoraEX/Sequencing/SequencerEngine.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
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
        }
        if (!currentHolder_) return;
        SequenceSnapshot& snapshot = currentHolder_->snapshot;
        drainCommands(snapshot);

        const int64_t L = loopFrames(snapshot);
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
    static int64_t loopFrames(const SequenceSnapshot& snapshot) {
        return sequencerFrame(snapshot.settings.length, snapshot.settings.tempo, snapshot.sampleRate);
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
                const double F = double(frameInLoop(loopFrames(snapshot)));
                const double beats = (settings.tempo / 60) * (F / snapshot.sampleRate);
                settings.tempo = command.tempo;
                playhead_ = sequencerFrame(beats, settings.tempo, snapshot.sampleRate);
            }
        }
        readIndex_.store(write, std::memory_order_release);
    }

    void sendEvents(const SequenceSnapshot& snapshot, int64_t L, uint32_t frameCount) {
        const bool looping = snapshot.settings.loopEnabled;
        const int64_t S = frameInLoop(L);
        const int64_t E = S + frameCount;
        for (const SequenceEvent& event : snapshot.events) {
            const int64_t T = sequencerFrame(event.beat, snapshot.settings.tempo, snapshot.sampleRate);
            if (E > L && looping) {
                // The cycle crosses the loop end: only the new pass's events go out.
                const int32_t R = int32_t(L - S);
                const int32_t K = int32_t(frameCount) - R;
                const int64_t m = T % L;
                if (m < K) send(snapshot, event, R + m);
            } else if (S == 0 && T == L && looping) {
                send(snapshot, event, 0);
            } else if (S <= T && T < E) {
                send(snapshot, event, T - S);
            }
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
