#include "platform/audiotoolbox/MusicPlayer.h"

#include "platform/audiotoolbox/detail/MusicPlayerDefaultSynth.h"
#include "platform/audiotoolbox/detail/TrackSchedule.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <unordered_map>

namespace platform {

using namespace detail;

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

struct Message {
    double beat;
    MIDIEndpointRef destination;
    uint8_t length;
    uint8_t bytes[3];
    std::vector<uint8_t> raw;  // for raw data
};

struct PlayerData {
    uintptr_t sequence = 0;
    double time = 0;  // beats, while stopped
    double rate = 1;
    bool playing = false;
    uint64_t generation = 0;
    // While playing: the tempo-map seconds at the anchor's host time.
    uint64_t anchorHost = 0;
    double anchorSeconds = 0;
    double cursor = 0;  // events after it (at it when `inclusive`) are still to come
    bool inclusive = true;
    std::vector<Message> noteOffs;
    std::thread thread;
    std::condition_variable_any wake;
    MIDIClientRef client = 0;
    MIDIPortRef port = 0;
};

std::unordered_map<uintptr_t, std::shared_ptr<PlayerData>>& players() {
    static auto* map = new std::unordered_map<uintptr_t, std::shared_ptr<PlayerData>>;
    return *map;
}

std::shared_ptr<PlayerData> findPlayer(MusicPlayer player) {
    auto it = players().find(reinterpret_cast<uintptr_t>(player));
    return it == players().end() ? nullptr : it->second;
}

MusicPlayerDefaultSynth& defaultSynth() {
    static auto* synth = new MusicPlayerDefaultSynth;
    return *synth;
}

// Makes the General MIDI sampler once, the first time a started sequence has a track without a
// destination (on the caller's thread, not the player's).
void prepareDefaultSynth(const SequenceData& sequence) {
    static bool tried = false;
    if (tried || defaultSynth()) return;
    for (const auto& track : sequence.tracks)
        if (!track->destination && !track->events.empty()) {
            tried = true;
            defaultSynth() = makeGeneralMIDISynth();
            return;
        }
}

bool audible(const TrackData& track, bool anySolo) { return !track.mute && (!anySolo || track.solo); }

// --- Sending ---

void ensurePort(PlayerData& player) {
    if (player.port) return;
    if (!player.client) MIDIClientCreateWithBlock("MusicPlayer", &player.client, nullptr);
    if (player.client) MIDIOutputPortCreate(player.client, "MusicPlayer out", &player.port);
}

void sendDefault(const uint8_t* bytes, size_t length) {
    // Without a synthesizer the events are dropped: making it logged why, once.
    if (const auto& synth = defaultSynth()) synth(bytes, length);
}

void send(MIDIPortRef port, const Message& message, uint64_t stamp) {
    const uint8_t* bytes = message.raw.empty() ? message.bytes : message.raw.data();
    const size_t length = message.raw.empty() ? message.length : message.raw.size();
    if (!message.destination) {
        sendDefault(bytes, length);
        return;
    }
    std::vector<uint8_t> storage(sizeof(MIDIPacketList) + length + 16);
    auto* list = reinterpret_cast<MIDIPacketList*>(storage.data());
    MIDIPacket* packet = MIDIPacketListInit(list);
    if (!MIDIPacketListAdd(list, storage.size(), packet, stamp, length, bytes)) return;
    MIDISend(port, message.destination, list, storage.size());
}

// The messages of the event at `index` played at `beat`; notes add their note-off.
void messagesOf(const TrackData& track, size_t index, double beat, std::vector<Message>& out,
                std::vector<Message>& noteOffs) {
    ScheduledMessage scheduled;
    if (!messageOf(track.events[index], beat, scheduled)) return;
    Message message{beat, track.destination, scheduled.length, {}, {}};
    std::memcpy(message.bytes, scheduled.bytes, 3);
    if (scheduled.raw) message.raw.assign(scheduled.raw, scheduled.raw + scheduled.rawLength);
    out.push_back(std::move(message));
    if (scheduled.hasNoteOff) {
        Message off{scheduled.noteOffBeat, track.destination, 3, {}, {}};
        std::memcpy(off.bytes, scheduled.noteOff, 3);
        noteOffs.push_back(std::move(off));
    }
}

// Host times past the steady clock's range (an event thousands of years ahead) are "never": a
// wrapped value would play the event at once or make the player's wait return at once for ever.
constexpr uint64_t kNeverHost = uint64_t(std::numeric_limits<int64_t>::max());

uint64_t hostFor(const PlayerData& player, const TempoMap& map, double beat) {
    const double seconds = (map.secondsForBeats(beat) - player.anchorSeconds) / player.rate;
    const double host = double(player.anchorHost) + seconds * 1e9;
    if (host <= 0) return 0;
    return host < double(kNeverHost) ? uint64_t(host) : kNeverHost;
}

double beatNow(const PlayerData& player, const TempoMap& map) {
    const double elapsed = double(int64_t(mach_absolute_time() - player.anchorHost)) * 1e-9 * player.rate;
    return map.beatsForSeconds(player.anchorSeconds + elapsed);
}

void flushNoteOffs(PlayerData& player, Lock& lock) {
    auto offs = std::move(player.noteOffs);
    player.noteOffs.clear();
    const MIDIPortRef port = player.port;
    lock.unlock();
    const uint64_t now = mach_absolute_time();
    for (const auto& off : offs) send(port, off, now);
    lock.lock();
}

void run(std::shared_ptr<PlayerData> player, uint64_t generation) {
    Lock lock(sequenceLock());
    std::vector<Message> due;
    while (player->playing && player->generation == generation) {
        SequenceData* sequence = findSequence(reinterpret_cast<MusicSequence>(player->sequence));
        if (!sequence) break;
        const TempoMap map = TempoMap::of(*sequence);
        bool anySolo = false;
        for (const auto& track : sequence->tracks) anySolo = anySolo || track->solo;

        // The earliest of the next events, the pending note-offs and the end.
        double next = INFINITY, end = 0;
        for (const auto& track : sequence->tracks) {
            const LoopRegion loop = trackLoop(*track);
            const double trackEnd = scheduleEnd(loop, track->length());
            if (std::isfinite(trackEnd)) end = std::max(end, trackEnd);
            if (!audible(*track, anySolo)) continue;
            if (auto o = nextOccurrence(track->events, loop, player->cursor, player->inclusive))
                next = std::min(next, o->beat);
        }
        for (const auto& off : player->noteOffs) next = std::min(next, off.beat);
        const bool finished = next == INFINITY;
        const double target = finished ? std::max(end, player->cursor) : next;
        const uint64_t targetHost = hostFor(*player, map, target);
        if (mach_absolute_time() < targetHost) {
            player->wake.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(targetHost)));
            continue;  // whatever changed meanwhile, look again
        }
        if (finished) {
            player->time = target;
            player->playing = false;
            break;
        }

        due.clear();
        auto offEnd = std::stable_partition(player->noteOffs.begin(), player->noteOffs.end(),
                                            [&](const Message& m) { return m.beat > next; });
        due.insert(due.end(), std::make_move_iterator(offEnd), std::make_move_iterator(player->noteOffs.end()));
        player->noteOffs.erase(offEnd, player->noteOffs.end());
        for (const auto& track : sequence->tracks) {
            if (!audible(*track, anySolo)) continue;
            auto o = nextOccurrence(track->events, trackLoop(*track), player->cursor, player->inclusive);
            if (!o || o->beat > next) continue;
            const double eventTime = track->events[o->index].time;
            for (size_t i = o->index; i < track->events.size() && track->events[i].time == eventTime; ++i)
                messagesOf(*track, i, next, due, player->noteOffs);
        }
        player->cursor = next;
        player->inclusive = false;
        ensurePort(*player);
        const MIDIPortRef port = player->port;
        lock.unlock();
        for (const auto& message : due) send(port, message, targetHost);
        lock.lock();
    }
    if (player->generation == generation && !player->playing) flushNoteOffs(*player, lock);
}

void startThread(const std::shared_ptr<PlayerData>& player, Lock& lock) {
    if (player->thread.joinable()) {
        // A thread that ended on its own (the sequence played out) is joined before the next.
        std::thread old = std::move(player->thread);
        lock.unlock();
        old.join();
        lock.lock();
    }
    player->thread = std::thread(run, player, player->generation);
}

void stopThread(const std::shared_ptr<PlayerData>& player, Lock& lock) {
    ++player->generation;
    player->wake.notify_all();
    if (player->thread.joinable()) {
        std::thread thread = std::move(player->thread);
        lock.unlock();
        thread.join();
        lock.lock();
    }
}

// Re-anchors a playing player at `beat` (time changes and rate changes).
void anchor(PlayerData& player, const TempoMap& map, double beat) {
    player.anchorHost = mach_absolute_time();
    player.anchorSeconds = map.secondsForBeats(beat);
}

TempoMap mapOf(const PlayerData& player) {
    SequenceData* sequence = findSequence(reinterpret_cast<MusicSequence>(player.sequence));
    return sequence ? TempoMap::of(*sequence) : TempoMap{{{0, 120, 0}}};
}

}  // namespace

OSStatus NewMusicPlayer(MusicPlayer* outPlayer) {
    if (!outPlayer) return kAudio_ParamError;
    Lock lock(sequenceLock());
    const uintptr_t handle = newHandle();
    players()[handle] = std::make_shared<PlayerData>();
    *outPlayer = reinterpret_cast<MusicPlayer>(handle);
    return 0;
}

OSStatus DisposeMusicPlayer(MusicPlayer player) {
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    players().erase(reinterpret_cast<uintptr_t>(player));
    data->playing = false;
    stopThread(data, lock);
    flushNoteOffs(*data, lock);
    if (data->port) MIDIPortDispose(data->port);
    if (data->client) MIDIClientDispose(data->client);
    return 0;
}

OSStatus MusicPlayerSetSequence(MusicPlayer player, MusicSequence sequence) {
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    if (sequence && !findSequence(sequence)) return kAudioToolboxErr_NoSequence;
    if (data->playing) {
        data->playing = false;
        stopThread(data, lock);
        flushNoteOffs(*data, lock);
    }
    data->sequence = reinterpret_cast<uintptr_t>(sequence);
    return 0;
}

OSStatus MusicPlayerGetSequence(MusicPlayer player, MusicSequence* outSequence) {
    if (!outSequence) return kAudio_ParamError;
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    if (!data->sequence) return kAudioToolboxErr_NoSequence;
    *outSequence = reinterpret_cast<MusicSequence>(data->sequence);
    return 0;
}

OSStatus MusicPlayerPreroll(MusicPlayer player) {
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    if (!findSequence(reinterpret_cast<MusicSequence>(data->sequence))) return kAudioToolboxErr_NoSequence;
    return 0;
}

OSStatus MusicPlayerStart(MusicPlayer player) {
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    if (!findSequence(reinterpret_cast<MusicSequence>(data->sequence))) return kAudioToolboxErr_NoSequence;
    if (data->playing) return 0;
    prepareDefaultSynth(*findSequence(reinterpret_cast<MusicSequence>(data->sequence)));
    ensurePort(*data);
    anchor(*data, mapOf(*data), data->time);
    data->cursor = data->time;
    data->inclusive = true;
    data->playing = true;
    ++data->generation;
    startThread(data, lock);
    return 0;
}

OSStatus MusicPlayerStop(MusicPlayer player) {
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    if (data->playing) {
        data->time = std::max(0.0, beatNow(*data, mapOf(*data)));
        data->playing = false;
    }
    stopThread(data, lock);
    flushNoteOffs(*data, lock);
    return 0;
}

OSStatus MusicPlayerIsPlaying(MusicPlayer player, bool* outIsPlaying) {
    if (!outIsPlaying) return kAudio_ParamError;
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    *outIsPlaying = data->playing;
    return 0;
}

OSStatus MusicPlayerSetTime(MusicPlayer player, MusicTimeStamp time) {
    if (!std::isfinite(time)) return kAudio_ParamError;
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    data->time = time;
    if (data->playing) {
        flushNoteOffs(*data, lock);
        anchor(*data, mapOf(*data), time);
        data->cursor = time;
        data->inclusive = true;
        data->wake.notify_all();
    }
    return 0;
}

OSStatus MusicPlayerGetTime(MusicPlayer player, MusicTimeStamp* outTime) {
    if (!outTime) return kAudio_ParamError;
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    *outTime = data->playing ? beatNow(*data, mapOf(*data)) : data->time;
    return 0;
}

OSStatus MusicPlayerSetPlayRateScalar(MusicPlayer player, double scaleRate) {
    if (!(scaleRate > 0) || !std::isfinite(scaleRate)) return kAudio_ParamError;
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    if (data->playing) {
        const TempoMap map = mapOf(*data);
        const double beat = beatNow(*data, map);
        data->rate = scaleRate;
        anchor(*data, map, beat);
        data->wake.notify_all();
    } else {
        data->rate = scaleRate;
    }
    return 0;
}

OSStatus MusicPlayerGetPlayRateScalar(MusicPlayer player, double* outScaleRate) {
    if (!outScaleRate) return kAudio_ParamError;
    Lock lock(sequenceLock());
    auto data = findPlayer(player);
    if (!data) return kAudioToolboxErr_InvalidPlayerState;
    *outScaleRate = data->rate;
    return 0;
}

void MusicPlayerSetDefaultSynth(MusicPlayerDefaultSynth synth) {
    Lock lock(sequenceLock());
    defaultSynth() = std::move(synth);
}

}  // namespace platform
