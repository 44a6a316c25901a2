// An immutable picture of the graph for the render thread: the nodes that feed the output, in pull
// order, each with its preallocated output buffer and its input edges. Built and freed on the main
// thread; only the per-cycle caches change while it renders.
#pragma once

#include "platform/avfaudio/AVAudioNode.h"

#include <memory>
#include <vector>

namespace platform::detail {

// Watches each node's render (a benchmark's per-node costs); none is set in normal use.
class RenderProbe {
public:
    virtual ~RenderProbe() = default;
    virtual void willRender(const AVAudioNode& node) = 0;
    virtual void didRender(const AVAudioNode& node) = 0;
};
// Main thread, while nothing renders, or before the engine starts.
void setRenderProbe(RenderProbe* probe);

class RenderPlan {
public:
    struct Edge {
        int source = -1;                    // slot of the feeding node; -1: nothing connected
        const AVAudioMixing* mixing = nullptr;
        uint64_t cycle = 0;                 // render-thread caches
        uint32_t pulls = 0;
    };
    struct Slot {
        std::shared_ptr<AVAudioNode> node;
        std::vector<Edge> inputs;           // one per input bus
        AVAudioFormat format;               // output bus 0
        AURenderBlock renderBlock;          // the allocated unit's block (empty: the node renders itself)
        AVAudioFrameCount capacity = 0;
        bool ownClock = false;              // fed into a node that pulls at its own pace
        std::vector<float> storage;
        std::unique_ptr<unsigned char[]> listStorage;
        AudioBufferList* list = nullptr;
        uint64_t cycle = 0;
        uint32_t pulls = 0;
        AVAudioFrameCount frames = 0;
        OSStatus status = noErr;
    };

    // Adds the buffers once the slots are filled in.
    void allocate();

    // Renders one cycle into `output` (the output node's format). Returns the first failing status
    // of any node, noErr otherwise.
    OSStatus render(const RenderCycle& cycle, AudioBufferList& output);

    // The slot of a node, or -1.
    int slotOf(const AVAudioNode* node) const;

    std::vector<Slot> slots;  // pull order: every node after the nodes that feed it
    int output = -1;
    std::vector<int> extraRoots;  // tapped nodes that nothing pulls, rendered after the output

private:
    friend class SlotInputs;
    const AudioBufferList* pull(int slot, Edge& edge, AVAudioFrameCount frames, OSStatus& status);
    OSStatus renderSlot(int slot, AVAudioFrameCount frames, AudioBufferList& into);

    const RenderCycle* cycle_ = nullptr;
    OSStatus cycleStatus_ = noErr;
};

}  // namespace platform::detail
