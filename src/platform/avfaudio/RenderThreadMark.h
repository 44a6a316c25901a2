// Marks the thread that renders the graph for the length of each cycle's render, so tools and
// tests can tell what the render path does: while the mark is set the thread is the render thread,
// and the node being rendered is known. Each side costs a thread-local store or two.
//
//   { platform::RenderThreadScope mark; plan->render(...); }   // the engine, around one cycle
//   if (platform::isRenderThread()) ...                          // a checking tool
#pragma once

namespace platform {

class AVAudioNode;

namespace detail {
struct RenderThreadState {
    bool rendering = false;
    const AVAudioNode* node = nullptr;  // the node whose render runs now (null between nodes)
};
// No dynamic initialiser, so reading it never runs code: safe inside an allocator hook.
extern constinit thread_local RenderThreadState renderThreadState;
}  // namespace detail

// True while this thread renders a cycle of an engine's graph.
inline bool isRenderThread() { return detail::renderThreadState.rendering; }
// The node whose render runs on this thread now (null outside a node's render).
inline const AVAudioNode* renderingNode() { return detail::renderThreadState.node; }

// Sets the mark for its scope (nesting keeps the outer mark).
class RenderThreadScope {
public:
    RenderThreadScope() : outer_(detail::renderThreadState.rendering) { detail::renderThreadState.rendering = true; }
    ~RenderThreadScope() { detail::renderThreadState.rendering = outer_; }
    RenderThreadScope(const RenderThreadScope&) = delete;
    RenderThreadScope& operator=(const RenderThreadScope&) = delete;

private:
    bool outer_;
};

// Names the node being rendered for its scope.
class RenderingNodeScope {
public:
    explicit RenderingNodeScope(const AVAudioNode* node) : outer_(detail::renderThreadState.node) {
        detail::renderThreadState.node = node;
    }
    ~RenderingNodeScope() { detail::renderThreadState.node = outer_; }
    RenderingNodeScope(const RenderingNodeScope&) = delete;
    RenderingNodeScope& operator=(const RenderingNodeScope&) = delete;

private:
    const AVAudioNode* outer_;
};

// Denormal floats are flushed to zero (FTZ/DAZ on x86-64, FZ on aarch64) for the scope's length
// and the thread's own setting comes back afterwards: a decaying feedback path then costs what
// silence costs. On by default; turning it off is for measuring what it saves.
class FlushDenormalsScope {
public:
    FlushDenormalsScope();
    ~FlushDenormalsScope();
    FlushDenormalsScope(const FlushDenormalsScope&) = delete;
    FlushDenormalsScope& operator=(const FlushDenormalsScope&) = delete;

    // Whether render scopes flush denormals from now on (any thread).
    static void setEnabled(bool enabled);
    static bool isEnabled();

private:
    unsigned long long saved_ = 0;
    bool changed_ = false;
};

}  // namespace platform
