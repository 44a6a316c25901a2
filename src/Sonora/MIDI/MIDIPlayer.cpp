#include "Sonora/MIDI/MIDIPlayer.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/foundation/Bundle.h"

#include <cmath>

namespace sonora {

using namespace platform;

MIDIPlayer::MIDIPlayer(std::shared_ptr<AVAudioEngine> audioEngine, const std::string& fileName)
    : AVAudioSequencer(std::move(audioEngine)) {
    loadMIDIFile(fileName);
}

void MIDIPlayer::sequence(const std::vector<uint8_t>& from) {
    try {
        load(from);
    } catch (const NSErrorException& e) {
        Log({"cannot load from data " + e.error().description()});
    }
}

void MIDIPlayer::loopTracks(double lengthInBeats) {
    for (const auto& track : tracks()) {
        track->setLoopingEnabled(true);
        track->setLoopRange(AVBeatRange{0, lengthInBeats});
    }
    loopEnabled_ = true;
}

void MIDIPlayer::toggleLooping() {
    if (loopEnabled_)
        stopLooping();
    else
        loopTracks(length().beats);
}

void MIDIPlayer::loopWholeSequence() { loopTracks(length().beats); }

void MIDIPlayer::loop(double lengthInBeats) { loopTracks(lengthInBeats); }

void MIDIPlayer::stopLooping() {
    for (const auto& track : tracks()) track->setLoopingEnabled(false);
    loopEnabled_ = false;
}

Duration MIDIPlayer::length() const {
    double beats = 0;
    for (const auto& track : tracks()) beats = std::max(beats, track->lengthInBeats());
    return Duration(beats, tempo_);
}

void MIDIPlayer::setLength(const Duration& length) {
    for (const auto& track : tracks()) {
        track->setLengthInBeats(length.beats);
        track->setLoopRange(AVBeatRange{0, length.beats});
    }
}

void MIDIPlayer::play() {
    try {
        start();
    } catch (const NSErrorException&) {
        Log({"Could not start the sequencer"});
    }
}

void MIDIPlayer::routeTracks(std::shared_ptr<AVAudioUnit> toAudioUnit) {
    for (const auto& track : tracks()) track->setDestinationAudioUnit(toAudioUnit);
}

void MIDIPlayer::routeTracks(MIDIEndpointRef toMIDIEndpoint) {
    for (const auto& track : tracks()) track->setDestinationMIDIEndpoint(toMIDIEndpoint);
}

Duration MIDIPlayer::position() const { return Duration(currentPositionInBeats(), 60); }

Duration MIDIPlayer::positionInLoop() const {
    return Duration(std::fmod(currentPositionInBeats(), length().beats), 60);
}

void MIDIPlayer::loadMIDIFile(const std::string& name) {
    const auto url = Bundle::main().urlForResource(name, "mid");
    if (!url) return;
    try {
        load(url->path());
    } catch (const NSErrorException&) {
        Log({"failed to load MIDI into sequencer"});
    }
}

}  // namespace sonora
