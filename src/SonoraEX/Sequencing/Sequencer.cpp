#include "SonoraEX/Sequencing/Sequencer.h"

#include "Sonora/Internals/Utilities/Log.h"

#include <algorithm>

namespace sonora {

Sequencer::Sequencer(std::optional<std::vector<std::shared_ptr<Node>>> targetNodes) {
    if (!targetNodes) {
        Log({"no nodes connected to sequencer at init - be sure to connect some via addTrack"});
        return;
    }
    for (auto& node : *targetNodes) tracks.push_back(std::make_shared<SequencerTrack>(node));
}

Sequencer::Sequencer(std::shared_ptr<Node> targetNode)
    : Sequencer(std::vector<std::shared_ptr<Node>>{std::move(targetNode)}) {}

Sequencer::Sequencer(const std::filesystem::path& midiFileURL, std::optional<std::vector<std::shared_ptr<Node>>> targetNodes)
    : Sequencer(std::move(targetNodes)) {
    load(midiFileURL);
}

double Sequencer::tempo() const { return tracks.empty() ? 0 : tracks.front()->tempo(); }

void Sequencer::setTempo(double bpm) {
    for (auto& track : tracks) track->setTempo(bpm);
}

double Sequencer::length() const {
    if (tracks.empty()) return 0;
    const auto shortest = std::min_element(tracks.begin(), tracks.end(),
                                           [](const auto& a, const auto& b) { return a->length() < b->length(); });
    return (*shortest)->length();
}

void Sequencer::setLength(double beats) {
    for (auto& track : tracks) track->setLength(beats);
}

bool Sequencer::loopEnabled() const { return !tracks.empty() && tracks.front()->loopEnabled(); }

void Sequencer::setLoopEnabled(bool enabled) {
    for (auto& track : tracks) track->setLoopEnabled(enabled);
}

bool Sequencer::isPlaying() const { return !tracks.empty() && tracks.front()->isPlaying(); }

void Sequencer::play() {
    for (auto& track : tracks) track->play();
}

void Sequencer::playFromBeginning() {
    for (auto& track : tracks) track->playFromBeginning();
}

void Sequencer::play(double afterBeats) {
    for (auto& track : tracks) track->play(afterBeats);
}

void Sequencer::stop() {
    for (auto& track : tracks) track->stop();
}

void Sequencer::rewind() {
    for (auto& track : tracks) track->rewind();
}

void Sequencer::load(const std::filesystem::path& midiFileURL) { load(MIDIFile(midiFileURL)); }

void Sequencer::load(const MIDIFile& midiFile) {
    const std::vector<MIDIFileTrack> fileTracks = midiFile.tracks();
    const size_t F = fileTracks.size();
    const size_t T = tracks.size();
    if (T < F)
        Log({"Error: Track count and file track count do not match ", "dropped " + std::to_string(F - T) + " tracks"});
    if (F < T) Log({"Error: Track count less than file track count, ignoring " + std::to_string(T - F) + " nodes"});
    for (size_t i = 0; i < std::min(F, T); ++i) {
        SequencerTrack& track = *tracks[i];
        track.setSequence(NoteEventSequence{});
        NoteEventSequence sequence;
        for (const MIDIEvent& event : fileTracks[i].events())
            if (event.positionInBeats) sequence.addEvent(event, *event.positionInBeats);
        track.setSequence(std::move(sequence));
        track.setLength(fileTracks[i].length());
    }
    if (!tracks.empty()) setLength(length());
}

bool Sequencer::validTrackIndex(int trackIndex) const {
    if (trackIndex >= 0 && size_t(trackIndex) < tracks.size()) return true;
    Log({"Track index " + std::to_string(trackIndex) + " out of range (sequencer has " + std::to_string(tracks.size()) +
         " tracks)"});
    return false;
}

void Sequencer::add(uint8_t noteNumber, uint8_t velocity, uint8_t /*channel*/, double position, double duration,
                    int trackIndex) {
    if (!validTrackIndex(trackIndex)) return;
    NoteEventSequence sequence = tracks[size_t(trackIndex)]->sequence();
    sequence.addNote(noteNumber, velocity, position, duration);
    tracks[size_t(trackIndex)]->setSequence(std::move(sequence));
}

void Sequencer::add(const MIDIEvent& event, double position, int trackIndex) {
    if (!validTrackIndex(trackIndex)) return;
    NoteEventSequence sequence = tracks[size_t(trackIndex)]->sequence();
    sequence.addEvent(event, position);
    tracks[size_t(trackIndex)]->setSequence(std::move(sequence));
}

void Sequencer::clear() {
    for (auto& track : tracks) track->clear();
}

void Sequencer::seek(double toBeat) {
    for (auto& track : tracks) track->seek(toBeat);
}

void Sequencer::stopAndSilence() {
    for (auto& track : tracks) track->stop();
}

std::shared_ptr<SequencerTrack> Sequencer::track(const std::shared_ptr<Node>& node) const {
    for (const auto& track : tracks)
        if (track->targetNode() == node) return track;
    return nullptr;
}

std::shared_ptr<SequencerTrack> Sequencer::addTrack(std::shared_ptr<Node> node) {
    tracks.push_back(std::make_shared<SequencerTrack>(std::move(node)));
    return tracks.back();
}

}  // namespace sonora
