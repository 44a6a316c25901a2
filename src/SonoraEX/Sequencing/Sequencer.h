// A multi-track MIDI sequencer: one SequencerTrack per target node, driven together. Transport
// calls and shared settings go to every track; a Standard MIDI File loads track by track.
// One user thread at a time.
#pragma once

#include "Sonora/MIDI/MIDIFile/MIDIFile.h"
#include "SonoraEX/Sequencing/SequencerTrack.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace sonora {

class Sequencer {
public:
    // One track per node, in order; none given logs that tracks must be added with addTrack.
    explicit Sequencer(std::optional<std::vector<std::shared_ptr<Node>>> targetNodes = std::vector<std::shared_ptr<Node>>{});
    explicit Sequencer(std::shared_ptr<Node> targetNode);
    Sequencer(const std::filesystem::path& midiFileURL, std::optional<std::vector<std::shared_ptr<Node>>> targetNodes);

    std::vector<std::shared_ptr<SequencerTrack>> tracks;

    // The first track's tempo (0 without tracks); setting queues a tempo change on every track.
    double tempo() const;
    void setTempo(double bpm);
    // The shortest track length (0 without tracks); setting republishes every track.
    double length() const;
    void setLength(double beats);
    bool loopEnabled() const;
    void setLoopEnabled(bool enabled);
    bool isPlaying() const;

    void play();
    void playFromBeginning();
    void play(double afterBeats);
    void stop();
    void rewind();
    void load(const std::filesystem::path& midiFileURL);
    // Copies each file track's channel messages of three bytes into the track with the same
    // index, sets each track's length to its file track's, then all to the shortest.
    void load(const MIDIFile& midiFile);
    // The channel is not used: the note goes out on channel 1.
    void add(uint8_t noteNumber, uint8_t velocity, uint8_t channel, double position, double duration, int trackIndex);
    void add(const MIDIEvent& event, double position, int trackIndex);
    void clear();
    void seek(double toBeat);
    void stopAndSilence();
    // The first track that targets that very node.
    std::shared_ptr<SequencerTrack> track(const std::shared_ptr<Node>& node) const;
    std::shared_ptr<SequencerTrack> addTrack(std::shared_ptr<Node> node);

private:
    bool validTrackIndex(int trackIndex) const;
};

}  // namespace sonora
