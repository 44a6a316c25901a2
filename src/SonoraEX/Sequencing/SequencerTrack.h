// Plays one NoteEventSequence into one target node through its own sequencer engine, whose render
// observer sits on the target's audio unit. Property setters republish the sequence; transport
// calls queue commands. One user thread at a time.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "SonoraEX/Sequencing/NoteEventSequence.h"
#include "SonoraEX/Sequencing/SequencerEngine.h"

#include <memory>
#include <optional>

namespace platform {
class AUAudioUnit;
}

namespace sonora {

class SequencerTrack {
public:
    // Publishes nothing: the track stays silent until a setter, clear() or updateSequence() runs.
    explicit SequencerTrack(std::shared_ptr<Node> targetNode = nullptr);
    // Removes the observer (waiting for a running cycle), then silences the held notes.
    ~SequencerTrack();
    SequencerTrack(const SequencerTrack&) = delete;
    SequencerTrack& operator=(const SequencerTrack&) = delete;

    // Plain storage: a new target takes MIDI from the next republishing call on.
    const std::shared_ptr<Node>& targetNode() const { return targetNode_; }
    void setTargetNode(std::shared_ptr<Node> node) { targetNode_ = std::move(node); }

    double length() const { return length_; }
    void setLength(double beats);
    // Queues a tempo change (the position in the loop stays); nothing is republished.
    double tempo() const { return tempo_; }
    void setTempo(double bpm);
    // Saturated to 32 bits when published; playback does not consult it.
    double maximumPlayCount() const { return maximumPlayCount_; }
    void setMaximumPlayCount(double count);
    bool loopEnabled() const { return loopEnabled_; }
    void setLoopEnabled(bool enabled);

    bool isPlaying() const;
    // Beats inside the loop, as of the last render cycle.
    double currentBeat() const;

    void play();
    void playFromBeginning();
    // Starts with the play head `beats` before the start.
    void play(double afterBeats);
    // Stops and silences held notes at the next cycle.
    void stop();
    // Back to beat 0, playing or not.
    void rewind();
    void seek(double toBeat);

    const NoteEventSequence& sequence() const { return sequence_; }
    void setSequence(NoteEventSequence sequence);
    void clear();
    void silenceNotes();

    const platform::AURenderObserver& renderObserver() const { return renderObserver_; }
    void setRenderObserver(platform::AURenderObserver observer) { renderObserver_ = std::move(observer); }

    // Publishes the ordered events with the current settings to the engine, and installs the
    // engine's observer on the target's unit the first time. Logs and publishes nothing without a
    // target that takes MIDI.
    void updateSequence();

private:
    std::shared_ptr<Node> targetNode_;
    double length_ = 4.0;
    double tempo_ = 120.0;
    double maximumPlayCount_ = 1.0;
    bool loopEnabled_ = true;
    SequencerEngineRef engine_;
    NoteEventSequence sequence_;
    std::optional<platform::NSInteger> renderObserverToken_;
    platform::AURenderObserver renderObserver_;
    // The unit the observer was installed on (the target may change afterwards).
    std::weak_ptr<platform::AUAudioUnit> observedUnit_;
};

}  // namespace sonora
