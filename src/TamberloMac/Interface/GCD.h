// Small dispatch helpers the editor's code uses to hop between the main queue and the global queue.
#pragma once

#include <functional>

namespace tamberlo {

using GCDBlock = std::function<void()>;

// Runs the block asynchronously on the main queue.
void GCDAsyncMain(GCDBlock block);
// Runs the block on the main queue after `seconds`.
void GCDAfterMain(GCDBlock block, double seconds);
// Runs the block asynchronously on the default-priority global queue.
void GCDAsyncGlobal(GCDBlock block);
// Runs the block on the global queue after `seconds`.
void GCDAfterGlobal(GCDBlock block, double seconds);
// On the global queue runs `first`, then queues `second` on the global queue.
void GCDAsyncGlobalThenGlobal(GCDBlock first, GCDBlock second);
// On the global queue runs `first`, then queues `second` on the main queue.
void GCDAsyncGlobalThenMain(GCDBlock first, GCDBlock second);

}  // namespace tamberlo
