#include "SonoraEX/Sequencing/SequencerTrack.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioNode.h"


namespace sonora {

namespace {

std::shared_ptr<platform::AUAudioUnit> unitOf(const std::shared_ptr<Node>& node) {
    if (!node) return nullptr;
    const auto avNode = node->avAudioNode();
    return avNode ? avNode->auAudioUnit() : nullptr;
}

}  // namespace

SequencerTrack::SequencerTrack(std::shared_ptr<Node> targetNode)
    : targetNode_(std::move(targetNode)), engine_(akSequencerEngineCreate()) {}

SequencerTrack::~SequencerTrack() {
    if (renderObserverToken_)
        if (const auto unit = observedUnit_.lock()) unit->removeRenderObserver(*renderObserverToken_);
    akSequencerEngineRelease(engine_);
}

void SequencerTrack::setLength(double beats) {
    length_ = beats;
    updateSequence();
}

void SequencerTrack::setTempo(double bpm) {
    tempo_ = bpm;
    akSequencerEngineSetTempo(engine_, bpm);
}

void SequencerTrack::setMaximumPlayCount(double count) {
    maximumPlayCount_ = count;
    updateSequence();
}

void SequencerTrack::setLoopEnabled(bool enabled) {
    loopEnabled_ = enabled;
    updateSequence();
}

bool SequencerTrack::isPlaying() const { return akSequencerEngineIsPlaying(engine_); }

double SequencerTrack::currentBeat() const { return akSequencerEngineGetPosition(engine_); }

void SequencerTrack::play() { akSequencerEngineSetPlaying(engine_, true); }

void SequencerTrack::playFromBeginning() {
    akSequencerEngineSeekTo(engine_, 0);
    akSequencerEngineSetPlaying(engine_, true);
}

void SequencerTrack::play(double afterBeats) {
    akSequencerEngineSeekTo(engine_, -afterBeats);
    akSequencerEngineSetPlaying(engine_, true);
}

void SequencerTrack::stop() {
    akSequencerEngineSetPlaying(engine_, false);
    akSequencerEngineStopPlayingNotes(engine_);
}

void SequencerTrack::rewind() { akSequencerEngineSeekTo(engine_, 0); }

void SequencerTrack::seek(double toBeat) { akSequencerEngineSeekTo(engine_, toBeat); }

void SequencerTrack::setSequence(NoteEventSequence sequence) {
    sequence_ = std::move(sequence);
    updateSequence();
}

void SequencerTrack::clear() {
    sequence_ = NoteEventSequence{};
    updateSequence();
}

void SequencerTrack::silenceNotes() { akSequencerEngineStopPlayingNotes(engine_); }

void SequencerTrack::updateSequence() {
    const auto unit = unitOf(targetNode_);
    platform::AUScheduleMIDIEventBlock block = unit ? unit->scheduleMIDIEventBlock() : nullptr;
    if (!block) {
        Log({"Failed to get AUScheduleMIDIEventBlock"});
        return;
    }
    const SequenceSettings settings{saturatedInt32(maximumPlayCount_), length_, tempo_, loopEnabled_};
    const std::vector<SequenceEvent> events = sequence_.orderedEvents();
    auto observer =
        akSequencerEngineUpdateSequence(engine_, events.data(), events.size(), std::move(block), settings, Settings::sampleRate());
    if (!observer) return;
    renderObserver_ = std::move(observer);
    if (!renderObserverToken_) {
        renderObserverToken_ = unit->tokenByAddingRenderObserver(renderObserver_);
        observedUnit_ = unit;
    }
}

}  // namespace sonora
