// Plays a MIDI file through the platform sequencer of an engine, with looping over all tracks, a
// tempo for durations, positions as Duration values and routing of every track to one audio unit
// or one MIDI endpoint.
#pragma once

#include "Sonora/Sequencing/Duration.h"
#include "platform/avfaudio/AVAudioSequencer.h"

#include <memory>
#include <string>
#include <vector>

namespace sonora {

class MIDIPlayer : public platform::AVAudioSequencer {
public:
    // init(audioEngine:fileName:): loads the bundle resource "<fileName>.mid" when there is one.
    MIDIPlayer(std::shared_ptr<platform::AVAudioEngine> audioEngine, const std::string& fileName);

    // Used only for the tempo of `length`; playback speed does not change.
    virtual double tempo() const { return tempo_; }
    virtual void setTempo(double tempo) { tempo_ = tempo; }
    virtual bool loopEnabled() const { return loopEnabled_; }
    virtual void setLoopEnabled(bool enabled) { loopEnabled_ = enabled; }

    // sequence(from:): loads the sequence from MIDI file bytes.
    virtual void sequence(const std::vector<uint8_t>& from);
    virtual void toggleLooping();
    virtual void loopWholeSequence();
    virtual void loop(double lengthInBeats);
    virtual void stopLooping();
    virtual Duration length() const;
    virtual void setLength(const Duration& length);
    virtual void play();
    virtual void routeTracks(std::shared_ptr<platform::AVAudioUnit> toAudioUnit);
    virtual Duration position() const;
    // NaN when the length is 0.
    virtual Duration positionInLoop() const;
    virtual void loadMIDIFile(const std::string& name);
    virtual void routeTracks(platform::MIDIEndpointRef toMIDIEndpoint);

private:
    void loopTracks(double lengthInBeats);

    double tempo_ = 120.0;
    bool loopEnabled_ = false;
};

}  // namespace sonora
