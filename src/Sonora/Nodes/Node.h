// Every audio node of the audio layer wraps exactly one platform node and lists the nodes that feed
// it. The graph is described by these lists; makeAVConnections() builds the platform graph from
// them (attach and connect, upstream from a node), and detach()/disconnect() undo it.
#pragma once

#include "Sonora/MIDI/MIDIEvent.h"
#include "Sonora/Nodes/Parameter.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {
class AVAudioNode;
}

namespace sonora {

class Node {
public:
    virtual ~Node() = default;

    // The node's inputs, in input order; the output of each feeds this node.
    virtual std::vector<std::shared_ptr<Node>> connections() const = 0;
    // The platform node that stands for this node in the engine's graph.
    virtual std::shared_ptr<platform::AVAudioNode> avAudioNode() const = 0;

    // Attaches every node upstream of this one to this node's platform engine and connects it in
    // Settings::audioFormat(); nothing when this node is in no engine.
    void makeAVConnections();
    // Detaches this node's platform node, then every node of connections().
    void detach();
    // Disconnects this node's inputs in its engine, then those of every node of connections().
    void disconnect();
    // Reads lastRenderTime of this node and of every node upstream.
    void touchLastRenderTime();

    // Resets the wrapped audio unit (platform nodes that are no audio unit: nothing).
    void reset();
    // The wrapped audio unit stops bypassing; play() is start().
    void start();
    void play() { start(); }
    // The wrapped audio unit bypasses; bypass() is stop().
    void stop();
    void bypass() { stop(); }
    bool bypassed() const;
    void setBypassed(bool bypassed);
    // Not bypassed (a Mixer answers by its volume instead).
    virtual bool isStarted() const;

    // Hands the event's bytes to the audio unit's MIDI block, `offset` frames into the next cycle;
    // nothing for units without MIDI.
    void scheduleMIDIEvent(const MIDIEvent& event, uint64_t offset = 0);

    // The parameters the node declares through its Parameter members, in declaration order.
    std::vector<std::shared_ptr<NodeParameter>> parameters() const;
    // Builds the audio unit's parameter tree from those declarations and binds each parameter.
    void setupParameterTree();

    // One line per node of the sub-graph: "Sonora | " + one blank per level + "↳" + type name,
    // with the name in ("…") for named nodes; no final line break.
    std::string connectionTreeDescription() const;

    // The concrete type's name as printed in the tree ("Mixer").
    virtual std::string typeName() const;

protected:
    // The node class's own Parameter members, in declaration order (C++ has no reflection).
    virtual std::vector<const ParameterBase*> parameterProperties() const { return {}; }
};

// A node with a name.
class NamedNode : public virtual Node {
public:
    virtual std::string name() const = 0;
    virtual void setName(std::string name) = 0;
};

// A composite node whose platform node is fed by platform nodes of its own (not in connections()).
class HasInternalConnections {
public:
    virtual ~HasInternalConnections() = default;
    virtual void makeInternalConnections() = 0;
};

}  // namespace sonora
